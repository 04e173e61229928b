// The registry where there is none: the last-user lookup's three calls,
// with Windows's types and statuses, over a folder store. HKEY_CURRENT_USER
// is the folder
//   ${XDG_CONFIG_HOME:-$HOME/.config}/registry/HKEY_CURRENT_USER
// a key below it a subfolder (a key path is split at '\'), and a value a
// regular file named after it, whose bytes are the value's data. Names are
// compared with regard to case. The store is the user's own: names are
// taken as the lookup gives them, and links are followed.
#ifndef STANDINS_REGISTRY_REGISTRY_POSIX_H_
#define STANDINS_REGISTRY_REGISTRY_POSIX_H_

#include <stdint.h>

typedef uint32_t DWORD;
typedef int32_t LONG;
typedef unsigned char BYTE;
typedef BYTE* LPBYTE;
typedef DWORD* LPDWORD;
typedef const char* LPCSTR;
typedef struct RegistryKey* HKEY;
typedef HKEY* PHKEY;

#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000001U)))

const LONG ERROR_SUCCESS = 0;
const LONG ERROR_FILE_NOT_FOUND = 2;
const LONG ERROR_READ_FAULT = 30;
const LONG ERROR_MORE_DATA = 234;

// Opens the key |sub_key| of HKEY_CURRENT_USER, the only |key| there is,
// into |result|.
// ERROR_FILE_NOT_FOUND when a key on the path is missing, ERROR_READ_FAULT
// when the store cannot be read.
LONG RegOpenKeyA(HKEY key, LPCSTR sub_key, PHKEY result);

// Reads the value |name| of |key| into |data|, which has room for |*size|
// bytes, and sets |*size| to the bytes read. ERROR_MORE_DATA when they do
// not fit, ERROR_FILE_NOT_FOUND when there is no such value,
// ERROR_READ_FAULT when it cannot be read. |reserved| and |type| are not
// used.
LONG RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                      LPDWORD size);

// Closes a key opened by RegOpenKeyA.
LONG RegCloseKey(HKEY key);

#endif  // STANDINS_REGISTRY_REGISTRY_POSIX_H_
