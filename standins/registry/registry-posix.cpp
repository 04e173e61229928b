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

// Descriptors are stored plus one, so that no key is a null pointer.
HKEY KeyOf(int fd) {
  return reinterpret_cast<HKEY>(static_cast<uintptr_t>(fd) + 1);
}

int FolderOf(HKEY key) {
  return static_cast<int>(reinterpret_cast<uintptr_t>(key) - 1);
}

// Missing, or a file where a folder should be: no such key or value here.
LONG ErrorOf(int error) {
  return error == ENOENT || error == ENOTDIR ? ERROR_FILE_NOT_FOUND : ERROR_READ_FAULT;
}

}  // namespace

LONG RegOpenKeyA(HKEY /*key*/, LPCSTR sub_key, PHKEY result) {
  const char* below = nullptr;
  const char* base = XdgBase("XDG_CONFIG_HOME", ".config/registry/HKEY_CURRENT_USER",
                             "registry/HKEY_CURRENT_USER", &below);
  char path[4096];
  int written =
      base == nullptr ? -1 : snprintf(path, sizeof path, "%s/%s/%s", base, below, sub_key);
  if (written < 0 || static_cast<size_t>(written) >= sizeof path) return ERROR_FILE_NOT_FOUND;
  // The key path's '\' separate folders; the base's bytes stay as they are.
  for (char* c = path + written - strlen(sub_key); *c != '\0'; ++c) {
    if (*c == '\\') *c = '/';
  }
  int folder = SeamFails("open") ? -1 : open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) return ErrorOf(errno);
  *result = KeyOf(folder);
  return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD /*reserved*/, LPDWORD /*type*/, LPBYTE data,
                      LPDWORD size) {
  int value =
      SeamFails("openat") ? -1 : openat(FolderOf(key), name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (value < 0) return ErrorOf(errno);
  struct stat info;
  LONG status = ERROR_SUCCESS;
  if (SeamFails("fstat") || fstat(value, &info) != 0) {
    status = ERROR_READ_FAULT;
  } else if (!S_ISREG(info.st_mode)) {
    status = ERROR_FILE_NOT_FOUND;  // a subkey, or something that is no value
  } else {
    // What is read, not the size seen before: the file may change meanwhile.
    // A byte past the room tells that the value goes on.
    DWORD got = 0;
    char more = 0;
    ssize_t part = 1;
    while (part > 0 && got <= *size) {
      void* into = got < *size ? static_cast<void*>(data + got) : &more;
      part = SeamFails("read") ? -1 : read(value, into, got < *size ? *size - got : 1);
      if (part > 0) got += static_cast<DWORD>(part);
      if (part < 0 && errno == EINTR) part = 1;
    }
    if (part < 0) {
      status = ERROR_READ_FAULT;
    } else if (got > *size) {
      status = ERROR_MORE_DATA;
    } else {
      *size = got;
    }
  }
  close(value);
  return status;
}

LONG RegCloseKey(HKEY key) {
  return close(FolderOf(key)) == 0 ? ERROR_SUCCESS : ERROR_READ_FAULT;
}
