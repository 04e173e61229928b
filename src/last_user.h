// Where the last-user edition finds its user: the name of the user who last
// synchronised a device, kept by the suite in the current user's registry.
#ifndef LOADFILE_SRC_LAST_USER_H_
#define LOADFILE_SRC_LAST_USER_H_

#include "registry.h"

// Reads "LastUserName" under HKEY_CURRENT_USER\Software\Corvallex\Tandril
// Desktop\Preferences into |name|, which has room for |*size| bytes; |*size|
// is then the count of bytes read. Returns 1 when |name| holds a
// NUL-terminated name found within the bytes read; 0 when the key or the
// value is missing, the data need more room, hold no NUL, or the key cannot
// be closed. The registry is only read.
int GetLastUserName(char* name, DWORD* size);

#endif  // LOADFILE_SRC_LAST_USER_H_
