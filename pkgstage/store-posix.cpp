// The stand-in's file system operations on Linux and other POSIX systems.
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

int StoreFolder(char* out, size_t room) {
  // XDG: a relative XDG_DATA_HOME is invalid and ignored.
  const char* data_home = getenv("XDG_DATA_HOME");
  int written = -1;
  if (data_home != nullptr && data_home[0] == '/') {
    written = snprintf(out, room, "%s/pkgstage", data_home);
  } else {
    const char* home = getenv("HOME");
    if (home == nullptr || home[0] != '/') return 0;
    written = snprintf(out, room, "%s/.local/share/pkgstage", home);
  }
  return written > 0 && static_cast<size_t>(written) < room;
}

namespace {

// Makes the entries of the folder that holds |path| durable: a new name
// lives in its folder, and only an fsync of that folder puts it on the disk.
// Some file systems refuse an fsync of a folder; the entry is then as safe
// as they make it, and that is no failure of the install.
void SyncFolderOf(const char* path) {
  char folder[kPathRoom];
  const char* slash = strrchr(path, '/');
  size_t length = slash == nullptr ? 0 : static_cast<size_t>(slash - path);
  if (length == 0 || length >= sizeof folder) return;
  memcpy(folder, path, length);
  folder[length] = '\0';
  int fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

}  // namespace

void CreateFolder(const char* path) {
  if (mkdir(path, 0755) == 0) SyncFolderOf(path);
}

int IsFolder(const char* path, int allow_redirect) {
  struct stat info;
  int found = allow_redirect ? stat(path, &info) : lstat(path, &info);
  return found == 0 && S_ISDIR(info.st_mode);
}

FileHandle OpenForRead(const char* path) {
  int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return kNoFile;
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return kNoFile;
  }
  // O_NONBLOCK only kept a FIFO from blocking the open; clear it for reading.
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

int FileSize(FileHandle file, uint64_t* size) {
  struct stat info;
  if (fstat(static_cast<int>(file), &info) != 0) return 0;
  *size = static_cast<uint64_t>(info.st_size);
  return 1;
}

long ReadSome(FileHandle file, void* buffer, size_t room) {
  for (;;) {
    ssize_t got = read(static_cast<int>(file), buffer, room);
    if (got >= 0) return static_cast<long>(got);
    if (errno != EINTR) return -1;
  }
}

int Rewind(FileHandle file) {
  return lseek(static_cast<int>(file), 0, SEEK_SET) == 0;
}

void CloseFile(FileHandle file) {
  if (file != kNoFile) close(static_cast<int>(file));
}

FileHandle TakeLock(const char* path) {
  int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) return kNoFile;
  while (flock(fd, LOCK_EX) != 0) {
    if (errno != EINTR) {
      close(fd);
      return kNoFile;
    }
  }
  return fd;
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
    ssize_t got = read(from, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return kSourceUnreadable;
    if (got == 0) return kInstalled;
    for (ssize_t done = 0; done < got;) {
      ssize_t put = write(to, buffer + done, static_cast<size_t>(got - done));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) return kStoreFailed;
      done += put;
    }
  }
}

int CopyFileData(int from, int to) {
  for (;;) {
    ssize_t copied = copy_file_range(from, nullptr, to, nullptr, 1 << 30, 0);
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

int CopyInto(FileHandle source, const char* source_path, const char* temp) {
  (void)source_path;
  int to = open(temp, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (to < 0) return kStoreFailed;
  int status = CopyFileData(static_cast<int>(source), to);
  if (status == kInstalled && fsync(to) != 0) status = kStoreFailed;
  if (close(to) != 0 && status == kInstalled) status = kStoreFailed;
  return status;
}

int ReplaceWith(const char* temp, const char* target) {
  if (rename(temp, target) != 0) return 0;
  SyncFolderOf(target);
  return 1;
}

void RemoveFile(const char* path) {
  unlink(path);
}
