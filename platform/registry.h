// The registry calls of the last-user lookup: Windows's own, or elsewhere
// the stand-in store's (registry-posix.h), with the same types and codes.
#ifndef LOADFILE_PLATFORM_REGISTRY_H_
#define LOADFILE_PLATFORM_REGISTRY_H_

#if defined(_WIN32)
#include <windows.h>
#else
#include "registry-posix.h"
#endif

#endif  // LOADFILE_PLATFORM_REGISTRY_H_
