#include <stdio.h>

#include "probe.h"
#include "text-win32.h"

int OpenForReading(const char* path) {
  // Room for a path of a whole command line's length.
  wchar_t wide[32768];
  if (WideFromAnsi(path, wide, 32768) == 0) return 0;
  FILE* stream = _wfopen(wide, L"r");
  if (stream == nullptr) return 0;
  fclose(stream);
  return 1;
}
