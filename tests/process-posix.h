// Ways to start a program that only POSIX offers the tests: a limit on the
// size of the files it writes, standard output closed or full, standard
// descriptors closed, and another program to run it under (strace, to read
// or fail its system calls).
#ifndef LOADFILE_TESTS_PROCESS_POSIX_H_
#define LOADFILE_TESTS_PROCESS_POSIX_H_

#include <string>
#include <vector>

#include "harness.h"

struct ChildSetup {
  long max_file_size = -1;  // bytes; -1 for no limit
  enum { kFile, kClosed, kFull } out = kFile;
  // Standard descriptors closed when the program starts, as a service or
  // "loadfile a.dat Ann <&-" has them: the program's first opens get them.
  std::vector<int> closed;
  // A command and its options that the program is run under, such as
  // {"strace", "-o", TRACE, ...}; empty to run the program itself.
  std::vector<std::string> under;
};

Started StartProgramWith(const std::string& program, const std::vector<std::string>& args,
                         const std::string& folder, const ChildSetup& setup);

#endif  // LOADFILE_TESTS_PROCESS_POSIX_H_
