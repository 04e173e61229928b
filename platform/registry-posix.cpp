// The folder store behind registry-posix.h. Each open key is a descriptor
// of its folder, held in the HKEY itself, so nothing is allocated and
// closing a key is closing the descriptor.
#include "registry-posix.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Descriptors are stored plus one, so that no key is a null pointer, and
// stay well below the predefined roots (0x80000000 and up).
HKEY KeyOf(int fd) {
  return reinterpret_cast<HKEY>(static_cast<uintptr_t>(fd) + 1);
}

int FolderOf(HKEY key) {
  uintptr_t value = reinterpret_cast<uintptr_t>(key);
  if (value == 0 || value > 0x7FFFFFFFU) return -1;
  return static_cast<int>(value - 1);
}

LONG ErrorOf(int error) {
  switch (error) {
    case EACCES:
    case EPERM: return ERROR_ACCESS_DENIED;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    default:
      // Missing, not a folder, a link, a name too long: no such key here.
      return ERROR_FILE_NOT_FOUND;
  }
}

// Opens the folder of HKEY_CURRENT_USER. XDG: a relative XDG_CONFIG_HOME is
// invalid and ignored.
int OpenCurrentUser() {
  char path[4096];
  const char* config = getenv("XDG_CONFIG_HOME");
  int written = -1;
  if (config != nullptr && config[0] == '/') {
    written = snprintf(path, sizeof path, "%s/registry/HKEY_CURRENT_USER", config);
  } else {
    const char* home = getenv("HOME");
    if (home == nullptr || home[0] != '/') {
      errno = ENOENT;
      return -1;
    }
    written = snprintf(path, sizeof path, "%s/.config/registry/HKEY_CURRENT_USER", home);
  }
  if (written < 0 || static_cast<size_t>(written) >= sizeof path) {
    errno = ENAMETOOLONG;
    return -1;
  }
  return open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

// A new descriptor for |key|'s folder; -1 with errno set on failure.
int OpenKeyFolder(HKEY key) {
  if (key == HKEY_CURRENT_USER) return OpenCurrentUser();
  int fd = FolderOf(key);
  if (fd < 0) {
    errno = EBADF;
    return -1;
  }
  return openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

// Whether |name| can stand for a key or value in this store.
int IsStoreName(const char* name, size_t length) {
  if (length == 0 || length > 255) return 0;
  if ((length == 1 && name[0] == '.') || (length == 2 && name[0] == '.' && name[1] == '.')) {
    return 0;
  }
  return memchr(name, '/', length) == nullptr;
}

}  // namespace

LONG RegOpenKeyA(HKEY key, LPCSTR sub_key, PHKEY result) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  int folder = OpenKeyFolder(key);
  if (folder < 0) return errno == EBADF ? ERROR_INVALID_HANDLE : ErrorOf(errno);
  const char* rest = sub_key == nullptr ? "" : sub_key;
  while (*rest != '\0') {
    const char* end = strchr(rest, '\\');
    size_t length = end == nullptr ? strlen(rest) : static_cast<size_t>(end - rest);
    if (length > 0) {
      if (!IsStoreName(rest, length)) {
        close(folder);
        return ERROR_FILE_NOT_FOUND;
      }
      char name[256];
      memcpy(name, rest, length);
      name[length] = '\0';
      int next = openat(folder, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      int error = errno;
      close(folder);
      if (next < 0) return ErrorOf(error);
      folder = next;
    }
    rest += length;
    if (*rest == '\\') ++rest;
  }
  *result = KeyOf(folder);
  return ERROR_SUCCESS;
}

// |reserved| is not const, as in the Windows signature.
LONG RegQueryValueExA(HKEY key, LPCSTR name,
                      // cppcheck-suppress constParameter
                      LPDWORD reserved,  // NOLINT(readability-non-const-parameter)
                      LPDWORD type, LPBYTE data, LPDWORD size) {
  if (reserved != nullptr || (data != nullptr && size == nullptr)) return ERROR_INVALID_PARAMETER;
  if (name == nullptr || !IsStoreName(name, strlen(name))) return ERROR_FILE_NOT_FOUND;
  // An open key is its folder's descriptor already; only the root needs
  // one of its own.
  int folder = key == HKEY_CURRENT_USER ? OpenCurrentUser() : FolderOf(key);
  if (folder < 0) return key == HKEY_CURRENT_USER ? ErrorOf(errno) : ERROR_INVALID_HANDLE;
  int value = openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  int error = errno;
  if (key == HKEY_CURRENT_USER) close(folder);
  if (value < 0) return error == EBADF ? ERROR_INVALID_HANDLE : ErrorOf(error);

  LONG status = ERROR_SUCCESS;
  struct stat info;
  if (fstat(value, &info) != 0 || !S_ISREG(info.st_mode)) {
    status = ERROR_FILE_NOT_FOUND;  // a subkey, or something that is no value
  } else if (static_cast<uint64_t>(info.st_size) > 0xFFFFFFFFU) {
    status = ERROR_INVALID_DATA;
  } else if (data == nullptr) {
    if (size != nullptr) *size = static_cast<DWORD>(info.st_size);
  } else {
    // Read what there is rather than trust the size seen before: the file
    // may change meanwhile, and the count must tell what was really read.
    DWORD room = *size;
    DWORD got = 0;
    ssize_t part = 1;
    while (got < room && part > 0) {
      part = pread(value, data + got, room - got, got);
      if (part > 0) got += static_cast<DWORD>(part);
      if (part < 0 && errno == EINTR) part = 1;
    }
    char more = 0;
    if (part < 0) {
      status = ERROR_READ_FAULT;
    } else if (got == room && pread(value, &more, 1, got) == 1) {
      struct stat now;
      DWORD needed = room + 1;
      if (fstat(value, &now) == 0 && static_cast<uint64_t>(now.st_size) > needed &&
          static_cast<uint64_t>(now.st_size) <= 0xFFFFFFFFU) {
        needed = static_cast<DWORD>(now.st_size);
      }
      *size = needed;
      status = ERROR_MORE_DATA;
    } else {
      *size = got;
    }
  }
  if (status == ERROR_SUCCESS && type != nullptr) *type = REG_BINARY;
  close(value);
  return status;
}

LONG RegCloseKey(HKEY key) {
  if (key == HKEY_CURRENT_USER) return ERROR_SUCCESS;
  int fd = FolderOf(key);
  if (fd < 0 || close(fd) != 0) return ERROR_INVALID_HANDLE;
  return ERROR_SUCCESS;
}
