#include "text-win32.h"

#include <windows.h>

int WideFromAnsi(const char* ansi, wchar_t* wide, int room) {
  return MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, ansi, -1, wide, room);
}

int AnsiFromWide(const wchar_t* wide, char* ansi, int room) {
  if (room <= 0) return 0;
  // UTF-8 carries every character but takes neither the no-best-fit flag
  // nor the question; it is told to fail on what it cannot carry (lone
  // surrogates) instead.
  BOOL used_default = FALSE;
  bool utf8 = GetACP() == CP_UTF8;
  int written = WideCharToMultiByte(CP_ACP, utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS,
                                    wide, -1, ansi, room, nullptr, utf8 ? nullptr : &used_default);
  return used_default ? 0 : written;
}
