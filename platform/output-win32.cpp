#include <io.h>
#include <stdarg.h>
#include <stdio.h>
#include <windows.h>

#include "output.h"

namespace {

// The longest line: a path and a user from one command line of at most
// 32767 UTF-16 units (three bytes each at most in the ANSI code page, two
// in UTF-16 once a line feed has become CR LF), and the format's own text.
const int kLineRoom = 3 * 32768 + 256;
const int kWideRoom = 2 * 32768 + 256;

// Older consoles take no more than about 64 KiB in one call, so a long line
// goes in pieces, none of which ends inside a surrogate pair.
const int kPiece = 8192;

// Writes |line| (|length| bytes in the ANSI code page) to the console |out|.
// Returns 0, having written nothing, when the line does not fit the room.
int WriteToConsole(HANDLE out, const char* line, int length) {
  wchar_t wide[kWideRoom];
  int count = MultiByteToWideChar(CP_ACP, 0, line, length, wide, kWideRoom);
  if (count == 0) return 0;
  int feeds = 0;
  for (int i = 0; i < count; ++i) feeds += wide[i] == L'\n' ? 1 : 0;
  if (count + feeds > kWideRoom) return 0;
  for (int from = count - 1, to = count + feeds - 1; from >= 0; --from) {
    wide[to--] = wide[from];
    if (wide[from] == L'\n') wide[to--] = L'\r';
  }
  count += feeds;
  for (const wchar_t* at = wide; count > 0;) {
    int piece = count < kPiece ? count : kPiece;
    if (piece < count && IS_HIGH_SURROGATE(at[piece - 1])) --piece;
    DWORD written = 0;
    // A console that stops taking the line has failed as a closed output
    // would: what is lost is lost, and it is not written again as bytes.
    if (!WriteConsoleW(out, at, static_cast<DWORD>(piece), &written, nullptr) || written == 0) {
      return 1;
    }
    at += written;
    count -= static_cast<int>(written);
  }
  return 1;
}

}  // namespace

void PrintLine(const char* format, ...) {
  va_list args;
  HANDLE out = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stdout)));
  DWORD mode = 0;
  if (GetConsoleMode(out, &mode)) {
    char line[kLineRoom];
    va_start(args, format);
    int length = vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (length >= 0 && length < kLineRoom && WriteToConsole(out, line, length)) return;
  }
  va_start(args, format);
  vprintf(format, args);
  va_end(args);
}
