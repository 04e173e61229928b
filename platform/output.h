// The last step of every run: its one line written to standard output.
//
// The tool's text is in the ANSI code page, and a file or a pipe is given it
// as those bytes, so a script that captures the line gets back the bytes it
// passed in. A Windows console does not show ANSI bytes as such: it reads
// the bytes it is given in its own output code page, by default the OEM one
// (437 or 850 where the ANSI code page is 1252), so "Zoë" would appear as
// "ZoÙ". So on Windows, when standard output is a console (the C runtime's
// handle for it answers GetConsoleMode, or, opened for writing only as
// ">con" opens it, is a character device), the line is converted from the
// ANSI code page to UTF-16 and written with WriteConsoleW, which the console
// shows as it is, whatever its code page; each "\n" becomes CR LF, as the C
// runtime's text mode would write it. Anything that takes no console write
// (a file, a pipe, NUL), and every POSIX system, gets the bytes as the C
// runtime writes them; no line is written both ways.
#ifndef LOADFILE_PLATFORM_OUTPUT_H_
#define LOADFILE_PLATFORM_OUTPUT_H_

// Formats |format| and its arguments as printf does and writes the result
// to standard output. A failed write is not reported, here as with printf:
// the exit status still tells the outcome.
void PrintLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

#endif  // LOADFILE_PLATFORM_OUTPUT_H_
