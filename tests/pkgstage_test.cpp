// The stand-in install library, called directly and through the real
// named-user program.
#include "pkgstage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "failing.h"
#include "harness.h"
#include "seam.h"

namespace {

using Files = std::vector<std::string>;

// Runs an install with the store's calls failed as |how| says.
int InstallFailing(const char* user, const std::string& path, const Failing& how) {
  failing = how;
  fault_hook = FailSome;
  int status = PkgStageInstall(user, path.c_str());
  fault_hook = nullptr;
  return status;
}

class StandInTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = NewScratchFolder();
    sources_ = NewScratchFolder();
    SetEnvironment(kStoreBaseVariable, base_);
  }
  void TearDown() override {
    SetEnvironment(kStoreBaseVariable, "", true);
    RemoveFolder(base_);
    RemoveFolder(sources_);
  }

  std::string Source(const std::string& name, const std::string& bytes) {
    std::string path = Join(sources_, name);
    WriteBytes(path, bytes);
    return path;
  }
  std::string Staged(const std::string& user, const std::string& name) {
    return Join(Join(Join(base_, "pkgstage"), user), name);
  }
  // What a store holding exactly |name| for Ann looks like.
  Files StoreWith(const std::string& name) {
    return {"pkgstage", "pkgstage/Ann", "pkgstage/Ann/.pkgstage.lock", "pkgstage/Ann/" + name};
  }

  std::string base_;
  std::string sources_;
};

TEST_F(StandInTest, StagesOnceThenReportsAlreadyStaged) {
  std::string path = Source("a.dat", "first");
  EXPECT_EQ(PkgStageInstall("Ann", path.c_str()), kInstalled);
  EXPECT_EQ(ReadBytes(Staged("Ann", "a.dat")), "first");
  EXPECT_EQ(PkgStageInstall("Ann", path.c_str()), kAlreadyInstalled);
  EXPECT_EQ(ReadBytes(Staged("Ann", "a.dat")), "first");
  // Windows names the same user and file in any case.
  if (!kPosixFiles) {
    EXPECT_EQ(PkgStageInstall("ANN", Join(sources_, "A.DAT").c_str()), kAlreadyInstalled);
  }
  EXPECT_EQ(FilesBelow(base_), StoreWith("a.dat"));
}

TEST_F(StandInTest, ReplacesAFileOfThatNameWithOtherBytes) {
  std::string path = Source("a.dat", "first");
  ASSERT_EQ(PkgStageInstall("Ann", path.c_str()), kInstalled);
  // Same size, one byte apart: the sizes alone must not decide.
  for (const std::string& bytes :
       {std::string("firsT"), std::string("much longer now"), std::string("")}) {
    WriteBytes(path, bytes);
    EXPECT_EQ(PkgStageInstall("Ann", path.c_str()), kInstalled) << bytes;
    EXPECT_EQ(ReadBytes(Staged("Ann", "a.dat")), bytes);
  }
  EXPECT_EQ(PkgStageInstall("Ann", path.c_str()), kAlreadyInstalled);
  EXPECT_EQ(FilesBelow(base_), StoreWith("a.dat"));
}

TEST_F(StandInTest, UsersAreApart) {
  std::string path = Source("a.dat", "shared");
  EXPECT_EQ(PkgStageInstall("Ann", path.c_str()), kInstalled);
  EXPECT_EQ(PkgStageInstall("Bob", path.c_str()), kInstalled);
  EXPECT_EQ(ReadBytes(Staged("Bob", "a.dat")), "shared");
}

TEST_F(StandInTest, StagesUnderTheLastComponentOnly) {
  std::filesystem::create_directories(Join(sources_, "sub"));
  std::string path = Source("a.dat", "up and back");
  std::string roundabout = Join(Join(Join(sources_, "sub"), ".."), "a.dat");
  EXPECT_EQ(PkgStageInstall("Ann", roundabout.c_str()), kInstalled);
  // On Windows "C:a.dat" is a.dat in drive C's current folder.
  if (!kPosixFiles) {
    std::filesystem::path was = std::filesystem::current_path();
    std::filesystem::current_path(sources_);
    EXPECT_EQ(PkgStageInstall("Ann", (sources_.substr(0, 2) + "a.dat").c_str()), kAlreadyInstalled);
    std::filesystem::current_path(was);
  }
  EXPECT_EQ(FilesBelow(base_), StoreWith("a.dat"));
}

// Where a request is staged, in the ANSI code page: the last component of
// the path, in the user's folder, below the store's base. In a double-byte
// code page (the Windows run in code page 932) the second byte of a
// character can be 0x5C, a backslash, and is never taken for a separator.
struct StagedAs {
  const char* what = "";
  std::string base = "base";  // the folder, below a scratch folder, that holds the store
  std::string user = {};
  std::string name = {};    // the source's, below the sources folder
  std::string staged = "";  // the name staged, when not |name|
  bool made = true;         // whether |base| is there before the install
};

LOADFILE_PRINTS_ROWS(StagedAs)

const std::vector<StagedAs>& StagedAsRows() {
  static const std::vector<StagedAs> rows = [] {
    std::vector<StagedAs> all = {
        {.what = "plain names", .user = "Ann", .name = "a.dat"},
        {.what = "name like a working file's", .user = "Ann", .name = "_pkgstage.lock"},
        {.what = "name of the working files' prefix without its dot",
         .user = "Ann",
         .name = ".pkgstage"},
        {.what = "a dot and a letter, a user of one letter", .user = "A", .name = ".a"},
        {.what = "two dots and a letter", .user = "..a", .name = "..a"},
        {.what = "store's folder not made yet", .user = "Ann", .name = "a.dat", .made = false},
        {.what = "store's folder ending in a separator",
         .base =
             std::string("base") + static_cast<char>(std::filesystem::path::preferred_separator),
         .user = "Ann",
         .name = "a.dat"}};
    // Windows opens a name without its trailing dots and blanks, and so
    // does the copy: the file staged is the one read.
    if (!kPosixFiles) {
      all.push_back({.what = "file name ending in dots and blanks",
                     .user = "Ann",
                     .name = "report.prc. .",
                     .staged = "report.prc"});
    }
    if (AnsiCodePage() == 932) {
      // U+8868, 0x95 0x5C in code page 932; 0x7C, '|', is a second byte
      // too, and no character of Windows's own.
      all.push_back({.what = "file name ending its character in 0x5C",
                     .user = "Ann",
                     .name = "\x95\x5c.dat"});
      all.push_back(
          {.what = "user ending its character in 0x5C", .user = "\x95\x5c", .name = "a.dat"});
      all.push_back({.what = "store below a folder ending in 0x5C",
                     .base = "\x95\x5c",
                     .user = "Ann",
                     .name = "a.dat"});
      all.push_back(
          {.what = "user ending its character in 0x7C", .user = "\x83\x7c", .name = "a.dat"});
    }
    return all;
  }();
  return rows;
}

class StagedAsTest : public StandInTest, public ::testing::WithParamInterface<StagedAs> {};

TEST_P(StagedAsTest, StagesUnderTheUserAndTheFileName) {
  // The run that asks for a code page must have it, or it tests nothing.
  if (const char* asked = std::getenv("LOADFILE_CODE_PAGE")) {
    ASSERT_EQ(AnsiCodePage(), static_cast<unsigned>(std::atoi(asked)));
  }
  const StagedAs& s = GetParam();
  std::string base = Join(base_, s.base);
  if (s.made) MakeFolders(base);
  SetEnvironment(kStoreBaseVariable, base);
  std::string path = Source(s.name, "bytes");
  int files = OpenFiles();
  EXPECT_EQ(PkgStageInstall(s.user.c_str(), path.c_str()), kInstalled);
  EXPECT_EQ(OpenFiles(), files);
  std::string staged = s.staged.empty() ? s.name : s.staged;
  EXPECT_EQ(ReadBytes(Join(Join(Join(base, "pkgstage"), s.user), staged)), "bytes");
  // Under that name alone, not also under the one asked for.
  if (!s.staged.empty()) {
    EXPECT_EQ(FilesBelow(Join(Join(base, "pkgstage"), s.user)), (Files{".pkgstage.lock", staged}));
  }
  EXPECT_EQ(PkgStageInstall(s.user.c_str(), path.c_str()), kAlreadyInstalled);
}

INSTANTIATE_TEST_SUITE_P(Table, StagedAsTest, ::testing::ValuesIn(StagedAsRows()), RowName());

// Arguments no caller should pass: none at all, or a path that is empty.
TEST_F(StandInTest, MissingArgumentsAreRefused) {
  std::string path = Source("a.dat", "bytes");
  EXPECT_EQ(PkgStageInstall(nullptr, path.c_str()), kBadUserName);
  EXPECT_EQ(PkgStageInstall("Ann", nullptr), kBadFileName);
  EXPECT_EQ(PkgStageInstall("Ann", ""), kBadFileName);
  EXPECT_EQ(FilesBelow(base_), Files{});
  // Nor is a path too long to take at all (32768 bytes, one past the room
  // with its NUL) read as the one before it.
  ASSERT_EQ(PkgStageInstall("Ann", path.c_str()), kInstalled);
  std::string over = path + std::string(32768 - path.size(), '/');
  EXPECT_EQ(PkgStageInstall("Ann", over.c_str()), kSourceUnreadable);
}

TEST_F(StandInTest, CopiesLargeFilesWhole) {
  std::string bytes(3 * 1024 * 1024 + 17, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7919 >> 5);
  std::string path = Source("big.bin", bytes);
  EXPECT_EQ(PkgStageInstall("Ann", path.c_str()), kInstalled);
  EXPECT_TRUE(ReadBytes(Staged("Ann", "big.bin")) == bytes);
  EXPECT_EQ(PkgStageInstall("Ann", path.c_str()), kAlreadyInstalled);
}

// Requests refused before anything is written: the store stays as it was.
struct Refused {
  const char* what = "";
  std::string user = {};
  std::string name = {};  // below the sources folder; "" for the folder itself
  int status = 0;
};

class RefusedTest : public StandInTest, public ::testing::WithParamInterface<Refused> {};

TEST_P(RefusedTest, LeavesNothingBehind) {
  const Refused& r = GetParam();
  Source("a.dat", "bytes");
  Source(".pkgstage.lock", "not ours");
  std::filesystem::create_directories(Join(sources_, "folder"));
  std::string path = r.name.empty() ? sources_ + "/" : Join(sources_, r.name);
  if (kPosixFiles) MakeFifo(Join(sources_, "fifo"));
  // The host's /dev/null, which reads as an empty file but is no file.
  if (r.name == "device") MakeHostLink(kPosixFiles ? "/dev/null" : "Z:\\dev\\null", path);
  EXPECT_EQ(PkgStageInstall(r.user.c_str(), path.c_str()), r.status);
  EXPECT_EQ(FilesBelow(base_), Files{});
}

LOADFILE_PRINTS_ROWS(Refused)

// Names that Windows cannot name as they stand: without \\?\ it would drop
// a trailing dot or blank ("Ann." and "Ann" would be two users, one of them
// out of Explorer's and cmd's reach), take a device name for the device, and
// refuse the other characters. Linux keeps its rules (see below). They are
// the table's rows for Windows, where the command line is wide.
const std::vector<Refused> kWindowsNames = {
    // clang-format off
    {.what = "user ending in a dot", .user = "Ann.", .name = "a.dat", .status = kBadUserName},
    {.what = "user ending in a blank", .user = "Ann ", .name = "a.dat", .status = kBadUserName},
    {.what = "user named as a device", .user = "Con", .name = "a.dat", .status = kBadUserName},
    {.what = "user named as a device with an extension", .user = "aux.dat", .name = "a.dat",
     .status = kBadUserName},
    {.what = "user named as a port", .user = "COM1", .name = "a.dat", .status = kBadUserName},
    {.what = "user named as a port with an extension", .user = "lpt2.txt", .name = "a.dat",
     .status = kBadUserName},
    {.what = "user named as port 0", .user = "LPT0", .name = "a.dat", .status = kBadUserName},
    {.what = "user named as the printer", .user = "prn", .name = "a.dat",
     .status = kBadUserName},
    {.what = "user named as a port with a superscript digit", .user = "com\xb9", .name = "a.dat",
     .status = kBadUserName},
    {.what = "user named as a port with superscript two", .user = "COM\xb2", .name = "a.dat",
     .status = kBadUserName},
    {.what = "user named as a port with superscript three", .user = "lpt\xb3", .name = "a.dat",
     .status = kBadUserName},
    {.what = "user named as a device before blanks", .user = "NUL  .x", .name = "a.dat",
     .status = kBadUserName},
    {.what = "user with a star", .user = "a*b", .name = "a.dat", .status = kBadUserName},
    {.what = "user with a question mark", .user = "a?b", .name = "a.dat", .status = kBadUserName},
    {.what = "user with a pipe", .user = "a|b", .name = "a.dat", .status = kBadUserName},
    {.what = "user with a quote", .user = "a\"b", .name = "a.dat", .status = kBadUserName},
    {.what = "user with angle brackets", .user = "<Ann>", .name = "a.dat", .status = kBadUserName},
    {.what = "file named as a device", .user = "Ann", .name = "con.prc", .status = kBadFileName},
    {.what = "file name of dots and blanks", .user = "Ann", .name = "folder\\. .",
     .status = kBadFileName},
    // clang-format on
};

// Names and paths refused on every platform.
const std::vector<Refused> kRefusedNames = {
    // clang-format off
    {.what = "empty user", .user = "", .name = "a.dat", .status = kBadUserName},
    {.what = "dot user", .user = ".", .name = "a.dat", .status = kBadUserName},
    {.what = "dot dot user", .user = "..", .name = "a.dat", .status = kBadUserName},
    {.what = "user climbing with slash", .user = "../x", .name = "a.dat", .status = kBadUserName},
    {.what = "user climbing with backslash", .user = "..\\x", .name = "a.dat",
     .status = kBadUserName},
    {.what = "absolute user", .user = "/tmp", .name = "a.dat", .status = kBadUserName},
    {.what = "user with a drive", .user = "C:x", .name = "a.dat", .status = kBadUserName},
    {.what = "user with a tab", .user = "a\tb", .name = "a.dat", .status = kBadUserName},
    {.what = "user with a line feed", .user = "a\nb", .name = "a.dat", .status = kBadUserName},
    {.what = "user with delete", .user = "a\x7f", .name = "a.dat", .status = kBadUserName},
    {.what = "user with 0x1F", .user = "a\x1f", .name = "a.dat", .status = kBadUserName},
    {.what = "user of 256 bytes", .user = std::string(256, 'u'), .name = "a.dat",
     .status = kBadUserName},
    {.what = "path ending in a separator", .user = "Ann", .name = "", .status = kBadFileName},
    {.what = "path ending in dot", .user = "Ann", .name = "folder/.", .status = kBadFileName},
    {.what = "path ending in dot dot", .user = "Ann", .name = "folder/..", .status = kBadFileName},
    // No name the stand-in builds takes 4096 bytes (on Windows, units).
    {.what = "file name of 4096 bytes", .user = "Ann", .name = std::string(4096, 'n'),
     .status = kBadFileName},
    {.what = "reserved lock name", .user = "Ann", .name = ".pkgstage.lock", .status = kBadFileName},
    {.what = "reserved name in other case", .user = "Ann", .name = ".PKGSTAGE.TMP",
     .status = kBadFileName},
    {.what = "missing source", .user = "Ann", .name = "missing.dat", .status = kSourceUnreadable},
    {.what = "source that is a folder", .user = "Ann", .name = "folder",
     .status = kSourceUnreadable},
    {.what = "source that is a device", .user = "Ann", .name = "device",
     .status = kSourceUnreadable},
    // clang-format on
};

// A FIFO without a writer is refused at once, never waited on.
const std::vector<Refused> kPosixRefused = {
    {.what = "source that is a FIFO", .user = "Ann", .name = "fifo", .status = kSourceUnreadable},
};

// In a double-byte code page a lead byte without its second is no text.
std::vector<Refused> RefusedRows() {
  std::vector<Refused> rows = PlatformRows(kRefusedNames, kWindowsNames, kPosixRefused);
  if (AnsiCodePage() == 932) {
    rows.push_back({.what = "user ending in a lead byte",
                    .user = "Ann\x95",
                    .name = "a.dat",
                    .status = kBadUserName});
  }
  return rows;
}

INSTANTIATE_TEST_SUITE_P(Table, RefusedTest, ::testing::ValuesIn(RefusedRows()), RowName());

// States left in the store before an install, by an interrupted run or by
// another program of the user's. Whatever the state, the install changes
// nothing outside the store and leaves no open file; a staged copy is a
// file of its own with exactly the source's bytes; and once any holder has
// let go, the next install goes through and leaves no temporary file.
struct Planted {
  const char* what = "";
  // Files in Ann's folder, and the bytes they hold.
  std::vector<std::pair<std::string, std::string>> files = {};
  // Symbolic links in Ann's folder, each to a name in a folder outside the
  // store that holds "file" and "folder".
  std::vector<std::pair<std::string, std::string>> links = {};
  int status = 0;
  // A name in Ann's folder that another program holds open (HoldOpen) from
  // the install's start, until the call |how| acts at, |held_ms| have
  // passed, or its end.
  std::string held = "";
  int held_ms = 0;
  // Calls of the install failed through the seam.
  Failing how = {};
  // Zero bytes added at the end of each planted file, as a hole; and
  // whether the staged file is then told from the source by its size
  // alone, with nothing read before the copy.
  uint64_t hole = 0;
  bool unread = false;
  bool read_only = false;  // the planted files
};

LOADFILE_PRINTS_ROWS(Planted)

const std::vector<Planted>& PlantedStates() {
  const std::string stale(64 * 1024, 's');
  const auto tmp = ".pkgstage.tmp";
  const auto lock = ".pkgstage.lock";
  // clang-format off
  static const std::vector<Planted> all = {
    {.what = "stale temporary file longer than the source", .files = {{tmp, stale}},
     .status = kInstalled},
    // Sizes are compared whole: 4 GiB more is not the same size.
    {.what = "staged file 4 GiB longer than the source",
     .files = {{"a.dat", "the source's bytes"}}, .status = kInstalled, .hole = 1ULL << 32,
     .unread = true},
    {.what = "link as the staged file", .links = {{"a.dat", "file"}}, .status = kInstalled},
  };
  // Windows refuses to rename over a file, or delete it, while another
  // program holds it open without sharing that; scanners do for moments,
  // and the install waits about 2 s for them.
  static const std::vector<Planted> held = {
    {.what = "staged file held by a reader until the third rename",
     .files = {{"a.dat", "old bytes"}}, .status = kInstalled, .held = "a.dat",
     .how = {.act_at = "MoveFileExW", .act_from = 3}},
    {.what = "staged file held past the wait", .files = {{"a.dat", "old bytes"}},
     .status = kStoreFailed, .held = "a.dat"},
    {.what = "leftover temporary file held past the wait", .files = {{tmp, stale}},
     .status = kStoreFailed, .held = tmp},
    {.what = "leftover temporary file held for 300 ms", .files = {{tmp, stale}},
     .status = kInstalled, .held = tmp, .held_ms = 300},
    // Windows refuses to delete a read-only file at all.
    {.what = "read-only leftover temporary file", .files = {{tmp, stale}}, .status = kInstalled,
     .read_only = true},
    // A leftover that stays is never renamed into place.
    {.what = "leftover temporary file that cannot be deleted", .files = {{tmp, stale}},
     .status = kStoreFailed, .how = {.call = "DeleteFileW", .times = -1, .fault = kDiskFault}},
  };
  // Links planted as working files go as names, and the install goes on.
  // (Wine opens and deletes its host's links as their targets.)
  static const std::vector<Planted> links = {
    {.what = "link as the temporary file", .links = {{tmp, "file"}}, .status = kInstalled},
    {.what = "dangling link as the temporary file", .links = {{tmp, "missing"}},
     .status = kInstalled},
    {.what = "link as the lock file", .links = {{lock, "file"}}, .status = kInstalled},
    {.what = "dangling link as the lock file", .links = {{lock, "missing"}},
     .status = kInstalled},
    // Nor is its target written through it.
    {.what = "link as the temporary file that cannot be removed", .links = {{tmp, "file"}},
     .status = kStoreFailed, .how = {.call = "unlink", .times = -1, .fault = kDiskFault}},
  };
  // clang-format on
  static const std::vector<Planted> rows = PlatformRows(all, held, links);
  return rows;
}

class PlantedTest : public StandInTest, public ::testing::WithParamInterface<Planted> {};

// Every file below |folder| with its bytes, links as their targets.
std::vector<std::pair<std::string, std::string>> Snapshot(const std::string& folder) {
  std::vector<std::pair<std::string, std::string>> files = {};
  for (const std::string& name : FilesBelow(folder)) {
    std::filesystem::path path = std::filesystem::path(folder) / name;
    std::string bytes = std::filesystem::is_symlink(path)
                            ? "-> " + std::filesystem::read_symlink(path).string()
                        : std::filesystem::is_regular_file(path) ? ReadBytes(path.string())
                                                                 : "folder";
    files.emplace_back(name, bytes + (IsReadOnly(path.string()) ? " (read-only)" : ""));
  }
  return files;
}

TEST_P(PlantedTest, StagesOnlyInsideTheStore) {
  const Planted& p = GetParam();
  std::string outside = NewScratchFolder();
  WriteBytes(Join(outside, "file"), "outside the store");
  std::filesystem::create_directories(Join(outside, "folder"));
  std::string folder = Join(Join(base_, "pkgstage"), "Ann");
  std::filesystem::create_directories(folder);
  for (const auto& file : p.files) {
    WriteBytes(Join(folder, file.first), file.second);
    if (p.hole != 0) Lengthen(Join(folder, file.first), p.hole);
    if (p.read_only) MakeReadOnly(Join(folder, file.first));
  }
  for (const auto& link : p.links)
    MakeHostLink(Join(outside, link.second), Join(folder, link.first));
  std::string source = Source("a.dat", "the source's bytes");
  auto before = Snapshot(outside);
  int files = OpenFiles();

  intptr_t hold = p.held.empty() ? 0 : HoldOpen(Join(folder, p.held));
  std::thread holder;
  if (p.held_ms > 0) {
    holder = std::thread([&p, hold] {
      std::this_thread::sleep_for(std::chrono::milliseconds(p.held_ms));
      LetGo(hold);
    });
  }
  Failing watch = p.how;
  if (!watch.act_at.empty()) {
    watch.act = [&] {
      LetGo(hold);
      hold = 0;
    };
  }
  watch.watched = Join(outside, "file");
  EXPECT_EQ(InstallFailing("Ann", source, watch), p.status);
  if (holder.joinable()) {
    holder.join();
    hold = 0;
  }
  LetGo(hold);
  if (!p.how.act_at.empty()) {
    EXPECT_EQ(failing.act, nullptr) << "the holder never let go";
  }
  EXPECT_FALSE(failing.locked) << "the file outside was locked through a link";
  if (p.unread) {
    // As many reads as a first install, for Bob, who has nothing staged.
    auto reads = [] {
      return std::count_if(failing.calls.begin(), failing.calls.end(),
                           [](const auto& call) { return call == "read" || call == "ReadFile"; });
    };
    auto replacing = reads();
    EXPECT_EQ(InstallFailing("Bob", source, {}), kInstalled);
    EXPECT_EQ(replacing, reads());
  }
  EXPECT_EQ(OpenFiles(), files);
  if (p.status != kInstalled) {
    EXPECT_EQ(PkgStageInstall("Ann", source.c_str()), kInstalled) << "once the holder let go";
  }
  EXPECT_EQ(Snapshot(outside), before);
  for (const std::string& name : FilesBelow(folder)) {
    EXPECT_TRUE(name == "a.dat" || name == ".pkgstage.lock" ||
                std::count_if(p.files.begin(), p.files.end(),
                              [&](const auto& file) { return file.first == name; }))
        << name << " was left behind";
  }
  EXPECT_FALSE(
      std::filesystem::exists(std::filesystem::symlink_status(Join(folder, ".pkgstage.tmp"))));
  for (const auto& file : p.files) {
    if (file.first != "a.dat" && file.first != ".pkgstage.tmp") {
      EXPECT_EQ(ReadBytes(Join(folder, file.first)), file.second) << file.first;
    }
  }
  EXPECT_FALSE(std::filesystem::is_symlink(Join(folder, "a.dat")));
  EXPECT_EQ(ReadBytes(Join(folder, "a.dat")), "the source's bytes");
  EXPECT_FALSE(IsReadOnly(Join(folder, "a.dat")));
  EXPECT_EQ(PkgStageInstall("Ann", source.c_str()), kAlreadyInstalled);
  EXPECT_EQ(OpenFiles(), files);
  RemoveFolder(outside);
}

INSTANTIATE_TEST_SUITE_P(Table, PlantedTest, ::testing::ValuesIn(PlantedStates()), RowName());

// The disk fails one call of an install, each in turn, for a first install,
// a replacement and an install of what is there already: the store stays
// whole, and no descriptor or handle is left open, or closed, that the
// install did not open. An install reports 0 only with the new bytes staged, -512 only
// with them there before, and otherwise leaves what was there; a disk
// fault is never a bad name; nothing is left behind, and the next install
// goes through.
TEST_F(StandInTest, EachCallFailedInTurnKeepsTheStoreWhole) {
  std::string path = Source("a.dat", "");
  std::string staged = Staged("Ann", "a.dat");
  Files store = StoreWith("a.dat");
  for (const char* before : {"", "old bytes", "new bytes"}) {
    for (int call = 1;; ++call) {
      RemoveFolder(Join(base_, "pkgstage"));
      if (*before != '\0') {
        WriteBytes(path, before);
        ASSERT_EQ(PkgStageInstall("Ann", path.c_str()), kInstalled);
      }
      WriteBytes(path, "new bytes");
      int files = OpenFiles();
      int status = InstallFailing("Ann", path, {.from = call, .times = 1, .fault = kDiskFault});
      // Counted at once: the C library opens handles of its own on first use.
      int left_open = OpenFiles() - files;
      if (failing.failed == 0) break;
      SCOPED_TRACE(std::string(before) + ", call " + std::to_string(call) + ": " + failing.last);
      std::string now = std::filesystem::exists(staged) ? ReadBytes(staged) : "";
      EXPECT_NE(status, kBadUserName);
      EXPECT_NE(status, kBadFileName);
      EXPECT_EQ(left_open, 0);
      if (status == kInstalled || status == kAlreadyInstalled) {
        EXPECT_EQ(now, "new bytes");
        if (status == kAlreadyInstalled) {
          EXPECT_EQ(std::string(before), "new bytes");
        }
      } else {
        EXPECT_EQ(now, before);
      }
      Files below = FilesBelow(base_);
      EXPECT_TRUE(std::includes(store.begin(), store.end(), below.begin(), below.end()));
      status = PkgStageInstall("Ann", path.c_str());
      EXPECT_TRUE(status == kInstalled || status == kAlreadyInstalled) << status;
      EXPECT_EQ(ReadBytes(staged), "new bytes");
      EXPECT_EQ(FilesBelow(base_), store);
    }
  }
}

// Calls failed as the world fails them, replacing old bytes with new.
struct Failed {
  const char* what = "";
  Failing how = {};
  int status = 0;
  // Where it matters, how often the call was made: 1 for a refusal that no
  // wait ends, 2 for more than once (a holder's, waited for).
  int tries = 0;
  std::string read_only = "";  // a file of Ann's made read-only
};

LOADFILE_PRINTS_ROWS(Failed)

class FailedTest : public StandInTest, public ::testing::WithParamInterface<Failed> {};
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(FailedTest);

TEST_P(FailedTest, KeepsTheStoreWhole) {
  const Failed& f = GetParam();
  std::string path = Source("a.dat", "old bytes");
  ASSERT_EQ(PkgStageInstall("Ann", path.c_str()), kInstalled);
  if (!f.read_only.empty()) MakeReadOnly(Staged("Ann", f.read_only));
  WriteBytes(path, "new bytes");
  EXPECT_EQ(InstallFailing("Ann", path, f.how), f.status);
  EXPECT_GT(failing.failed, 0) << "no such call";
  if (f.tries == 1) {
    EXPECT_EQ(failing.failed, 1);
  }
  if (f.tries == 2) {
    EXPECT_GT(failing.failed, 1);
  }
  EXPECT_EQ(ReadBytes(Staged("Ann", "a.dat")), f.status == kInstalled ? "new bytes" : "old bytes");
  EXPECT_EQ(FilesBelow(base_), StoreWith("a.dat"));
}

// Windows's calls: a holder (a scanner, an indexer) refuses a call for a
// while, as a sharing violation or a denied access; a read-only target
// refuses the rename for good, which its attributes tell at once. A
// sharing violation is a holder's, whatever the attributes.
const std::vector<Failed> kWindowsFailures = {
    // clang-format off
    {.what = "rename refused by a holder for a moment", .how = {.call = "MoveFileExW", .times = 3,
     .fault = kHeldFault}, .status = kInstalled},
    {.what = "rename refused by a holder past the wait", .how = {.call = "MoveFileExW",
     .times = -1, .fault = kHeldFault}, .status = kStoreFailed, .tries = 2},
    {.what = "rename denied while held, then allowed", .how = {.call = "MoveFileExW", .times = 3,
     .fault = kDeniedFault}, .status = kInstalled},
    {.what = "rename denied, target read-only", .how = {.call = "MoveFileExW", .times = -1,
     .fault = kDeniedFault}, .status = kStoreFailed, .tries = 1, .read_only = "a.dat"},
    {.what = "rename failed by the disk", .how = {.call = "MoveFileExW", .times = -1,
     .fault = kDiskFault}, .status = kStoreFailed, .tries = 1},
    {.what = "lock file held for a moment", .how = {.call = "CreateFileW lock", .times = 2,
     .fault = kHeldFault}, .status = kInstalled},
    {.what = "read-only lock file held for a moment", .how = {.call = "CreateFileW lock",
     .times = 2, .fault = kHeldFault}, .status = kInstalled, .read_only = ".pkgstage.lock"},
    {.what = "lock file held past the wait", .how = {.call = "CreateFileW lock", .times = -1,
     .fault = kHeldFault}, .status = kStoreFailed, .tries = 2},
    {.what = "copy's name held for a moment", .how = {.call = "CreateFileW copy", .times = 2,
     .fault = kDeniedFault}, .status = kInstalled},
    {.what = "source's type unreadable", .how = {.call = "GetFileType", .times = 1,
     .fault = kDiskFault}, .status = kSourceUnreadable},
    {.what = "source's size unreadable", .how = {.call = "GetFileSizeEx", .times = 1,
     .fault = kDiskFault}, .status = kSourceUnreadable},
    {.what = "source unreadable while compared", .how = {.call = "ReadFile", .times = 1,
     .fault = kDiskFault}, .status = kSourceUnreadable},
    {.what = "copy's flush failed", .how = {.call = "FlushFileBuffers", .times = -1,
     .fault = kDiskFault}, .status = kStoreFailed},
    // Without the lock two installs at once could both stage.
    {.what = "lock refused", .how = {.call = "LockFileEx", .times = -1, .fault = kDiskFault},
     .status = kStoreFailed},
    // clang-format on
};

// A file whose type or size cannot be read is not taken for one that is
// fine: the source's fails the install as unreadable, the lock's as the
// store's fault. POSIX: fstat of the source, the lock, the staged file, then
// the sizes of the source and the staged file.
const std::vector<Failed> kPosixFailures = {
    // clang-format off
    {.what = "source's type unreadable", .how = {.call = "fstat", .times = 1,
     .fault = kDiskFault}, .status = kSourceUnreadable},
    {.what = "source's size unreadable", .how = {.call = "fstat", .from = 3, .times = 1,
     .fault = kDiskFault}, .status = kSourceUnreadable},
    // The source, then the staged file, are read to compare them; then the
    // source again, to copy it.
    {.what = "source unreadable while compared", .how = {.call = "read", .times = 1,
     .fault = kDiskFault}, .status = kSourceUnreadable},
    {.what = "source unreadable while copied", .how = {.call = "read", .from = 3,
     .times = -1, .fault = kDiskFault}, .status = kSourceUnreadable},
    {.what = "write failed while copied", .how = {.call = "write", .times = -1,
     .fault = kDiskFault}, .status = kStoreFailed},
    {.what = "copy's flush failed", .how = {.call = "fsync", .times = -1,
     .fault = kDiskFault}, .status = kStoreFailed},
    {.what = "lock refused", .how = {.call = "flock", .times = -1, .fault = kDiskFault},
     .status = kStoreFailed},
    // A signal cuts a call short: it is made again.
    {.what = "read interrupted", .how = {.call = "read", .times = 1,
     .fault = kInterruptedFault}, .status = kInstalled},
    {.what = "wait for the lock interrupted", .how = {.call = "flock", .times = 1,
     .fault = kInterruptedFault}, .status = kInstalled},
    {.what = "read interrupted while copied", .how = {.call = "read", .from = 3,
     .times = 1, .fault = kInterruptedFault}, .status = kInstalled},
    {.what = "write interrupted", .how = {.call = "write", .times = 1,
     .fault = kInterruptedFault}, .status = kInstalled},
    // clang-format on
};

INSTANTIATE_TEST_SUITE_P(Table, FailedTest,
                         ::testing::ValuesIn(PlatformRows({}, kWindowsFailures, kPosixFailures)),
                         RowName());

// The copy is written through a handle that shares nothing: no scanner or
// indexer reads it half-written. POSIX files have no such sharing.
TEST_F(StandInTest, CopyIsNotSharedWhileWritten) {
  if (kPosixFiles) GTEST_SKIP() << "no share modes here";
  std::string path = Source("a.dat", "bytes");
  intptr_t reader = 1;
  Failing writing;
  writing.act_at = "WriteFile";
  writing.act = [&] {
    reader = HoldOpen(Join(Join(Join(base_, "pkgstage"), "Ann"), ".pkgstage.tmp"), true);
    LetGo(reader);
  };
  EXPECT_EQ(InstallFailing("Ann", path, writing), kInstalled);
  EXPECT_EQ(failing.act, nullptr) << "nothing was written";
  EXPECT_EQ(reader, 0) << "the copy was opened while written";
}

// The copy's bytes reach the disk before its rename, which is written
// through (MOVEFILE_WRITE_THROUGH). On POSIX faults_test checks the order
// with the folder each fsync flushes, which the seam cannot tell.
TEST_F(StandInTest, CopyIsFlushedBeforeItsRename) {
  if (kPosixFiles) GTEST_SKIP() << "faults_test checks the durable order";
  std::string path = Source("a.dat", "bytes");
  EXPECT_EQ(InstallFailing("Ann", path, {}), kInstalled);
  Files order;
  for (const std::string& call : failing.calls) {
    if (call == "WriteFile" || call == "FlushFileBuffers" || call == "MoveFileExW") {
      if (order.empty() || order.back() != call) order.push_back(call);
    }
  }
  EXPECT_EQ(order, (Files{"WriteFile", "FlushFileBuffers", "MoveFileExW"}));
}

// A source that shrinks after its size was read, while it is compared with
// the staged copy of its old bytes, is not "already installed": the
// comparison reads to the ends of both.
TEST_F(StandInTest, SourceThatShrinksWhileComparedIsCopied) {
  std::string path = Source("a.dat", "abcdef");
  ASSERT_EQ(PkgStageInstall("Ann", path.c_str()), kInstalled);
  Failing shrinks;
  shrinks.act_at = kPosixFiles ? "read" : "ReadFile";
  shrinks.act = [&] { WriteBytes(path, "abc"); };
  EXPECT_EQ(InstallFailing("Ann", path, shrinks), kInstalled);
  EXPECT_EQ(failing.act, nullptr) << "the source was never read";
  EXPECT_EQ(ReadBytes(Staged("Ann", "a.dat")), "abc");
}

// Nor is a staged copy that another program cuts short while it is
// compared: 16 KiB of one byte, compared in two parts, the staged file cut
// to its first part just before that part is read again.
TEST_F(StandInTest, StagedFileThatShrinksWhileComparedIsReplaced) {
  std::string bytes(16384, 'a');
  std::string path = Source("a.dat", bytes);
  ASSERT_EQ(PkgStageInstall("Ann", path.c_str()), kInstalled);
  Failing shrinks;
  shrinks.act_at = kPosixFiles ? "read" : "ReadFile";
  shrinks.act_from = 4;  // the source's part, the staged file's, the source's again
  shrinks.act = [&] { WriteBytes(Staged("Ann", "a.dat"), bytes.substr(0, 8192)); };
  EXPECT_EQ(InstallFailing("Ann", path, shrinks), kInstalled);
  EXPECT_EQ(failing.act, nullptr) << "the staged file was never read again";
  EXPECT_EQ(ReadBytes(Staged("Ann", "a.dat")), bytes);
}

// The user's own links on the way to the store are followed, as any of the
// user's programs follows them (dotfile managers make ~/.local one), and a
// profile the ANSI code page cannot name holds a store all the same: no
// caller ever names the store.
TEST_F(StandInTest, StoreThroughTheUsersLinksInstalls) {
  std::string path = Source("a.dat", "bytes");
  if (!kPosixFiles) {
    ScopedVariable base(kStoreBaseVariable, base_ + "\\\xe6\x97\xa5");
    EXPECT_EQ(PkgStageInstall("Ann", path.c_str()), kInstalled);
    EXPECT_EQ(PkgStageInstall("Ann", path.c_str()), kAlreadyInstalled);
  }
  if (HostPath(base_).empty()) GTEST_SKIP() << "no host to make links from";
  std::string store = kPosixFiles ? ".local/share/pkgstage" : "AppData/pkgstage";
  Files linked = {kPosixFiles ? ".local/share" : "AppData", store, store + "/Ann"};
  if (kPosixFiles) linked.insert(linked.begin(), ".local");
  for (const std::string& link : linked) {
    SCOPED_TRACE(link);
    std::string home = NewScratchFolder();
    std::string elsewhere = NewScratchFolder();
    ScopedVariable base(kStoreBaseVariable, Join(home, "AppData"), kPosixFiles);
    ScopedVariable at_home("HOME", home, !kPosixFiles);
    if (link.find('/') != std::string::npos)
      MakeFolders(Join(home, link.substr(0, link.rfind('/'))));
    MakeHostLink(elsewhere, Join(home, link));
    EXPECT_EQ(PkgStageInstall("Ann", path.c_str()), kInstalled);
    EXPECT_EQ(PkgStageInstall("Ann", path.c_str()), kAlreadyInstalled);
    EXPECT_EQ(ReadBytes(Join(Join(Join(home, store), "Ann"), "a.dat")), "bytes");
    RemoveFolder(elsewhere);
    RemoveFolder(home);
  }
}

// Without its variable the store is below $HOME, as XDG says, or on Windows
// below the shell's local application data folder: Windows 2000 and XP set
// no LOCALAPPDATA.
TEST_F(StandInTest, DefaultStoreWithoutTheVariable) {
  std::string path = Source("a.dat", "bytes");
  SetEnvironment(kStoreBaseVariable, "", true);
  ScopedVariable home("HOME", base_, !kPosixFiles);
  // The Windows folder is the prefix's own: a user of this run's alone.
  std::string user = std::filesystem::path(NewScratchFolder()).filename().string();
  std::string folder = Join(Join(DefaultStoreBase(), "pkgstage"), user);
  EXPECT_EQ(PkgStageInstall(user.c_str(), path.c_str()), kInstalled);
  EXPECT_EQ(ReadBytes(Join(folder, "a.dat")), "bytes");
  RemoveFolder(folder);
}

// A local application data folder on a network share (\\server\share\...)
// is reached as \\?\UNC\server\share\... ; one at a drive's root (Q:\)
// keeps its backslash (\\?\Q: is the volume); one named as a \\?\ path is
// taken as it stands. Wine serves such a share from a folder of its prefix,
// dosdevices/unc/SERVER/SHARE, and drive Q: from dosdevices/q:, which
// cmake/wine.sh makes.
TEST_F(StandInTest, StoreOnANetworkShareOrADrivesRoot) {
  const char* prefix = std::getenv("WINEPREFIX");
  if (kPosixFiles || prefix == nullptr) GTEST_SKIP() << "no Wine to serve a share";
  std::string name = std::filesystem::path(base_).filename().string();
  std::string share = std::string("Z:") + prefix + "/dosdevices/unc/loadfile-test/share";
  std::replace(share.begin(), share.end(), '/', '\\');
  std::filesystem::create_directories(Join(share, name));
  std::string path = Source("a.dat", "bytes");
  // The variable, the folder that holds the user's, and the user: the
  // drive is the prefix's, so its user is this run's alone.
  struct {
    std::string named = "";
    std::string store = "";
    std::string user = "";
  } stores[] = {
      {.named = "\\\\loadfile-test\\share\\" + name,
       .store = Join(Join(share, name), "pkgstage"),
       .user = "Ann"},
      {.named = "Q:\\", .store = "Q:\\pkgstage", .user = name},
      {.named = "\\\\?\\" + base_, .store = Join(base_, "pkgstage"), .user = "Ann"},
  };
  for (const auto& store : stores) {
    SCOPED_TRACE(store.named);
    SetEnvironment(kStoreBaseVariable, store.named);
    EXPECT_EQ(PkgStageInstall(store.user.c_str(), path.c_str()), kInstalled);
    EXPECT_EQ(PkgStageInstall(store.user.c_str(), path.c_str()), kAlreadyInstalled);
    EXPECT_EQ(ReadBytes(Join(Join(store.store, store.user), "a.dat")), "bytes");
    RemoveFolder(Join(store.store, store.user));
  }
  RemoveFolder(Join(share, name));
}

TEST_F(StandInTest, AcceptsTheLongestUserName) {
  std::string path = Source("a.dat", "bytes");
  EXPECT_EQ(PkgStageInstall(std::string(255, 'u').c_str(), path.c_str()), kInstalled);
}

// A path of 4095 bytes, which Linux opens and the room takes with its NUL.
TEST_F(StandInTest, AcceptsTheLongestPath) {
  if (!kPosixFiles) GTEST_SKIP() << "Wine's own path to the file would be longer";
  std::string deep = sources_;
  while (4094 - deep.size() > 250) deep = Join(deep, std::string(200, 'd'));
  MakeFolders(deep);
  std::string path = Join(deep, std::string(4094 - deep.size(), 'f'));
  WriteBytes(path, "deep");
  ASSERT_EQ(path.size(), 4095u);
  EXPECT_EQ(PkgStageInstall("Ann", path.c_str()), kInstalled);
}

// Linux keeps its rules: names that Windows refuses are plain folder and
// file names there.
TEST_F(StandInTest, LinuxKeepsItsNames) {
  if (!kPosixFiles) GTEST_SKIP() << "Windows refuses these names";
  std::string path = Source("report.prc.", "bytes");
  for (const char* user : {"NUL", "CON", "com1", "Ann.", "Ann ", "a*b"}) {
    EXPECT_EQ(PkgStageInstall(user, path.c_str()), kInstalled) << user;
    EXPECT_EQ(PkgStageInstall(user, path.c_str()), kAlreadyInstalled) << user;
    EXPECT_EQ(ReadBytes(Staged(user, "report.prc.")), "bytes") << user;
  }
}

// A short (8.3) name opens the entry it stands for: installed under the
// alias of a staged file, another file would replace it (or be taken for
// it), and the working files would be reachable too. Refused, and nothing
// changes.
TEST_F(StandInTest, ShortNameOfAnotherEntryIsRefused) {
  if (kPosixFiles) GTEST_SKIP() << "no short names here";
  std::string game = Source("Game file.prc", "the game's bytes");
  ASSERT_EQ(PkgStageInstall("Bea", game.c_str()), kInstalled);
  std::string folder = Join(Join(base_, "pkgstage"), "Bea");
  // Another folder: there the alias names no file but itself. The copy's
  // name has its alias only once the copy is made: the one it has here.
  std::filesystem::create_directories(Join(sources_, "other"));
  std::string temp = Source(".pkgstage.tmp", "");
  for (const std::string& entry :
       {Join(folder, "Game file.prc"), Join(folder, ".pkgstage.lock"), temp}) {
    std::string alias = ShortName(entry);
    ASSERT_NE(alias, "") << entry;
    ASSERT_NE(alias, std::filesystem::path(entry).filename().string());
    for (const std::string& bytes : {std::string("other bytes"), ReadBytes(entry)}) {
      std::string other = Join(Join(sources_, "other"), alias);
      WriteBytes(other, bytes);
      auto before = Snapshot(base_);
      EXPECT_EQ(PkgStageInstall("Bea", other.c_str()), kBadFileName) << alias << ": " << bytes;
      EXPECT_EQ(Snapshot(base_), before);
    }
  }
  EXPECT_EQ(ReadBytes(Join(folder, "Game file.prc")), "the game's bytes");
  // Nor is a user's folder reached through its alias.
  ASSERT_EQ(PkgStageInstall("Bea Long", game.c_str()), kInstalled);
  std::string user = ShortName(Join(Join(base_, "pkgstage"), "Bea Long"));
  ASSERT_TRUE(!user.empty() && user != "Bea Long") << user;
  EXPECT_EQ(PkgStageInstall(user.c_str(), game.c_str()), kBadUserName) << user;
}

TEST_F(StandInTest, StoreThatCannotBeMadeFailsCleanly) {
  std::string path = Source("a.dat", "bytes");
  // A file where the user's folder belongs.
  std::filesystem::create_directories(Join(base_, "pkgstage"));
  WriteBytes(Join(Join(base_, "pkgstage"), "Ann"), "in the way");
  EXPECT_EQ(PkgStageInstall("Ann", path.c_str()), kStoreFailed);
  EXPECT_EQ(FilesBelow(base_), (Files{"pkgstage", "pkgstage/Ann"}));
  EXPECT_EQ(ReadBytes(Join(Join(base_, "pkgstage"), "Ann")), "in the way");
}

TEST_F(StandInTest, StagedFolderInTheWayFailsCleanly) {
  std::string path = Source("a.dat", "bytes");
  std::filesystem::create_directories(Join(Join(Join(base_, "pkgstage"), "Ann"), "a.dat"));
  EXPECT_EQ(PkgStageInstall("Ann", path.c_str()), kStoreFailed);
  EXPECT_EQ(FilesBelow(base_), StoreWith("a.dat"));
  EXPECT_EQ(ReadBytes(path), "bytes");
}

// No folder the store could be below: on POSIX neither variable absolute
// (XDG calls a relative one invalid); on Windows a LOCALAPPDATA of MAX_PATH
// characters or more, which the folder calls it goes through do not take.
TEST_F(StandInTest, NoStoreBaseFails) {
  std::string path = Source("a.dat", "bytes");
  // A store used before: nothing of its base is taken up again.
  ASSERT_EQ(PkgStageInstall("Ann", path.c_str()), kInstalled);
  struct Environment {
    const char* what = "";
    std::string base = "";  // "" for unset
    std::string home = "";  // "" for unset
  };
  std::vector<Environment> rows = {
      {.what = "neither set"},
      {.what = "both relative", .base = "data", .home = "home"},
      {.what = "the path's room", .base = "/" + std::string(4095, 'x')},
      // The lock's path, ".../pkgstage/Ann/.pkgstage.lock", one past it.
      {.what = "the lock's path's room", .base = "/" + std::string(4067, 'x')}};
  if (!kPosixFiles) {
    rows = {{.what = "MAX_PATH characters", .base = "C:\\" + std::string(257, 'x')},
            {.what = "longer", .base = "C:\\" + std::string(300, 'x')}};
  }
  for (const Environment& row : rows) {
    ScopedVariable base(kStoreBaseVariable, row.base, row.base.empty());
    ScopedVariable home("HOME", row.home, row.home.empty() || !kPosixFiles);
    EXPECT_EQ(PkgStageInstall("Ann", path.c_str()), kStoreFailed) << row.what;
  }
  EXPECT_EQ(FilesBelow(base_), StoreWith("a.dat"));
}

// Through the real program, with the stand-in beside it.
const char kNotFoundLine[] = "Error: File not found.";

std::string Program() {
  return BuiltProgram(std::string("named-user/loadfile") + kProgramSuffix);
}

// Each outcome by the number the README gives it, in the order a user
// would meet them.
TEST_F(StandInTest, ProgramInstallsThenReportsAlreadyInstalled) {
  Source("a.dat", "bytes");
  Source(".pkgstage.lock", "not ours");
  std::filesystem::create_directories(Join(sources_, "folder"));
  std::filesystem::create_directories(Join(base_, "pkgstage"));
  WriteBytes(Join(Join(base_, "pkgstage"), "Cid"), "a file where Cid's folder belongs");
  struct {
    std::vector<std::string> args = {};
    std::string out = "";
    int exit_code = 0;
  } runs[] = {
      {.args = {"a.dat", "Ann"}, .out = "Installed file a.dat for user Ann.", .exit_code = 1},
      {.args = {"a.dat", "Ann"},
       .out = "File a.dat already installed for user Ann.",
       .exit_code = 1},
      {.args = {"a.dat", "../Ann"}, .out = "Error: Cannot install file (err=-1)."},
      {.args = {".pkgstage.lock", "Ann"}, .out = "Error: Cannot install file (err=-2)."},
      // A folder passes the probe where it can be opened for reading.
      {.args = {"folder", "Ann"},
       .out = kFolderOpens ? "Error: Cannot install file (err=-3)." : kNotFoundLine},
      {.args = {"a.dat", "Cid"}, .out = "Error: Cannot install file (err=-4)."},
  };
  for (const auto& run : runs) {
    Outcome outcome = RunProgram(Program(), run.args, sources_);
    EXPECT_EQ(outcome.out, run.out + kNewline) << run.args[0] << " " << run.args[1];
    EXPECT_EQ(outcome.exit_code, run.exit_code);
    EXPECT_EQ(outcome.err, "");
  }
  Files store = StoreWith("a.dat");
  store.push_back("pkgstage/Cid");
  EXPECT_EQ(FilesBelow(base_), store);
}

// The user's lock is taken every time, and exclusively: an install waits
// while another holds it, even shared, and goes on once it lets go.
TEST_F(StandInTest, InstallWaitsForTheUsersLock) {
  Source("a.dat", "bytes");
  std::string lock = Join(Join(Join(base_, "pkgstage"), "Ann"), ".pkgstage.lock");
  MakeFolders(Join(Join(base_, "pkgstage"), "Ann"));
  WriteBytes(lock, "");
  intptr_t held = HoldLock(lock);
  ASSERT_NE(held, 0);
  Started run = StartProgram(Program(), {"a.dat", "Ann"}, sources_);
  // Without the lock the install would be done well within this.
  for (int i = 0; i < 300 && !std::filesystem::exists(Staged("Ann", "a.dat")); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_FALSE(std::filesystem::exists(Staged("Ann", "a.dat"))) << "staged while the lock was held";
  // Nor does the waiting install keep the user from moving the store's files.
  std::error_code moved;
  std::filesystem::rename(lock, lock + ".moved", moved);
  EXPECT_FALSE(moved) << moved.message();
  std::filesystem::rename(lock + ".moved", lock, moved);
  LetGo(held);
  Outcome outcome = FinishProgram(run);
  EXPECT_EQ(outcome.out, std::string("Installed file a.dat for user Ann.") + kNewline);
  EXPECT_EQ(outcome.exit_code, 1);
}

TEST_F(StandInTest, ConcurrentInstallsStageOneWholeCopy) {
  std::string bytes(1024 * 1024, 'x');
  for (size_t i = 0; i < bytes.size(); i += 4096) bytes[i] = static_cast<char>(i >> 12);
  Source("a.dat", bytes);
  std::vector<Started> runs;
  for (int i = 0; i < 64; ++i) runs.push_back(StartProgram(Program(), {"a.dat", "Ann"}, sources_));
  int installed = 0;
  int already = 0;
  for (const Started& run : runs) {
    Outcome outcome = FinishProgram(run);
    EXPECT_EQ(outcome.exit_code, 1) << "out: " << outcome.out << "err: " << outcome.err;
    if (outcome.out == std::string("Installed file a.dat for user Ann.") + kNewline) ++installed;
    if (outcome.out == std::string("File a.dat already installed for user Ann.") + kNewline)
      ++already;
  }
  EXPECT_EQ(installed, 1);
  EXPECT_EQ(already, 63);
  EXPECT_TRUE(ReadBytes(Staged("Ann", "a.dat")) == bytes);
  EXPECT_EQ(FilesBelow(base_), StoreWith("a.dat"));
}

}  // namespace
