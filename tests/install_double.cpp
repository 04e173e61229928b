#include "install_double.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "install.h"

#if defined(_WIN32)
#define DOUBLE_EXPORT
#else
#define DOUBLE_EXPORT __attribute__((visibility("default")))
#endif

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
  const char* status = getenv(LOADFILE_DOUBLE_STATUS);
  return status == nullptr ? 0 : static_cast<int>(strtol(status, nullptr, 10));
}
