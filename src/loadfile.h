// The run sequence shared by both editions of loadfile.
//
// Each edition is one small main() that calls these in order; the first step
// that fails prints its one line on standard output and main returns 0.
// Exit status 1 means the file was installed or was already installed for
// that user; 0 means anything else. Nothing is ever written to stderr.
#ifndef LOADFILE_SRC_LOADFILE_H_
#define LOADFILE_SRC_LOADFILE_H_

// Returns 1 when |argc| (which counts the program name) equals |expected|,
// 0 for any other count.
int CheckArgs(int argc, int expected);

// Returns 1 when |path| can be opened for reading, 0 when the open fails for
// whatever reason. It is closed again before returning, unread, so no file
// is held open while the install library works on the path, and the open
// never waits (a FIFO without a writer is opened, not waited on).
int FileExists(const char* path);

// Steps 1 and 2 of a run: checks the argument count, printing |usage| when it
// is wrong, then probes argv[1], printing the not-found line when it cannot
// be opened. Returns 1 when the run may go on.
int CheckCommandLine(int argc, char** argv, int expected, const char* usage);

// The install call and its outcome line: asks the install library to install
// |path| for |user|, prints the installed, already-installed or error line
// and returns the exit status (1 or 0).
int InstallFile(const char* path, const char* user);

#endif  // LOADFILE_SRC_LOADFILE_H_
