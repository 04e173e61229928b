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

// Opens the store's folder, creating what is missing: the base and those
// above it by path, and each folder below the base from the one above.
FileHandle OpenStore() {
  NativeChar base[kPathRoom];
  const NativeChar* below = nullptr;
  if (!StoreBase(base, &below)) return kNoFile;
  FileHandle folder = OpenBase(base);
  if (folder == kNoFile) {
    // Each parent in turn; only the end counts ("C:" and "\\?" are none).
    for (size_t i = 1; base[i] != 0; ++i) {
      if (!IsSeparator(base[i])) continue;
      NativeChar kept = base[i];
      base[i] = 0;
      MakeFolder(base);
      base[i] = kept;
    }
    MakeFolder(base);
    folder = OpenBase(base);
  }
  NativeChar name[kPathRoom];
  while (folder != kNoFile && *below != 0) {
    size_t length = 0;
    while (below[length] != 0 && below[length] != '/') ++length;
    memcpy(name, below, length * sizeof *name);
    name[length] = 0;
    below += length + (below[length] != 0 ? 1 : 0);
    FileHandle next = OpenOrMakeFolder(folder, name);
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

// 1 when the file |name| in |folder| holds exactly the bytes of |source|,
// 0 when not (or it is missing), -1 when the source fails; which is then
// back at its start.
int SameBytes(FileHandle source, FileHandle folder, const NativeChar* name) {
  FileHandle staged = OpenStaged(folder, name);
  if (staged == kNoFile) return 0;
  uint64_t source_size = 0;
  uint64_t staged_size = 0;
  int same = FileSize(source, &source_size) ? 0 : -1;
  if (same == 0 && FileSize(staged, &staged_size) && source_size == staged_size) {
    char ours[8192];
    char theirs[8192];
    for (;;) {
      long got = ReadSome(source, ours, sizeof ours);
      if (got < 0) {
        same = -1;
        break;
      }
      if (got == 0) {
        // Both end here: the source may have changed since its size was read.
        same = ReadSome(staged, theirs, 1) == 0 ? 1 : 0;
        break;
      }
      if (!ReadExactly(staged, theirs, got) ||
          memcmp(ours, theirs, static_cast<size_t>(got)) != 0) {
        break;
      }
    }
    if (same != -1 && !Rewind(source)) same = -1;
  }
  CloseFile(staged);
  return same;
}

// Under the user's lock: leaves the staged file alone when it already holds
// the source's bytes, or stages a fresh copy over it.
int StageLocked(FileHandle source, FileHandle folder, const NativeChar* name) {
  // An alias of another entry is refused before it is read or written.
  if (NamesAnother(folder, name)) return kBadFileName;
  int same = SameBytes(source, folder, name);
  if (same < 0) return kSourceUnreadable;
  if (same) return kAlreadyInstalled;
  FileHandle copy = kNoFile;
  int used = 0;
  CopyEnd end = CopyToTemp(source, folder, kTempNames[used], &copy);
  while (end == kTempTaken && ++used < kTempCount) {
    end = CopyToTemp(source, folder, kTempNames[used], &copy);
  }
  if (end == kSourceFailed) return kSourceUnreadable;
  if (end != kCopied) return kStoreFailed;
  const NativeChar* temp = kTempNames[used];
  // The new copy has a short name of its own, which |name| may now reach.
  if (NamesAnother(folder, name)) {
    DiscardCopy(folder, copy, temp);
    return kBadFileName;
  }
  if (!RenameOver(folder, copy, temp, name)) return kStoreFailed;
  // Leftovers under the other names go once their holders have let go.
  for (int i = 0; i < kTempCount; ++i) {
    if (i != used) RemoveName(folder, kTempNames[i]);
  }
  return kInstalled;
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
  FileHandle source = OpenSource(source_path);
  if (source == kNoFile) return kSourceUnreadable;

  int status = kStoreFailed;
  FileHandle store = OpenStore();
  FileHandle folder = kNoFile;
  if (store != kNoFile && NamesAnother(store, user_name)) {
    // Another user's folder, through its short name.
    status = kBadUserName;
  } else if (store != kNoFile) {
    folder = OpenOrMakeFolder(store, user_name);
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
