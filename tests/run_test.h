// Shared by the end-to-end tests of both editions: a scratch folder to run
// the program in, wired to the scripted install double.
#ifndef LOADFILE_TESTS_RUN_TEST_H_
#define LOADFILE_TESTS_RUN_TEST_H_

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "harness.h"

// Marks an expected call as none: the library must not be called.
extern const char* const kNotCalled;

// Turns "\n" in an expected line into what the program really writes.
std::string Lines(const std::string& text);

class RunTest : public ::testing::Test {
 protected:
  // Lays out the work folder: a.dat, empty.dat (0 bytes), "my file.dat",
  // "%s%n.dat", "caf\xe9.dat", sub/a.dat, the folder "folder" and, where
  // there are FIFOs, the FIFO "pipe", which no one writes to.
  void SetUp() override;
  void TearDown() override;

  // Runs the program from the double's folder for |edition| ("named-user" or
  // "last-user") in the work folder, the double answering |status|.
  Outcome Run(const std::string& edition, const std::vector<std::string>& args,
              const std::string& status = "0", Output output = Output::kFile);

  // The calls the double received, as (user, path).
  std::vector<std::pair<std::string, std::string>> Calls() const;

  // Expects exactly |out| (with "\n" line ends) on standard output, nothing
  // on standard error, |exit_code|, and one call of the library with
  // (|user|, |path|), or none when |user| is kNotCalled.
  void ExpectOutcome(const Outcome& outcome, const std::string& out, int exit_code,
                     const std::string& user, const std::string& path) const;

  std::string work_;
  std::string log_;
};

#endif  // LOADFILE_TESTS_RUN_TEST_H_
