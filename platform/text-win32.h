// The tool's text is narrow, in the ANSI code page; Windows names files in
// UTF-16. Both conversions are exact or fail: no best-fit look-alike (U+FF0F
// FULLWIDTH SOLIDUS would become '/'), no default character, no byte that
// names no character. The entry, the probe and the stand-in's store all
// convert through these, so a path they are given means one file to all.
#ifndef LOADFILE_PLATFORM_TEXT_WIN32_H_
#define LOADFILE_PLATFORM_TEXT_WIN32_H_

// Converts |ansi| into |wide|, room for |room| units. Returns the units
// written, the NUL included, or 0.
int WideFromAnsi(const char* ansi, wchar_t* wide, int room);

// Converts |wide| into |ansi|, room for |room| bytes. Returns the bytes
// written, the NUL included, or 0.
int AnsiFromWide(const wchar_t* wide, char* ansi, int room);

#endif  // LOADFILE_PLATFORM_TEXT_WIN32_H_
