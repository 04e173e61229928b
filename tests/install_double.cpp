#include "install_double.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "install.h"

#if defined(_WIN32)
#include <windows.h>
#define DOUBLE_EXPORT
#else
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#define DOUBLE_EXPORT __attribute__((visibility("default")))
#endif

namespace {

// Whether this process, the caller, still holds |path| open.
int HeldOpen(const char* path) {
#if defined(_WIN32)
  // An open that shares nothing fails while any handle on the file is open.
  HANDLE file = CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION;
#else
  struct stat named;
  if (stat(path, &named) != 0) return 0;
  DIR* fds = opendir("/proc/self/fd");
  if (fds == nullptr) return 0;
  int held = 0;
  for (struct dirent* entry; (entry = readdir(fds)) != nullptr;) {
    struct stat open_file;
    int fd = atoi(entry->d_name);
    if (entry->d_name[0] != '.' && fd != dirfd(fds) && fstat(fd, &open_file) == 0 &&
        open_file.st_dev == named.st_dev && open_file.st_ino == named.st_ino) {
      held = 1;
    }
  }
  closedir(fds);
  return held;
#endif
}

}  // namespace

extern "C" DOUBLE_EXPORT int PKGSTAGE_CALL PkgStageInstall(const char* user, const char* path) {
  const char* log = getenv(LOADFILE_DOUBLE_LOG);
  if (log != nullptr) {
    FILE* file = fopen(log, "ab");
    if (file != nullptr) {
      fwrite(user, 1, strlen(user) + 1, file);
      fwrite(path, 1, strlen(path) + 1, file);
      fclose(file);
    }
  }
  if (HeldOpen(path)) return kDoubleHeldOpen;
  const char* status = getenv(LOADFILE_DOUBLE_STATUS);
  return status == nullptr ? 0 : static_cast<int>(strtol(status, nullptr, 10));
}
