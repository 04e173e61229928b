// Shared by the end-to-end tests of both editions: a scratch folder to run
// the program in, wired to the scripted install double.
#ifndef LOADFILE_TESTS_RUN_TEST_H_
#define LOADFILE_TESTS_RUN_TEST_H_

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "harness.h"

// Turns "\n" in an expected line into what the program really writes.
std::string Lines(const std::string& text);

class RunTest : public ::testing::Test {
 protected:
  // Lays out the work folder: a.dat, empty.dat (0 bytes), "my file.dat",
  // "%s%n.dat", "caf\xe9.dat", sub/a.dat and the folder "folder".
  void SetUp() override;
  void TearDown() override;

  // Runs the program from the double's folder for |edition| ("named-user" or
  // "last-user") in the work folder, the double answering |status|.
  Outcome Run(const std::string& edition, const std::vector<std::string>& args,
              const std::string& status = "0");

  // The calls the double received, as (user, path).
  std::vector<std::pair<std::string, std::string>> Calls() const;

  std::string work_;
  std::string log_;
};

#endif  // LOADFILE_TESTS_RUN_TEST_H_
