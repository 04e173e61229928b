#include "xdg-posix.h"

#include <stdlib.h>

const char* XdgBase(const char* variable, const char* below_home, const char* below_variable,
                    const char** below) {
  const char* folder = getenv(variable);
  *below = below_variable;
  if (folder == nullptr || folder[0] != '/') {
    folder = getenv("HOME");
    *below = below_home;
  }
  return folder != nullptr && folder[0] == '/' ? folder : nullptr;
}
