#include <stdio.h>
#include <windows.h>

#include "probe.h"

int OpenForReading(const char* path) {
  // A path of a whole command line's length, converted exactly: an ANSI
  // byte that names no character names no file either.
  wchar_t wide[32768];
  if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path, -1, wide, 32768) == 0) return 0;
  FILE* stream = _wfopen(wide, L"r");
  if (stream == nullptr) return 0;
  fclose(stream);
  return 1;
}
