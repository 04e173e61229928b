// What the stand-in does with a request; how it touches the disk is in the
// store-*.cpp files.
#include "pkgstage.h"

#include <stdio.h>
#include <string.h>

#include "store.h"

#if defined(_WIN32)
#define PKGSTAGE_EXPORT
#else
#define PKGSTAGE_EXPORT __attribute__((visibility("default")))
#endif

namespace {

const char kReservedPrefix[] = ".pkgstage.";

int IsUsableUserName(const char* user) {
  size_t length = strlen(user);
  if (length == 0 || length > 255) return 0;
  if (strcmp(user, ".") == 0 || strcmp(user, "..") == 0) return 0;
  for (const char* c = user; *c != '\0'; c = NextChar(c)) {
    unsigned char byte = static_cast<unsigned char>(*c);
    if (byte < 0x20 || byte == 0x7f) return 0;
    if (*c == '/' || *c == '\\' || *c == ':') return 0;
  }
  return 1;
}

// Returns the last component of |path|, or nullptr when there is none that
// could be staged. Windows compares names without regard to case, so the
// reserved prefix is matched that way everywhere.
const char* StagedName(const char* path) {
  const char* name = path;
  for (const char* c = path; *c != '\0'; c = NextChar(c)) {
    if (IsSeparator(*c)) name = c + 1;
  }
  if (*name == '\0' || strcmp(name, ".") == 0 || strcmp(name, "..") == 0) return nullptr;
  size_t i = 0;
  while (kReservedPrefix[i] != '\0') {
    char c = name[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kReservedPrefix[i]) return name;
    ++i;
  }
  return nullptr;
}

// Creates |path| and any missing parents. Returns 1 when it is a folder
// afterwards.
int MakeFolders(const char* path) {
  // After the first install the store is there: one look instead of a try
  // at every parent.
  if (IsFolder(path, 1)) return 1;
  char partial[kPathRoom];
  size_t length = strlen(path);
  if (length == 0 || length >= sizeof partial) return 0;
  memcpy(partial, path, length + 1);
  // Each parent in turn. One that exists already, or a prefix that names no
  // folder ("C:", "\\?"), is no failure: only the end counts.
  for (size_t i = 1; i < length; i = static_cast<size_t>(NextChar(partial + i) - partial)) {
    if (!IsSeparator(partial[i])) continue;
    partial[i] = '\0';
    CreateFolder(partial);
    partial[i] = path[i];
  }
  CreateFolder(path);
  return IsFolder(path, 1);
}

// Creates the user's folder if missing. Returns 1 when it is a real folder,
// not a link that could lead out of the store.
int MakeOwnFolder(const char* path) {
  if (IsFolder(path, 0)) return 1;
  CreateFolder(path);
  return IsFolder(path, 0);
}

// Writes head + separator + tail into |joined|; 0 when it does not fit.
int JoinPath(char* joined, const char* head, const char* tail) {
  int written = snprintf(joined, kPathRoom, "%s%c%s", head, kSeparator, tail);
  return written > 0 && static_cast<size_t>(written) < kPathRoom;
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

// Sets |same| to 1 when the file at |target| holds exactly the bytes of
// |source|. A missing or unreadable target is simply not the same. Returns
// kInstalled, or kSourceUnreadable when the source fails mid-way.
int CompareWith(FileHandle source, const char* target, int* same) {
  *same = 0;
  FileHandle staged = OpenForRead(target);
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
int StageLocked(FileHandle source, const char* source_path, const char* folder, const char* name) {
  char target[kPathRoom];
  char temp[kPathRoom];
  if (!JoinPath(target, folder, name) || !JoinPath(temp, folder, ".pkgstage.tmp")) {
    return kStoreFailed;
  }
  int same = 0;
  int status = CompareWith(source, target, &same);
  if (status != kInstalled) return status;
  if (same) return kAlreadyInstalled;
  status = CopyInto(source, source_path, temp);
  if (status == kInstalled && !ReplaceWith(temp, target)) status = kStoreFailed;
  if (status != kInstalled) RemoveFile(temp);
  return status;
}

}  // namespace

extern "C" PKGSTAGE_EXPORT int PKGSTAGE_CALL PkgStageInstall(const char* user, const char* path) {
  if (user == nullptr || !IsUsableUserName(user)) return kBadUserName;
  const char* name = path == nullptr ? nullptr : StagedName(path);
  if (name == nullptr) return kBadFileName;

  // The source is opened before anything is created, so a request that
  // cannot be served leaves the store as it was.
  FileHandle source = OpenForRead(path);
  if (source == kNoFile) return kSourceUnreadable;

  char store[kPathRoom];
  char folder[kPathRoom];
  char lock_path[kPathRoom];
  int status = kStoreFailed;
  if (StoreFolder(store, sizeof store) && JoinPath(folder, store, user) &&
      JoinPath(lock_path, folder, ".pkgstage.lock") && MakeFolders(store) &&
      MakeOwnFolder(folder)) {
    FileHandle lock = TakeLock(lock_path);
    if (lock != kNoFile) {
      status = StageLocked(source, path, folder, name);
      CloseFile(lock);
    }
  }
  CloseFile(source);
  return status;
}
