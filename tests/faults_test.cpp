// The real named-user program and stand-in when the machine fails them: a
// store that runs out of room, standard output closed or full. POSIX only:
// the tests limit the child's file size and replace its standard output.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <utility>

#include "harness.h"
#include "process-posix.h"
#include "settings.h"

namespace {

using Files = std::vector<std::string>;

class FaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = NewScratchFolder();
    work_ = NewScratchFolder();
    SetEnvironment(kStoreBaseVariable, base_);
  }
  void TearDown() override {
    SetEnvironment(kStoreBaseVariable, "", true);
    RemoveFolder(base_);
    RemoveFolder(work_);
  }
  Outcome Run(const std::vector<std::string>& args, const ChildSetup& setup = ChildSetup(),
              const std::string& edition = "named-user") {
    return FinishProgram(StartProgramWith(BuiltProgram(edition + "/loadfile"), args, work_, setup));
  }
  std::string Staged() {
    return ReadBytes(Join(Join(Join(base_, "pkgstage"), "Ann"), "a.dat"));
  }

  std::string base_;
  std::string work_;
};

// A copy that cannot be made whole, in a store that runs out of room, is
// never staged: the store keeps what it had. (The stand-in's tests fail
// each of its calls in turn, the copy's flush among them, through its seam.)
TEST_F(FaultTest, FailedCopyKeepsTheStagedCopyAndLeavesNothingElse) {
  ChildSetup full;
  full.max_file_size = 64 * 1024;
  std::string source = Join(work_, "a.dat");
  std::string larger(1024 * 1024, 'n');
  {
    WriteBytes(source, "the version staged before");
    ASSERT_EQ(Run({"a.dat", "Ann"}).exit_code, 1);

    WriteBytes(source, larger);
    Outcome failed = Run({"a.dat", "Ann"}, full);
    EXPECT_EQ(failed.out, "Error: Cannot install file (err=-4).\n");
    EXPECT_EQ(failed.exit_code, 0);
    EXPECT_EQ(failed.err, "");
    EXPECT_TRUE(Staged() == "the version staged before");
    EXPECT_EQ(FilesBelow(base_), (Files{"pkgstage", "pkgstage/Ann", "pkgstage/Ann/.pkgstage.lock",
                                        "pkgstage/Ann/a.dat"}));
    EXPECT_TRUE(ReadBytes(source) == larger);

    // Without the fault, the same request goes through.
    EXPECT_EQ(Run({"a.dat", "Ann"}).out, "Installed file a.dat for user Ann.\n");
    EXPECT_TRUE(Staged() == larger);
  }
}

// What is staged survives a power cut, read from a trace of the calls that
// make it durable (strace, as only it shows which folder each fsync
// flushes: the seam knows calls by name), for a first install into a store
// whose folders are all new.
TEST_F(FaultTest, FirstInstallIsDurableStepByStep) {
  // Folders made below a scratch folder, and where the machine lets the test
  // write there (as root), below the root folder itself.
  std::vector<std::pair<std::string, std::string>> tops = {{base_, Join(base_, "data")}};
  std::string scratch = NewScratchFolder();
  RemoveFolder(scratch);
  std::string below_root = "/" + std::filesystem::path(scratch).filename().string();
  if (access("/", W_OK) == 0) tops.emplace_back("/", below_root);
  WriteBytes(Join(work_, "a.dat"), "bytes");
  for (const auto& top : tops) {
    SCOPED_TRACE(top.second);
    std::string home = Join(top.second, "home");
    SetEnvironment(kStoreBaseVariable, home);
    std::string trace = Join(work_, "trace");
    ChildSetup traced;
    traced.under = {"strace", "-o",
                    trace,    "-y",
                    "-e",     "trace=mkdir,mkdirat,rename,renameat,renameat2,fsync,fdatasync"};
    EXPECT_EQ(Run({"a.dat", "Ann"}, traced).out, "Installed file a.dat for user Ann.\n");

    // The calls that did something, as "call path...", in their order.
    std::vector<std::string> calls;
    std::istringstream lines(ReadBytes(trace));
    for (std::string line; std::getline(lines, line);) {
      if (line.size() < 4 || line.compare(line.size() - 4, 4, " = 0") != 0) continue;
      std::string call = line.substr(0, line.find('('));
      std::string paths;
      for (size_t at = line.find_first_of("\"<"); at != std::string::npos;
           at = line.find_first_of("\"<", at + 1)) {
        size_t end = line.find_first_of("\">", at + 1);
        paths.append(1, ' ').append(line, at + 1, end - at - 1);
        at = end;
      }
      calls.push_back(call + paths);
    }
    // Each new folder is flushed in its parent, the copy before its rename,
    // and its folder after it; other calls may come between.
    auto follows = [&](const std::string& first, const std::string& then) {
      auto at = std::find(calls.begin(), calls.end(), first);
      return at != calls.end() && std::find(at, calls.end(), then) != calls.end();
    };
    std::string store = Join(home, "pkgstage");
    std::string user = Join(store, "Ann");
    std::string temp = Join(user, ".pkgstage.tmp");
    std::string rename = "rename " + temp + " " + Join(user, "a.dat");
    std::string parent = top.first;
    for (const std::string& folder : {top.second, home, store, user}) {
      EXPECT_TRUE(follows("mkdir " + folder, "fsync " + parent)) << folder;
      parent = folder;
    }
    EXPECT_TRUE(follows("fsync " + temp, rename));
    EXPECT_TRUE(follows(rename, "fsync " + user));
  }
  RemoveFolder(below_root);
}

// Without a standard output the line is lost, but the exit status still
// tells the outcome, and nothing meant for the output lands in a file.
TEST_F(FaultTest, ClosedOrFullOutputStillGivesTheExitStatus) {
  std::string bytes(200 * 1024, 'b');
  WriteBytes(Join(work_, "a.dat"), bytes);
  for (auto out : {ChildSetup::kClosed, ChildSetup::kFull}) {
    SCOPED_TRACE(out == ChildSetup::kClosed ? "closed" : "full");
    RemoveFolder(Join(base_, "pkgstage"));
    ChildSetup setup;
    setup.out = out;
    struct {
      std::vector<std::string> args = {};
      int exit_code = 0;
    } runs[] = {{.args = {"a.dat", "Ann"}, .exit_code = 1},
                {.args = {"a.dat", "Ann"}, .exit_code = 1},
                {.args = {"missing.dat", "Ann"}, .exit_code = 0},
                {.args = {"a.dat"}, .exit_code = 0},
                {.args = {"a.dat", "../x"}, .exit_code = 0}};
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

// Started with standard input closed, or with all three standard
// descriptors closed, the program's first opens get descriptors 0 to 2: the
// probe's, the stand-in's and the settings' opens must take them as the good
// descriptors they are. The exit status still tells the outcome, and no
// line lands in a file opened there.
TEST_F(FaultTest, ClosedStandardDescriptorsStillInstall) {
  std::string settings = NewScratchFolder();
  UseSettingsIn(settings);
  PlantName("Ann");
  std::string bytes = "the source's bytes";
  WriteBytes(Join(work_, "a.dat"), bytes);
  std::string lock = Join(Join(Join(base_, "pkgstage"), "Ann"), ".pkgstage.lock");
  std::string value = Join(settings,
                           "registry/HKEY_CURRENT_USER/Software/Corvallex/Tandril "
                           "Desktop/Preferences/LastUserName");
  for (const std::vector<int>& closed : {std::vector<int>{0}, std::vector<int>{0, 1, 2}}) {
    for (const std::string edition : {"named-user", "last-user"}) {
      SCOPED_TRACE(edition + " with " + std::to_string(closed.size()) + " closed");
      RemoveFolder(Join(base_, "pkgstage"));
      ChildSetup setup;
      setup.closed = closed;
      std::vector<std::string> args = {"a.dat"};
      if (edition == "named-user") args.push_back("Ann");
      Outcome first = Run(args, setup, edition);
      Outcome second = Run(args, setup, edition);
      EXPECT_EQ(first.exit_code, 1);
      EXPECT_EQ(second.exit_code, 1);
      bool has_output = closed.size() == 1;
      EXPECT_EQ(first.out, has_output ? "Installed file a.dat for user Ann.\n" : "");
      EXPECT_EQ(second.out, has_output ? "File a.dat already installed for user Ann.\n" : "");
      EXPECT_EQ(first.err + second.err, "");
      EXPECT_TRUE(Staged() == bytes);
      EXPECT_EQ(ReadBytes(lock), "");
      EXPECT_EQ(ReadBytes(value), std::string("Ann\0", 4));
      EXPECT_EQ(ReadBytes(Join(work_, "a.dat")), bytes);
    }
  }
  ClearSettings();
  RemoveFolder(settings);
}

}  // namespace
