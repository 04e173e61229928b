#include "last_user.h"

#include <string.h>

int GetLastUserName(char* name, DWORD* size) {
  HKEY key;
  if (RegOpenKeyA(HKEY_CURRENT_USER, "Software\\Corvallex\\Tandril Desktop\\Preferences", &key) !=
      ERROR_SUCCESS) {
    return 0;
  }
  DWORD room = *size;
  // The value's type is not asked for: any data that fit are taken as the
  // name, as long as they hold its end.
  LONG read =
      RegQueryValueExA(key, "LastUserName", nullptr, nullptr, reinterpret_cast<BYTE*>(name), size);
  // Closed whether or not the read worked, so no failure leaves it open.
  LONG closed = RegCloseKey(key);
  if (read != ERROR_SUCCESS || closed != ERROR_SUCCESS) return 0;
  // The rest of the run takes the buffer as a string: a name of 20 bytes
  // without a NUL, binary data or no data at all would run past it.
  return *size <= room && memchr(name, '\0', *size) != nullptr ? 1 : 0;
}
