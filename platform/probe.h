// The file probe's open: whether a path can be opened for reading, asked
// in a way that never waits.
//
// On Windows the C runtime's stream open in mode "r" is the probe itself: an
// open for reading there either succeeds or fails at once, and a folder
// cannot be opened. It is the wide open (_wfopen), given the path converted
// from the ANSI code page: the ANSI file functions are limited to MAX_PATH
// (260 characters) whatever the system allows, and only the wide ones take
// the long paths that longPathAware and the system setting enable
// (Windows 10 1607 and later).
//
// On POSIX systems an open for reading can wait: a FIFO with no writer
// holds it until one comes, and some devices wait for a carrier. So
// the POSIX side opens without blocking (O_NONBLOCK) and without taking a
// terminal as the controlling one, which tells the same thing about regular
// files and folders and never waits.
#ifndef LOADFILE_PLATFORM_PROBE_H_
#define LOADFILE_PLATFORM_PROBE_H_

// Opens |path| for reading and closes it again at once, unread. Returns 1
// when the open succeeded, 0 when it failed for whatever reason.
int OpenForReading(const char* path);

#endif  // LOADFILE_PLATFORM_PROBE_H_
