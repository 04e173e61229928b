// The real named-user program and stand-in when the machine fails them: a
// store that runs out of room, standard output closed or full. POSIX only:
// the tests limit the child's file size and replace its standard output.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "harness.h"
#include "process-posix.h"

namespace {

using Files = std::vector<std::string>;

// Each test runs twice: with the store beside the sources, and with the
// store on another file system (a tmpfs), between which the kernel does not
// copy, so that the stand-in copies by reading and writing.
class FaultTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    if (GetParam()) {
      char folder[] = "/dev/shm/loadfile-test-XXXXXX";
      if (mkdtemp(folder) == nullptr) GTEST_SKIP() << "no /dev/shm";
      base_ = folder;
    } else {
      base_ = NewScratchFolder();
    }
    work_ = NewScratchFolder();
    SetEnvironment(kStoreBaseVariable, base_);
  }
  void TearDown() override {
    SetEnvironment(kStoreBaseVariable, "", true);
    RemoveFolder(base_);
    RemoveFolder(work_);
  }
  Outcome Run(const std::vector<std::string>& args, const ChildSetup& setup = ChildSetup()) {
    return FinishProgram(StartProgramWith(BuiltProgram("named-user/loadfile"), args, work_, setup));
  }
  std::string Staged() {
    return ReadBytes(Join(Join(Join(base_, "pkgstage"), "Ann"), "a.dat"));
  }

  std::string base_;
  std::string work_;
};

TEST_P(FaultTest, FullStoreKeepsTheStagedCopyAndLeavesNothingElse) {
  std::string source = Join(work_, "a.dat");
  WriteBytes(source, "the version staged before");
  ASSERT_EQ(Run({"a.dat", "Ann"}).exit_code, 1);

  std::string larger(1024 * 1024, 'n');
  WriteBytes(source, larger);
  ChildSetup small;
  small.max_file_size = 64 * 1024;
  Outcome full = Run({"a.dat", "Ann"}, small);
  EXPECT_EQ(full.out, "Error: Cannot install file (err=-4).\n");
  EXPECT_EQ(full.exit_code, 0);
  EXPECT_EQ(full.err, "");
  EXPECT_EQ(Staged(), "the version staged before");
  EXPECT_EQ(FilesBelow(base_), (Files{"pkgstage", "pkgstage/Ann", "pkgstage/Ann/.pkgstage.lock",
                                      "pkgstage/Ann/a.dat"}));
  EXPECT_TRUE(ReadBytes(source) == larger);

  // With room again, the same request goes through.
  EXPECT_EQ(Run({"a.dat", "Ann"}).out, "Installed file a.dat for user Ann.\n");
  EXPECT_TRUE(Staged() == larger);
}

// Without a standard output the line is lost, but the exit status still
// tells the outcome, and nothing meant for the output lands in a file.
TEST_P(FaultTest, ClosedOrFullOutputStillGivesTheExitStatus) {
  std::string bytes(200 * 1024, 'b');
  WriteBytes(Join(work_, "a.dat"), bytes);
  for (auto out : {ChildSetup::kClosed, ChildSetup::kFull}) {
    SCOPED_TRACE(out == ChildSetup::kClosed ? "closed" : "full");
    RemoveFolder(Join(base_, "pkgstage"));
    ChildSetup setup;
    setup.out = out;
    struct {
      std::vector<std::string> args;
      int exit_code;
    } runs[] = {{{"a.dat", "Ann"}, 1},
                {{"a.dat", "Ann"}, 1},
                {{"missing.dat", "Ann"}, 0},
                {{"a.dat"}, 0},
                {{"a.dat", "../x"}, 0}};
    for (const auto& run : runs) {
      Outcome outcome = Run(run.args, setup);
      EXPECT_EQ(outcome.exit_code, run.exit_code) << run.args[0];
      EXPECT_EQ(outcome.err, "");
    }
    EXPECT_TRUE(Staged() == bytes);
    EXPECT_EQ(FilesBelow(base_), (Files{"pkgstage", "pkgstage/Ann", "pkgstage/Ann/.pkgstage.lock",
                                        "pkgstage/Ann/a.dat"}));
  }
}

INSTANTIATE_TEST_SUITE_P(Store, FaultTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return std::string(info.param ? "OnAnotherFileSystem" : "BesideSources");
                         });

}  // namespace
