// The registry operations the last-user lookup needs: RegOpenKeyA,
// RegQueryValueExA and RegCloseKey under HKEY_CURRENT_USER, with the Windows
// types and error codes.
//
// On Windows they are the real registry API. Elsewhere registry-posix.h
// declares the same three functions over a folder store, so the lookup is
// one source for every platform.
#ifndef LOADFILE_PLATFORM_REGISTRY_H_
#define LOADFILE_PLATFORM_REGISTRY_H_

#if defined(_WIN32)
#include <windows.h>
#else
#include "registry-posix.h"
#endif

#endif  // LOADFILE_PLATFORM_REGISTRY_H_
