// What the stand-in does with a request (files.h touches the disk).
#include "pkgstage.h"

#include <string.h>

#include "files.h"

#if defined(_WIN32)
#define PKGSTAGE_EXPORT
#else
#define PKGSTAGE_EXPORT __attribute__((visibility("default")))
#endif

namespace {

// Writes |parent|, a separator and |name| into |joined| (room for
// kPathRoom); 0 when they do not fit.
int Joined(const NativeChar* parent, const NativeChar* name, NativeChar* joined) {
  size_t head = 0;
  size_t tail = 0;
  while (parent[head] != 0) ++head;
  while (name[tail] != 0) ++tail;
  if (head + 1 + tail >= kPathRoom) return 0;
  memcpy(joined, parent, head * sizeof *joined);
  joined[head] = kSeparator;
  memcpy(joined + head + 1, name, (tail + 1) * sizeof *joined);
  return 1;
}

// Reads exactly |count| bytes into |buffer|; 0 when the file ends or fails
// first.
int ReadExactly(FileHandle file, char* buffer, long count) {
  long more = 1;
  for (long have = 0; have < count && more > 0; have += more) {
    more = ReadSome(file, buffer + have, static_cast<size_t>(count - have));
  }
  return more > 0;
}

// 1 when the file |path| holds exactly the bytes of |source|, 0 when not
// (or it is missing), -1 when the source fails; which is then back at its
// start. Both are read to their ends: either may change meanwhile.
int SameBytes(FileHandle source, const NativeChar* path) {
  FileHandle staged = OpenForReading(path);
  if (staged == kNoFile) return 0;
  uint64_t ours = 0;
  uint64_t theirs = 0;
  int same = FileSize(source, &ours) ? 0 : -1;
  if (same == 0 && FileSize(staged, &theirs) && ours == theirs) {
    char a[8192];
    char b[8192];
    long got = 0;
    while ((got = ReadSome(source, a, sizeof a)) > 0 && ReadExactly(staged, b, got) &&
           memcmp(a, b, static_cast<size_t>(got)) == 0) {
    }
    if (got < 0 || !Rewind(source)) same = -1;
    if (got == 0 && same == 0) same = ReadSome(staged, b, 1) == 0 ? 1 : 0;
  }
  CloseFile(staged);
  return same;
}

// Copies |source|, from its start, into a new file |temp| and flushes it; a
// leftover there goes first, as a name. Nothing is left at |temp| on failure.
int CopyToTemp(FileHandle source, const NativeChar* temp) {
  RemoveName(temp);
  FileHandle copy = CreateNew(temp);
  if (copy == kNoFile) return kStoreFailed;
  int status = kInstalled;
  char buffer[65536];
  long got = 0;
  while (status == kInstalled && (got = ReadSome(source, buffer, sizeof buffer)) != 0) {
    if (got < 0) status = kSourceUnreadable;
    if (got > 0 && !WriteAll(copy, buffer, static_cast<size_t>(got))) status = kStoreFailed;
  }
  if (status == kInstalled && !Flush(copy)) status = kStoreFailed;
  CloseFile(copy);
  if (status != kInstalled) RemoveName(temp);
  return status;
}

// Under the user's lock: leaves the staged file alone when it already holds
// the source's bytes, or stages a fresh copy over it.
int StageLocked(FileHandle source, const NativeChar* folder, const NativeChar* temp,
                const NativeChar* staged) {
  // An alias of another entry is refused before it is read or written.
  if (NamesAnother(staged)) return kBadFileName;
  int same = SameBytes(source, staged);
  if (same < 0) return kSourceUnreadable;
  if (same) return kAlreadyInstalled;
  int status = CopyToTemp(source, temp);
  if (status != kInstalled) return status;
  // The new copy has a short name of its own, which |staged| may now reach.
  if (NamesAnother(staged)) {
    status = kBadFileName;
  } else if (!RenameOver(folder, temp, staged)) {
    status = kStoreFailed;
  }
  if (status != kInstalled) RemoveName(temp);
  return status;
}

// Makes the user's folder and those above it where missing, takes the
// user's lock and stages |source| as |name|.
int Stage(FileHandle source, const NativeChar* user, const NativeChar* name) {
  NativeChar store[kPathRoom];
  if (!StoreFolder(store)) return kStoreFailed;
  // Each parent in turn; only the end counts ("C:" and "\\?" are none).
  for (size_t i = 1; store[i] != 0; ++i) {
    if (!IsSeparator(store[i])) continue;
    NativeChar kept = store[i];
    store[i] = 0;
    MakeFolder(store);
    store[i] = kept;
  }
  MakeFolder(store);
  NativeChar folder[kPathRoom];
  if (!Joined(store, user, folder)) return kStoreFailed;
  // Another user's folder, through its short name.
  if (NamesAnother(folder)) return kBadUserName;
  MakeFolder(folder);
  NativeChar lock[kPathRoom];
  NativeChar temp[kPathRoom];
  NativeChar staged[kPathRoom];
  if (!Joined(folder, kLockName, lock) || !Joined(folder, kTempName, temp) ||
      !Joined(folder, name, staged)) {
    return kStoreFailed;
  }
  FileHandle held = TakeLock(lock);
  if (held == kNoFile) return kStoreFailed;
  int status = StageLocked(source, folder, temp, staged);
  CloseFile(held);
  return status;
}

}  // namespace

extern "C" PKGSTAGE_EXPORT int PKGSTAGE_CALL PkgStageInstall(const char* user, const char* path) {
  // Each text is converted once, here; a user is at most 255 bytes as given.
  NativeChar user_name[256];
  if (user == nullptr || strlen(user) > 255 || !ToNative(user, user_name, 256) ||
      !IsUsableUserName(user_name)) {
    return kBadUserName;
  }
  if (path == nullptr) return kBadFileName;
  // Room for a path of a whole command line; the name is looked at before
  // the length, which no file system takes past kPathRoom.
  NativeChar source_path[32768];
  NativeChar name[kPathRoom];
  size_t length = ToNative(path, source_path, 32768);
  if (length > 0 && !StagedName(source_path, name)) return kBadFileName;
  if (length == 0 || length > kPathRoom) return kSourceUnreadable;

  // The source is opened first: a request that fails here changes nothing.
  FileHandle source = OpenForReading(source_path);
  if (source == kNoFile) return kSourceUnreadable;
  int status = Stage(source, user_name, name);
  CloseFile(source);
  return status;
}
