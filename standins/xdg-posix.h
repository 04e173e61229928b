// Where the XDG base directory rules put a kind of user data, for both
// stand-ins on POSIX systems.
#ifndef STANDINS_XDG_POSIX_H_
#define STANDINS_XDG_POSIX_H_

#include <stdlib.h>

// Returns the folder |variable| names, pointing |below| at |below_variable|;
// or, where it is unset or relative (which XDG calls invalid), $HOME,
// pointing |below| at |below_home|. Returns null when HOME is unset or
// relative too.
inline const char* XdgBase(const char* variable, const char* below_home, const char* below_variable,
                           const char** below) {
  const char* folder = getenv(variable);
  *below = below_variable;
  if (folder == nullptr || folder[0] != '/') {
    folder = getenv("HOME");
    *below = below_home;
  }
  return folder != nullptr && folder[0] == '/' ? folder : nullptr;
}

#endif  // STANDINS_XDG_POSIX_H_
