// The stand-in's file system operations on Linux and other POSIX systems:
// every name below the base is resolved relative to a held descriptor, and
// none through a link (O_NOFOLLOW).
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "pkgstage.h"
#include "store.h"

const char kSeparator = '/';

int IsSeparator(char c) {
  return c == '/';
}

const char* NextChar(const char* c) {
  return c + 1;
}

size_t OpenedLength(const char* name) {
  return strlen(name);
}

int IsPlainName(const char* name) {
  (void)name;
  return 1;
}

int StoreBase(char* base, size_t room, const char** below) {
  // XDG: a relative XDG_DATA_HOME is invalid and ignored.
  const char* data_home = getenv("XDG_DATA_HOME");
  int written = -1;
  if (data_home != nullptr && data_home[0] == '/') {
    written = snprintf(base, room, "%s", data_home);
    *below = "pkgstage";
  } else {
    const char* home = getenv("HOME");
    if (home == nullptr || home[0] != '/') return 0;
    written = snprintf(base, room, "%s", home);
    *below = ".local/share/pkgstage";
  }
  return written > 0 && static_cast<size_t>(written) < room;
}

namespace {

// Asks the fault hook (store.h) before |call|: 1 to make the call, or 0
// with errno set as the fault would set it.
int Allowed(const char* call) {
  switch (FaultFor(call)) {
    case kNoFault: return 1;
    case kDiskFault: errno = EIO; break;
    case kHeldFault: errno = EBUSY; break;
    case kUnsupportedFault: errno = EOPNOTSUPP; break;
    case kDeniedFault: errno = EACCES; break;
    case kNoClassFault:
    case kBadParameterFault: errno = EINVAL; break;
    case kNotImplementedFault: errno = ENOSYS; break;
    case kBadRequestFault: errno = ENOTTY; break;
  }
  return 0;
}

// close() releases the descriptor even when it reports a failure.
int Close(int fd) {
  int result = close(fd);
  return Allowed("close") ? result : -1;
}

// A new name lives in its folder, and only an fsync of that folder puts it
// on the disk. Some file systems refuse an fsync of a folder; the entry is
// then as safe as they make it, and that is no failure of the install.
void SyncFolder(int folder) {
  if (Allowed("fsync")) fsync(folder);
}

// Keeps |fd|, opened for reading without blocking on a FIFO, when it is a
// regular file; closes it and returns -1 otherwise (and for -1).
int RegularOrNone(int fd) {
  if (fd < 0) return -1;
  struct stat info;
  if (!Allowed("fstat") || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    Close(fd);
    return -1;
  }
  // O_NONBLOCK only kept a FIFO from blocking the open; clear it for reading.
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

const int kReadFlags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;

}  // namespace

void CreateFolder(const char* path) {
  if (!Allowed("mkdir") || mkdir(path, 0755) != 0) return;
  char parent[kPathRoom];
  const char* slash = strrchr(path, '/');
  size_t length = slash == nullptr ? 0 : static_cast<size_t>(slash - path);
  if (length >= sizeof parent) return;
  // A folder directly below the root has "/" as its parent.
  if (length == 0) length = 1;
  memcpy(parent, path, length);
  parent[length] = '\0';
  int fd = Allowed("open") ? open(parent, O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
  if (fd < 0) return;
  SyncFolder(fd);
  Close(fd);
}

FileHandle OpenFolder(const char* path) {
  int fd = Allowed("open") ? open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
  return fd < 0 ? kNoFile : fd;
}

FileHandle OpenFolderIn(FileHandle parent, const char* name) {
  int at = static_cast<int>(parent);
  if (Allowed("mkdirat") && mkdirat(at, name, 0755) == 0) SyncFolder(at);
  int fd =
      Allowed("openat") ? openat(at, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC) : -1;
  return fd < 0 ? kNoFile : fd;
}

int NamesAnother(FileHandle folder, const char* name) {
  (void)folder;
  (void)name;
  return 0;
}

FileHandle OpenForRead(const char* path) {
  int fd = RegularOrNone(Allowed("open") ? open(path, kReadFlags) : -1);
  return fd < 0 ? kNoFile : fd;
}

FileHandle OpenInFolder(FileHandle folder, const char* name) {
  int at = static_cast<int>(folder);
  int fd = RegularOrNone(Allowed("openat") ? openat(at, name, kReadFlags | O_NOFOLLOW) : -1);
  return fd < 0 ? kNoFile : fd;
}

int FileSize(FileHandle file, uint64_t* size) {
  struct stat info;
  if (!Allowed("fstat") || fstat(static_cast<int>(file), &info) != 0) return 0;
  *size = static_cast<uint64_t>(info.st_size);
  return 1;
}

long ReadSome(FileHandle file, void* buffer, size_t room) {
  for (;;) {
    if (!Allowed("read")) return -1;
    ssize_t got = read(static_cast<int>(file), buffer, room);
    if (got >= 0) return static_cast<long>(got);
    if (errno != EINTR) return -1;
  }
}

int Rewind(FileHandle file) {
  return Allowed("lseek") && lseek(static_cast<int>(file), 0, SEEK_SET) == 0;
}

void CloseFile(FileHandle file) {
  if (file != kNoFile) Close(static_cast<int>(file));
}

FileHandle TakeLock(FileHandle folder, const char* name) {
  int at = static_cast<int>(folder);
  // A lock file with another link is not ours: its name goes, and a file of
  // our own takes its place. flock needs no access mode: opened for reading,
  // a lock file that is read-only is locked as it is.
  for (int tries = 0; tries < 3; ++tries) {
    int fd = Allowed("openat") ? openat(at, name, O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644)
                               : -1;
    if (fd < 0) return kNoFile;
    struct stat info;
    if (!Allowed("fstat") || fstat(fd, &info) != 0) {
      Close(fd);
      return kNoFile;
    }
    if (info.st_nlink > 1) {
      Close(fd);
      RemoveFile(folder, name);
      continue;
    }
    for (;;) {
      if (Allowed("flock") && flock(fd, LOCK_EX) == 0) return fd;
      if (errno != EINTR) break;
    }
    Close(fd);
    return kNoFile;
  }
  return kNoFile;
}

namespace {

int IsStoreFull(int error) {
  return error == ENOSPC || error == EDQUOT || error == EFBIG;
}

// The portable copy: used where the kernel will not copy between these two
// files itself. Goes on from both files' current offsets.
int CopyByReading(int from, int to) {
  char buffer[65536];
  for (;;) {
    ssize_t got = Allowed("read") ? read(from, buffer, sizeof buffer) : -1;
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return kSourceUnreadable;
    if (got == 0) return kInstalled;
    for (ssize_t done = 0; done < got;) {
      ssize_t put =
          Allowed("write") ? write(to, buffer + done, static_cast<size_t>(got - done)) : -1;
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) return kStoreFailed;
      done += put;
    }
  }
}

int CopyFileData(int from, int to) {
  for (;;) {
    ssize_t copied =
        Allowed("copy_file_range") ? copy_file_range(from, nullptr, to, nullptr, 1 << 30, 0) : -1;
    if (copied == 0) return kInstalled;
    if (copied > 0) continue;
    if (errno == EINTR) continue;
    if (IsStoreFull(errno)) return kStoreFailed;
    // Not supported for these files (another file system, an old kernel, a
    // special file): both offsets are where the kernel stopped, so the
    // plain copy picks up from there.
    return CopyByReading(from, to);
  }
}

}  // namespace

int CopyInto(FileHandle source, FileHandle folder, const char* temp, FileHandle* copy) {
  int at = static_cast<int>(folder);
  const int flags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW;
  int to = Allowed("openat") ? openat(at, temp, flags, 0644) : -1;
  // A file left by an interrupted run goes first, whatever its mode: the
  // copy is a new file, with no mode of the leftover's (a read-only one
  // would make the staged copy read-only), and a leftover with another link
  // loses only this name. A link there is no leftover of ours, and is
  // refused.
  struct stat info;
  if (to < 0 && errno == EEXIST && Allowed("fstatat") &&
      fstatat(at, temp, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode) &&
      Allowed("unlinkat") && unlinkat(at, temp, 0) == 0) {
    to = Allowed("openat") ? openat(at, temp, flags, 0644) : -1;
  }
  if (to < 0) {
    // A link goes as a name, for the next install to stage in peace.
    RemoveFile(folder, temp);
    return kStoreFailed;
  }
  int status = CopyFileData(static_cast<int>(source), to);
  if (status == kInstalled && (!Allowed("fsync") || fsync(to) != 0)) status = kStoreFailed;
  if (status != kInstalled) {
    Discard(folder, to, temp);
    return status;
  }
  *copy = to;
  return kInstalled;
}

int ReplaceWith(FileHandle folder, FileHandle copy, const char* temp, const char* target) {
  int at = static_cast<int>(folder);
  if (!Allowed("renameat") || renameat(at, temp, at, target) != 0) {
    Discard(folder, copy, temp);
    return 0;
  }
  SyncFolder(at);
  // The copy's bytes were flushed before the rename: what its close says
  // comes too late to change what is staged.
  Close(static_cast<int>(copy));
  return 1;
}

void Discard(FileHandle folder, FileHandle copy, const char* temp) {
  Close(static_cast<int>(copy));
  RemoveFile(folder, temp);
}

void RemoveFile(FileHandle folder, const char* name) {
  if (Allowed("unlinkat")) unlinkat(static_cast<int>(folder), name, 0);
}
