// What the stand-in does with a request; how it touches the disk is in the
// store-*.cpp files.
#include "pkgstage.h"

#include <string.h>

#include "store.h"

#if defined(_WIN32)
#define PKGSTAGE_EXPORT
#else
#define PKGSTAGE_EXPORT __attribute__((visibility("default")))
#endif

namespace {

FaultHook fault_hook = nullptr;

const char kReservedPrefix[] = ".pkgstage.";
const char kLockName[] = ".pkgstage.lock";
// The copy's names, in the order tried: a leftover that another program
// holds open (a scanner reading what an interrupted run left) cannot be
// removed, and must not stop the user's installs until it lets go.
const char* const kTempNames[] = {".pkgstage.tmp", ".pkgstage.tmp2", ".pkgstage.tmp3"};
const int kTempCount = sizeof kTempNames / sizeof kTempNames[0];

int IsUsableUserName(const char* user) {
  size_t length = strlen(user);
  if (length == 0 || length > 255) return 0;
  if (strcmp(user, ".") == 0 || strcmp(user, "..") == 0) return 0;
  for (const char* c = user; *c != '\0'; c = NextChar(c)) {
    unsigned char byte = static_cast<unsigned char>(*c);
    if (byte < 0x20 || byte == 0x7f) return 0;
    if (*c == '/' || *c == '\\' || *c == ':') return 0;
  }
  // A folder named as the platform cannot name it: on Windows "Ann." would
  // be a second folder beside "Ann" that Explorer and cmd open as "Ann".
  return IsPlainName(user);
}

// Writes into |staged| the name the file at |path| is staged under: its last
// component, as the platform opens it. Returns 0 when there is none that
// could be staged. Windows compares names without regard to case, so the
// reserved prefix is matched that way everywhere.
int StagedName(const char* path, char* staged) {
  const char* name = path;
  for (const char* c = path; *c != '\0'; c = NextChar(c)) {
    if (IsSeparator(*c)) name = c + 1;
  }
  size_t length = OpenedLength(name);
  if (length == 0 || length >= kPathRoom) return 0;
  memcpy(staged, name, length);
  staged[length] = '\0';
  if (strcmp(staged, ".") == 0 || strcmp(staged, "..") == 0 || !IsPlainName(staged)) return 0;
  for (size_t i = 0; kReservedPrefix[i] != '\0'; ++i) {
    char c = staged[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kReservedPrefix[i]) return 1;
  }
  return 0;
}

// Opens the store's folder, creating what is missing: the base and the
// folders above it by path, as the caller named them, and each folder below
// the base from the one above it.
FileHandle OpenStore() {
  char base[kPathRoom];
  const char* below = nullptr;
  if (!StoreBase(base, sizeof base, &below)) return kNoFile;
  FileHandle folder = OpenFolder(base);
  if (folder == kNoFile) {
    // Each parent in turn. One that exists already, or a prefix that names
    // no folder ("C:", "\\?"), is no failure: only the end counts.
    size_t length = strlen(base);
    for (size_t i = 1; i < length; i = static_cast<size_t>(NextChar(base + i) - base)) {
      if (!IsSeparator(base[i])) continue;
      char kept = base[i];
      base[i] = '\0';
      CreateFolder(base);
      base[i] = kept;
    }
    CreateFolder(base);
    folder = OpenFolder(base);
  }
  char name[kPathRoom];
  while (folder != kNoFile && *below != '\0') {
    size_t length = strcspn(below, "/\\");
    memcpy(name, below, length);
    name[length] = '\0';
    below += length + (below[length] != '\0' ? 1 : 0);
    FileHandle next = OpenFolderIn(folder, name);
    CloseFile(folder);
    folder = next;
  }
  return folder;
}

// Reads exactly |count| bytes into |buffer|; 0 when the file ends or fails
// first.
int ReadExactly(FileHandle file, char* buffer, long count) {
  long have = 0;
  while (have < count) {
    long more = ReadSome(file, buffer + have, static_cast<size_t>(count - have));
    if (more <= 0) return 0;
    have += more;
  }
  return 1;
}

// Sets |same| to 1 when the file |name| in |folder| holds exactly the bytes
// of |source|. A missing or unreadable target is simply not the same.
// Returns kInstalled, or kSourceUnreadable when the source fails mid-way.
int CompareWith(FileHandle source, FileHandle folder, const char* name, int* same) {
  *same = 0;
  FileHandle staged = OpenInFolder(folder, name);
  if (staged == kNoFile) return kInstalled;
  uint64_t source_size = 0;
  uint64_t staged_size = 0;
  int status = kInstalled;
  if (!FileSize(source, &source_size)) status = kSourceUnreadable;
  if (status == kInstalled && FileSize(staged, &staged_size) && source_size == staged_size) {
    char ours[8192];
    char theirs[8192];
    for (;;) {
      long got = ReadSome(source, ours, sizeof ours);
      if (got < 0) {
        status = kSourceUnreadable;
        break;
      }
      if (got == 0) {
        // Both must end here: the source may have changed since its size
        // was taken.
        *same = ReadSome(staged, theirs, 1) == 0 ? 1 : 0;
        break;
      }
      if (!ReadExactly(staged, theirs, got) ||
          memcmp(ours, theirs, static_cast<size_t>(got)) != 0) {
        break;
      }
    }
    if (status == kInstalled && !Rewind(source)) status = kSourceUnreadable;
  }
  CloseFile(staged);
  return status;
}

// Under the user's lock: leaves the staged file alone when it already holds
// the source's bytes, or stages a fresh copy over it.
int StageLocked(FileHandle source, FileHandle folder, const char* name) {
  // An alias of another entry (a short name, or the working files') is
  // refused before it is read or written.
  if (NamesAnother(folder, name)) return kBadFileName;
  int same = 0;
  int status = CompareWith(source, folder, name, &same);
  if (status != kInstalled) return status;
  if (same) return kAlreadyInstalled;
  FileHandle copy = kNoFile;
  int used = 0;
  status = CopyInto(source, folder, kTempNames[used], &copy);
  while (status == kNameTaken && ++used < kTempCount) {
    status = CopyInto(source, folder, kTempNames[used], &copy);
  }
  if (status == kNameTaken) return kStoreFailed;
  if (status != kInstalled) return status;
  const char* temp = kTempNames[used];
  // The new copy has a short name of its own, which |name| may now reach
  // if it reached nothing before.
  if (NamesAnother(folder, name)) {
    Discard(folder, copy, temp);
    return kBadFileName;
  }
  if (!ReplaceWith(folder, copy, temp, name)) return kStoreFailed;
  // Leftovers under the other names go once their holders have let go.
  for (int i = 0; i < kTempCount; ++i) {
    if (i != used) RemoveFile(folder, kTempNames[i]);
  }
  return kInstalled;
}

}  // namespace

void SetFaultHook(FaultHook hook) {
  fault_hook = hook;
}

Fault FaultFor(const char* call) {
  return fault_hook == nullptr ? kNoFault : fault_hook(call);
}

extern "C" PKGSTAGE_EXPORT int PKGSTAGE_CALL PkgStageInstall(const char* user, const char* path) {
  if (user == nullptr || !IsUsableUserName(user)) return kBadUserName;
  char name[kPathRoom];
  if (path == nullptr || !StagedName(path, name)) return kBadFileName;

  // The source is opened before anything is created, so a request that
  // cannot be served leaves the store as it was.
  FileHandle source = OpenForRead(path);
  if (source == kNoFile) return kSourceUnreadable;

  int status = kStoreFailed;
  FileHandle store = OpenStore();
  FileHandle folder = kNoFile;
  if (store != kNoFile && NamesAnother(store, user)) {
    // Another user's folder, through its short name.
    status = kBadUserName;
  } else if (store != kNoFile) {
    folder = OpenFolderIn(store, user);
  }
  CloseFile(store);
  if (folder != kNoFile) {
    FileHandle lock = TakeLock(folder, kLockName);
    if (lock != kNoFile) {
      status = StageLocked(source, folder, name);
      CloseFile(lock);
    }
    CloseFile(folder);
  }
  CloseFile(source);
  return status;
}
