// The one line of every run, on standard output. A file or a pipe gets
// the ANSI bytes as the C runtime writes them. A Windows console would read
// them in its own (OEM) code page, "Zoë" as "ZoÙ": so on Windows a console
// (one that answers GetConsoleMode, or a character device, as ">con"
// opens it) is given the line in UTF-16 with WriteConsoleW, each "\n" as
// CR LF; no line is written both ways.
#ifndef LOADFILE_PLATFORM_OUTPUT_H_
#define LOADFILE_PLATFORM_OUTPUT_H_

// Formats |format| and its arguments as printf does and writes the result
// to standard output. A failed write is not reported, here as with printf:
// the exit status still tells the outcome.
void PrintLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

#endif  // LOADFILE_PLATFORM_OUTPUT_H_
