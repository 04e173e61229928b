// The stand-in's file operations on POSIX systems: below the base, names
// are opened relative to a held descriptor with O_NOFOLLOW. Without share
// modes there is no holder to wait for; flock waits for the lock itself.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "files.h"
#include "seam.h"
#include "xdg-posix.h"

namespace {

// close() releases the descriptor even when it reports a failure.
void Close(int fd) {
  close(fd);
  SeamFails("close");
}

// Puts a new name in |folder| on the disk. A file system that refuses an
// fsync of a folder keeps it as it does; that fails no install.
void SyncFolder(int folder) {
  if (!SeamFails("fsync")) fsync(folder);
}

// Keeps |fd|, opened for reading without blocking on a FIFO, when it is a
// regular file; closes it and returns kNoFile otherwise (and for -1).
FileHandle RegularOrNone(int fd) {
  if (fd < 0) return kNoFile;
  struct stat info;
  if (SeamFails("fstat") || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    Close(fd);
    return kNoFile;
  }
  // O_NONBLOCK only kept a FIFO from blocking the open; cleared for reading.
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

const int kReadFlags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;

int IsStoreFull(int error) {
  return error == ENOSPC || error == EDQUOT || error == EFBIG;
}

// The portable copy, for files the kernel will not copy between itself.
// Goes on from both files' current offsets.
CopyEnd CopyByReading(int from, int to) {
  char buffer[65536];
  for (;;) {
    ssize_t got = SeamFails("read") ? -1 : read(from, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return kSourceFailed;
    if (got == 0) return kCopied;
    for (ssize_t done = 0; done < got;) {
      ssize_t put =
          SeamFails("write") ? -1 : write(to, buffer + done, static_cast<size_t>(got - done));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) return kCopyFailed;
      done += put;
    }
  }
}

CopyEnd CopyFileData(int from, int to) {
  for (;;) {
    ssize_t copied =
        SeamFails("copy_file_range") ? -1 : copy_file_range(from, nullptr, to, nullptr, 1 << 30, 0);
    if (copied == 0) return kCopied;
    if (copied > 0 || errno == EINTR) continue;
    if (IsStoreFull(errno)) return kCopyFailed;
    // Not for these files (another file system, an old kernel, a special
    // file): both offsets are where the kernel stopped, and the plain copy
    // picks up from there.
    return CopyByReading(from, to);
  }
}

}  // namespace

size_t ToNative(const char* ansi, char* native, size_t room) {
  size_t length = strlen(ansi);
  if (length >= room) return 0;
  memcpy(native, ansi, length + 1);
  return length + 1;
}

int StoreBase(char* base, const char** below) {
  const char* folder = XdgBase("XDG_DATA_HOME", ".local/share/pkgstage", "pkgstage", below);
  size_t length = folder == nullptr ? 0 : strlen(folder);
  if (length == 0 || length >= kPathRoom) return 0;
  memcpy(base, folder, length + 1);
  return 1;
}

void MakeFolder(const char* path) {
  if (SeamFails("mkdir") || mkdir(path, 0755) != 0) return;
  char parent[kPathRoom];
  const char* slash = strrchr(path, '/');
  size_t length = slash == nullptr ? 0 : static_cast<size_t>(slash - path);
  if (length >= sizeof parent) return;
  // A folder directly below the root has "/" as its parent.
  if (length == 0) length = 1;
  memcpy(parent, path, length);
  parent[length] = '\0';
  FileHandle fd = OpenBase(parent);
  if (fd == kNoFile) return;
  SyncFolder(static_cast<int>(fd));
  Close(static_cast<int>(fd));
}

FileHandle OpenBase(const char* path) {
  int fd = SeamFails("open") ? -1 : open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  return fd < 0 ? kNoFile : fd;
}

FileHandle OpenOrMakeFolder(FileHandle parent, const char* name) {
  int at = static_cast<int>(parent);
  if (!SeamFails("mkdirat") && mkdirat(at, name, 0755) == 0) SyncFolder(at);
  int fd =
      SeamFails("openat") ? -1 : openat(at, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  return fd < 0 ? kNoFile : fd;
}

int NamesAnother(FileHandle /*folder*/, const char* /*name*/) {
  return 0;  // a name reaches only itself here
}

FileHandle OpenSource(const char* path) {
  return RegularOrNone(SeamFails("open") ? -1 : open(path, kReadFlags));
}

FileHandle OpenStaged(FileHandle folder, const char* name) {
  int at = static_cast<int>(folder);
  return RegularOrNone(SeamFails("openat") ? -1 : openat(at, name, kReadFlags | O_NOFOLLOW));
}

int FileSize(FileHandle file, uint64_t* size) {
  struct stat info;
  if (SeamFails("fstat") || fstat(static_cast<int>(file), &info) != 0) return 0;
  *size = static_cast<uint64_t>(info.st_size);
  return 1;
}

long ReadSome(FileHandle file, void* buffer, size_t room) {
  for (;;) {
    ssize_t got = SeamFails("read") ? -1 : read(static_cast<int>(file), buffer, room);
    if (got >= 0) return static_cast<long>(got);
    if (errno != EINTR) return -1;
  }
}

int Rewind(FileHandle file) {
  return !SeamFails("lseek") && lseek(static_cast<int>(file), 0, SEEK_SET) == 0;
}

void CloseFile(FileHandle file) {
  if (file != kNoFile) Close(static_cast<int>(file));
}

FileHandle TakeLock(FileHandle folder, const char* name) {
  int at = static_cast<int>(folder);
  // flock needs no access mode: opened for reading, a read-only lock file
  // is locked as it is.
  for (int tries = 0; tries < 3; ++tries) {
    int fd = SeamFails("openat")
                 ? -1
                 : openat(at, name, O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) return kNoFile;
    struct stat info;
    if (SeamFails("fstat") || fstat(fd, &info) != 0) {
      Close(fd);
      return kNoFile;
    }
    if (info.st_nlink > 1) {
      Close(fd);
      RemoveName(folder, name);
      continue;
    }
    for (;;) {
      if (!SeamFails("flock") && flock(fd, LOCK_EX) == 0) return fd;
      if (errno != EINTR) break;
    }
    Close(fd);
    return kNoFile;
  }
  return kNoFile;
}

CopyEnd CopyToTemp(FileHandle source, FileHandle folder, const char* temp, FileHandle* copy) {
  int at = static_cast<int>(folder);
  const int flags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW;
  int to = SeamFails("openat") ? -1 : openat(at, temp, flags, 0644);
  // A leftover goes first, whatever its mode, as a name only; a link there
  // is no leftover of ours, and is refused below.
  struct stat info;
  if (to < 0 && errno == EEXIST && !SeamFails("fstatat") &&
      fstatat(at, temp, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode) &&
      !SeamFails("unlinkat") && unlinkat(at, temp, 0) == 0) {
    to = SeamFails("openat") ? -1 : openat(at, temp, flags, 0644);
  }
  if (to < 0) {
    // A link goes as a name, for the next install to stage in peace.
    RemoveName(folder, temp);
    return kCopyFailed;
  }
  CopyEnd end = CopyFileData(static_cast<int>(source), to);
  if (end == kCopied && (SeamFails("fsync") || fsync(to) != 0)) end = kCopyFailed;
  if (end != kCopied) {
    DiscardCopy(folder, to, temp);
    return end;
  }
  *copy = to;
  return kCopied;
}

int RenameOver(FileHandle folder, FileHandle copy, const char* temp, const char* target) {
  int at = static_cast<int>(folder);
  if (SeamFails("renameat") || renameat(at, temp, at, target) != 0) {
    DiscardCopy(folder, copy, temp);
    return 0;
  }
  SyncFolder(at);
  // The copy was flushed before the rename, which its close cannot undo.
  Close(static_cast<int>(copy));
  return 1;
}

void DiscardCopy(FileHandle folder, FileHandle copy, const char* temp) {
  Close(static_cast<int>(copy));
  RemoveName(folder, temp);
}

void RemoveName(FileHandle folder, const char* name) {
  if (!SeamFails("unlinkat")) unlinkat(static_cast<int>(folder), name, 0);
}
