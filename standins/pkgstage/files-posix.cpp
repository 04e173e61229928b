// The stand-in's file calls on POSIX systems. Without share modes there is
// no holder to wait for; flock waits for the lock itself.
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

// Puts the names in the folder |path| on the disk. A file system that
// refuses an fsync of a folder keeps them as it does; that fails no install.
void SyncFolder(const char* path) {
  int fd = SeamFails("open") ? -1 : open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  if (!SeamFails("fsync")) fsync(fd);
  close(fd);
}

}  // namespace

size_t ToNative(const char* ansi, char* native, size_t room) {
  size_t length = strlen(ansi);
  if (length >= room) return 0;
  memcpy(native, ansi, length + 1);
  return length + 1;
}

int StoreFolder(char* store) {
  const char* below = nullptr;
  const char* base = XdgBase("XDG_DATA_HOME", ".local/share/pkgstage", "pkgstage", &below);
  int written = base == nullptr ? -1 : snprintf(store, kPathRoom, "%s/%s", base, below);
  return written > 0 && static_cast<size_t>(written) < kPathRoom;
}

void MakeFolder(const char* path) {
  if (SeamFails("mkdir") || mkdir(path, 0755) != 0) return;
  // The store's folders are absolute; one below the root has "/" as its
  // parent.
  char parent[kPathRoom];
  size_t length = static_cast<size_t>(strrchr(path, '/') - path);
  if (length == 0) length = 1;
  memcpy(parent, path, length);
  parent[length] = '\0';
  SyncFolder(parent);
}

int NamesAnother(const char* /*path*/) {
  return 0;  // a name reaches only itself here
}

FileHandle OpenForReading(const char* path) {
  int fd = SeamFails("open") ? -1 : open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return kNoFile;
  struct stat info;
  if (SeamFails("fstat") || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return kNoFile;
  }
  // O_NONBLOCK only kept a FIFO from blocking the open; cleared for reading.
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
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
  if (file != kNoFile) close(static_cast<int>(file));
}

FileHandle TakeLock(const char* path) {
  // flock needs no access mode: opened for reading, a read-only lock file
  // is locked as it is. A link there goes as a name, and the lock is made.
  const int flags = O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW;
  int fd = SeamFails("open") ? -1 : open(path, flags, 0644);
  if (fd < 0 && errno == ELOOP) {
    RemoveName(path);
    fd = SeamFails("open") ? -1 : open(path, flags, 0644);
  }
  while (fd >= 0 && (SeamFails("flock") || flock(fd, LOCK_EX) != 0)) {
    if (errno == EINTR) continue;
    close(fd);
    fd = -1;
  }
  return fd < 0 ? kNoFile : fd;
}

FileHandle CreateNew(const char* path) {
  const int flags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW;
  int fd = SeamFails("open") ? -1 : open(path, flags, 0644);
  return fd < 0 ? kNoFile : fd;
}

int WriteAll(FileHandle file, const char* bytes, size_t count) {
  while (count > 0) {
    ssize_t put = SeamFails("write") ? -1 : write(static_cast<int>(file), bytes, count);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return 0;
    bytes += put;
    count -= static_cast<size_t>(put);
  }
  return 1;
}

int Flush(FileHandle file) {
  return !SeamFails("fsync") && fsync(static_cast<int>(file)) == 0;
}

int RenameOver(const char* folder, const char* temp, const char* target) {
  if (SeamFails("rename") || rename(temp, target) != 0) return 0;
  SyncFolder(folder);
  return 1;
}

void RemoveName(const char* path) {
  if (!SeamFails("unlink")) unlink(path);
}
