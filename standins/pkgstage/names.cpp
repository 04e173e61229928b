#include "names.h"

namespace {

// A unit's value: a byte of 0x80 and above is no control character.
unsigned Code(NativeChar c) {
  return sizeof c == 1 ? static_cast<unsigned char>(c) : static_cast<unsigned>(c);
}

int IsDots(const NativeChar* name) {
  return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

}  // namespace

const NativeChar kLockName[] = NATIVE(".pkgstage.lock");
const NativeChar kTempName[] = NATIVE(".pkgstage.tmp");

int IsUsableUserName(const NativeChar* user) {
  if (user[0] == 0 || IsDots(user)) return 0;
  for (const NativeChar* c = user; *c != 0; ++c) {
    if (*c == '/' || *c == '\\' || *c == ':' || Code(*c) < 0x20 || Code(*c) == 0x7f) return 0;
  }
  // On Windows "Ann." would be a second folder beside "Ann" that Explorer
  // and cmd open as "Ann".
  return IsPlainName(user);
}

int StagedName(const NativeChar* path, NativeChar* staged) {
  const NativeChar* name = path;
  for (const NativeChar* c = path; *c != 0; ++c) {
    if (IsSeparator(*c)) name = c + 1;
  }
  size_t length = OpenedLength(name);
  if (length == 0 || length >= kPathRoom) return 0;
  for (size_t i = 0; i < length; ++i) staged[i] = name[i];
  staged[length] = 0;
  if (IsDots(staged) || !IsPlainName(staged)) return 0;
  // Windows compares names without regard to case, so the working files'
  // prefix is matched that way everywhere.
  const NativeChar prefix[] = NATIVE(".pkgstage.");
  for (size_t i = 0; prefix[i] != 0; ++i) {
    NativeChar c = staged[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<NativeChar>(c - 'A' + 'a');
    if (c != prefix[i]) return 1;
  }
  return 0;
}
