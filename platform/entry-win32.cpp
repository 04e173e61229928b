// Built with -municode: the C runtime splits the wide command line and calls
// wmain.
#include <windows.h>

#include "entry.h"
#include "text-win32.h"

namespace {

// A command line holds at most 32767 UTF-16 units, and every argument after
// the program name takes at least two of them (itself or a pair of quotes,
// and a blank). No code page needs more than three bytes for one unit
// (UTF-8; double-byte code pages need two).
const int kMostArguments = (32767 / 2) + 1;
const int kTextRoom = 3 * 32768;

}  // namespace

// The C runtime's entry (-municode) calls it by name.
int wmain(int argc, wchar_t** wide_argv) {  // NOLINT(misc-use-internal-linkage)
  // Before anything touches a file: a drive with no disk in it (a card
  // reader, a DVD drive) fails the open instead of showing a dialog that
  // stops a script until someone clicks. A program started from cmd
  // inherits its mode of 0, which shows them. The modes set already stay;
  // GetErrorMode is not in Windows XP, so the old mode is read by setting.
  SetErrorMode(SetErrorMode(SEM_FAILCRITICALERRORS) | SEM_FAILCRITICALERRORS);
  char text[kTextRoom];
  char* argv[kMostArguments + 1];
  char empty[] = "";
  int used = 0;
  int count = 0;
  for (; count < argc; ++count) {
    int written =
        count < kMostArguments ? AnsiFromWide(wide_argv[count], text + used, kTextRoom - used) : 0;
    if (written > 0) {
      argv[count] = text + used;
      used += written;
    } else if (count <= 1) {
      // The program name is never read; the file becomes a path that names
      // nothing.
      argv[count] = empty;
    } else {
      count = 1;
      break;
    }
  }
  argv[count] = nullptr;
  return LoadfileMain(count, argv);
}
