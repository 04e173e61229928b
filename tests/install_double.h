// The scripted install library used by the end-to-end tests, in place of the
// stand-in: it returns the status the test puts in LOADFILE_DOUBLE_STATUS
// (0 when unset) and appends each call it receives to the file named by
// LOADFILE_DOUBLE_LOG, as the user and the path each followed by a NUL.
// The file must be closed by the time of the call: while the caller still
// holds it open (a descriptor in /proc/self/fd, or a handle that keeps an
// open sharing nothing from succeeding), the double answers
// kDoubleHeldOpen instead.
#ifndef LOADFILE_TESTS_INSTALL_DOUBLE_H_
#define LOADFILE_TESTS_INSTALL_DOUBLE_H_

#define LOADFILE_DOUBLE_STATUS "LOADFILE_DOUBLE_STATUS"
#define LOADFILE_DOUBLE_LOG "LOADFILE_DOUBLE_LOG"
// Which build of the double the end-to-end tests run against: the folder
// below tests/ that holds it beside the programs ("double" when unset).
#define LOADFILE_DOUBLE_FOLDER "LOADFILE_DOUBLE_FOLDER"

const int kDoubleHeldOpen = 1999;

#endif  // LOADFILE_TESTS_INSTALL_DOUBLE_H_
