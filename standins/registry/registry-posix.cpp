// An open key is the descriptor of its folder, held in the HKEY itself, so
// nothing is allocated and closing a key is closing the descriptor.
#include "registry-posix.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "seam.h"
#include "xdg-posix.h"

namespace {

// Descriptors are stored plus one, so that no key is a null pointer, and
// stay well below the predefined roots (0x80000000 and up).
HKEY KeyOf(int fd) {
  return reinterpret_cast<HKEY>(static_cast<uintptr_t>(fd) + 1);
}

int FolderOf(HKEY key) {
  uintptr_t value = reinterpret_cast<uintptr_t>(key);
  return value == 0 || value > 0x7FFFFFFFU ? -1 : static_cast<int>(value - 1);
}

LONG ErrorOf(int error) {
  if (error == EACCES || error == EPERM) return ERROR_ACCESS_DENIED;
  if (error == EMFILE || error == ENFILE) return ERROR_TOO_MANY_OPEN_FILES;
  // Missing, not a folder, a link, a name too long: no such key here.
  return ERROR_FILE_NOT_FOUND;
}

// Whether |length| bytes of |name| can name a key or a value here.
int IsStoreName(const char* name, size_t length) {
  if (length == 0 || length > 255 || memchr(name, '/', length) != nullptr) return 0;
  return !(name[0] == '.' && (length == 1 || (length == 2 && name[1] == '.')));
}

}  // namespace

// The key is not const, as in the Windows signature.
// cppcheck-suppress constParameter
LONG RegOpenKeyA(HKEY key, LPCSTR sub_key, PHKEY result) {
  if (key != HKEY_CURRENT_USER) return ERROR_INVALID_HANDLE;
  const char* below = nullptr;
  const char* base = XdgBase("XDG_CONFIG_HOME", ".config/registry/HKEY_CURRENT_USER",
                             "registry/HKEY_CURRENT_USER", &below);
  char path[4096];
  int written = base == nullptr ? -1 : snprintf(path, sizeof path, "%s/%s", base, below);
  if (written < 0 || static_cast<size_t>(written) >= sizeof path) return ERROR_FILE_NOT_FOUND;
  int folder = SeamFails("open") ? -1 : open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) return ErrorOf(errno);
  for (const char* rest = sub_key; *rest != '\0';) {
    size_t length = strcspn(rest, "\\");
    if (length > 0) {
      int next = -1;
      if (IsStoreName(rest, length)) {
        char name[256];
        memcpy(name, rest, length);
        name[length] = '\0';
        next = SeamFails("openat")
                   ? -1
                   : openat(folder, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      } else {
        errno = ENOENT;
      }
      int error = errno;
      close(folder);
      if (next < 0) return ErrorOf(error);
      folder = next;
    }
    rest += length + (rest[length] == '\\' ? 1 : 0);
  }
  *result = KeyOf(folder);
  return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD /*reserved*/, LPDWORD /*type*/, LPBYTE data,
                      LPDWORD size) {
  int folder = FolderOf(key);
  if (folder < 0) return ERROR_INVALID_HANDLE;
  if (!IsStoreName(name, strlen(name))) return ERROR_FILE_NOT_FOUND;
  int value = SeamFails("openat")
                  ? -1
                  : openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (value < 0) return errno == EBADF ? ERROR_INVALID_HANDLE : ErrorOf(errno);
  struct stat info;
  LONG status = ERROR_SUCCESS;
  if (SeamFails("fstat") || fstat(value, &info) != 0) {
    status = ERROR_READ_FAULT;
  } else if (!S_ISREG(info.st_mode)) {
    status = ERROR_FILE_NOT_FOUND;  // a subkey, or something that is no value
  } else {
    // What is read, not the size seen before: the file may change meanwhile.
    DWORD got = 0;
    ssize_t part = 1;
    while (got < *size && part > 0) {
      part = SeamFails("pread") ? -1 : pread(value, data + got, *size - got, got);
      if (part > 0) got += static_cast<DWORD>(part);
      if (part < 0 && errno == EINTR) part = 1;
    }
    // A full buffer leaves the question whether the value goes on.
    char more = 0;
    ssize_t beyond = 0;
    if (part >= 0 && got == *size) beyond = SeamFails("pread") ? -1 : pread(value, &more, 1, got);
    if (part < 0 || beyond < 0) {
      status = ERROR_READ_FAULT;
    } else if (beyond == 1) {
      status = ERROR_MORE_DATA;
    } else {
      *size = got;
    }
  }
  close(value);
  return status;
}

LONG RegCloseKey(HKEY key) {
  int fd = FolderOf(key);
  return fd < 0 || close(fd) != 0 ? ERROR_INVALID_HANDLE : ERROR_SUCCESS;
}
