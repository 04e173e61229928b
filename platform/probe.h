// The file probe's open, which never waits. Windows: the C runtime's wide
// stream open in mode "r" (the ANSI one stops at MAX_PATH), on the path
// converted exactly (text-win32.h). POSIX: open without blocking, so that
// a FIFO without a writer is opened, not waited on.
#ifndef LOADFILE_PLATFORM_PROBE_H_
#define LOADFILE_PLATFORM_PROBE_H_

// Opens |path| for reading and closes it again at once, unread. Returns 1
// when the open succeeded, 0 when it failed for whatever reason.
int OpenForReading(const char* path);

#endif  // LOADFILE_PLATFORM_PROBE_H_
