#include <io.h>
#include <stdarg.h>
#include <stdio.h>
#include <windows.h>

#include "output.h"

namespace {

// The longest line: a path and a user from one command line of at most
// 32767 UTF-16 units, each at most three bytes in the ANSI code page, and
// the format's own text; back in UTF-16 it takes no more units than the
// command line did, twice that if every one were a line feed to become
// CR LF. A line that does not fit is written as bytes.
const int kLineRoom = (3 * 32768) + 256;
const int kWideRoom = (2 * 32768) + 256;

// Older consoles take no more than about 64 KiB in one call, so a long line
// goes in pieces, none of which ends inside a surrogate pair.
const int kPiece = 8192;

// Writes |line| (|length| bytes in the ANSI code page) to the console |out|.
// Returns 0, having written nothing, when the line does not fit the room or
// |out| takes no console write at all (NUL, a serial port); the caller then
// writes the bytes.
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
    int piece = count;
    if (piece > kPiece) piece = IS_HIGH_SURROGATE(at[kPiece - 1]) ? kPiece - 1 : kPiece;
    DWORD written = 0;
    // A console that stops taking the line part-way has failed as a closed
    // output would: the rest is not written, and the part it showed is not
    // written again as bytes.
    if (!WriteConsoleW(out, at, static_cast<DWORD>(piece), &written, nullptr) || written == 0) {
      return at != wide ? 1 : 0;
    }
    at += written;
    count -= static_cast<int>(written);
  }
  return 1;
}

}  // namespace

// Variadic as printf is: the format attribute in output.h has the compiler
// check every call's arguments against its format.
void PrintLine(const char* format, ...) {  // NOLINT(cert-dcl50-cpp)
  va_list args;
  HANDLE out = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stdout)));
  DWORD mode = 0;
  // GetConsoleMode needs read access to the handle, and a console opened for
  // writing only (a redirection to CON) refuses it. Such a handle is still a
  // character device that takes WriteConsoleW; NUL is one too, and does not.
  if (GetConsoleMode(out, &mode) || GetFileType(out) == FILE_TYPE_CHAR) {
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
