// A read-only stand-in for the Windows registry, for platforms without one.
//
// HKEY_CURRENT_USER is the folder
//   ${XDG_CONFIG_HOME:-$HOME/.config}/registry/HKEY_CURRENT_USER
// each key below it a subfolder (a key path is split at '\'), and each value
// a regular file named after the value, whose bytes are the value's data,
// exactly. The store keeps no types: a value reads as REG_BINARY. Unlike the
// registry it compares names with regard to case, and it has no default
// (unnamed) values. Names that could not be folder or file names here ("."
// "..", or holding '/') name nothing, so no lookup leaves the store.
//
// The functions answer as their Windows namesakes do, with the same error
// codes; only what the last-user lookup uses is provided.
#ifndef LOADFILE_PLATFORM_REGISTRY_POSIX_H_
#define LOADFILE_PLATFORM_REGISTRY_POSIX_H_

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
const LONG ERROR_TOO_MANY_OPEN_FILES = 4;
const LONG ERROR_ACCESS_DENIED = 5;
const LONG ERROR_INVALID_HANDLE = 6;
const LONG ERROR_INVALID_DATA = 13;
const LONG ERROR_READ_FAULT = 30;
const LONG ERROR_INVALID_PARAMETER = 87;
const LONG ERROR_MORE_DATA = 234;

const DWORD REG_BINARY = 3;

// Opens the key |sub_key| below |key| into |result|. A null or empty
// |sub_key| opens |key| again. Returns ERROR_SUCCESS, ERROR_FILE_NOT_FOUND
// when a key on the path does not exist, or another error code.
LONG RegOpenKeyA(HKEY key, LPCSTR sub_key, PHKEY result);

// Reads the value |name| of |key|. |reserved| must be null. With |data| null
// it only sets |*size| to the data's size. Otherwise |*size| is the room in
// |data|: the data are copied and |*size| set to their size, or, when they
// need more room, ERROR_MORE_DATA is returned with |*size| set to what they
// need. A missing value is ERROR_FILE_NOT_FOUND. |type|, if not null,
// receives REG_BINARY.
LONG RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                      LPDWORD size);

// Closes a key opened by RegOpenKeyA. Closing HKEY_CURRENT_USER does
// nothing and succeeds. Returns ERROR_INVALID_HANDLE for anything else.
LONG RegCloseKey(HKEY key);

#endif  // LOADFILE_PLATFORM_REGISTRY_POSIX_H_
