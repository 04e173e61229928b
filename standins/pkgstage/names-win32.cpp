#include <wchar.h>

#include "names.h"

namespace {

// Whether |name| is a device name, alone or before an extension, dots or
// blanks.
int IsDeviceName(const wchar_t* name) {
  size_t length = wcscspn(name, L".");
  while (length > 0 && name[length - 1] == L' ') --length;
  if (length == 3) {
    return _wcsnicmp(name, L"CON", 3) == 0 || _wcsnicmp(name, L"PRN", 3) == 0 ||
           _wcsnicmp(name, L"AUX", 3) == 0 || _wcsnicmp(name, L"NUL", 3) == 0;
  }
  if (length != 4 || (_wcsnicmp(name, L"COM", 3) != 0 && _wcsnicmp(name, L"LPT", 3) != 0)) {
    return 0;
  }
  wchar_t digit = name[3];
  return (digit >= L'0' && digit <= L'9') || digit == L'\x00B9' || digit == L'\x00B2' ||
         digit == L'\x00B3';
}

}  // namespace

int IsSeparator(wchar_t c) {
  return c == L'\\' || c == L'/' || c == L':';
}

size_t OpenedLength(const wchar_t* name) {
  size_t length = wcslen(name);
  while (length > 0 && (name[length - 1] == L'.' || name[length - 1] == L' ')) --length;
  return length;
}

int IsPlainName(const wchar_t* name) {
  size_t length = wcslen(name);
  return length > 0 && OpenedLength(name) == length && wcspbrk(name, L"<>\"|?*") == nullptr &&
         !IsDeviceName(name);
}
