// The stand-in install library, called directly and through the real
// named-user program.
#include "pkgstage.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "harness.h"

namespace {

using Files = std::vector<std::string>;

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
  EXPECT_EQ(FilesBelow(base_), StoreWith("a.dat"));
}

// Where a request is staged, in the ANSI code page: the last component of
// the path, in the user's folder, below the store's base. In a double-byte
// code page (the Windows run in code page 932) the second byte of a
// character can be 0x5C, a backslash, and is never taken for a separator.
struct StagedAs {
  const char* what;
  std::string base;  // the folder, below a scratch folder, that holds the store
  std::string user;
  std::string name;  // the source's, below the sources folder
};

void PrintTo(const StagedAs& s, std::ostream* os) {
  *os << s.what;
}

const std::vector<StagedAs>& StagedAsRows() {
  static const std::vector<StagedAs> rows = [] {
    std::vector<StagedAs> all = {{"plain names", "base", "Ann", "a.dat"}};
    if (AnsiCodePage() == 932) {
      // U+8868, 0x95 0x5C in code page 932.
      all.push_back({"file name ending its character in 0x5C", "base", "Ann", "\x95\x5c.dat"});
      all.push_back({"user ending its character in 0x5C", "base", "\x95\x5c", "a.dat"});
      all.push_back({"store below a folder ending in 0x5C", "\x95\x5c", "Ann", "a.dat"});
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
  std::filesystem::create_directories(base);
  SetEnvironment(kStoreBaseVariable, base);
  std::string path = Source(s.name, "bytes");
  EXPECT_EQ(PkgStageInstall(s.user.c_str(), path.c_str()), kInstalled);
  EXPECT_EQ(ReadBytes(Join(Join(Join(base, "pkgstage"), s.user), s.name)), "bytes");
  EXPECT_EQ(PkgStageInstall(s.user.c_str(), path.c_str()), kAlreadyInstalled);
}

INSTANTIATE_TEST_SUITE_P(Table, StagedAsTest, ::testing::ValuesIn(StagedAsRows()),
                         [](const ::testing::TestParamInfo<StagedAs>& info) {
                           return TestName(info.param.what);
                         });

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
  const char* what;
  std::string user;
  std::string name;  // below the sources folder; "" for the folder itself
  int status;
};

class RefusedTest : public StandInTest, public ::testing::WithParamInterface<Refused> {};

TEST_P(RefusedTest, LeavesNothingBehind) {
  const Refused& r = GetParam();
  Source("a.dat", "bytes");
  Source(".pkgstage.lock", "not ours");
  std::filesystem::create_directories(Join(sources_, "folder"));
  std::string path = r.name.empty() ? sources_ + "/" : Join(sources_, r.name);
  EXPECT_EQ(PkgStageInstall(r.user.c_str(), path.c_str()), r.status);
  EXPECT_EQ(FilesBelow(base_), Files{});
}

void PrintTo(const Refused& r, std::ostream* os) {
  *os << r.what;
}

INSTANTIATE_TEST_SUITE_P(
    Table, RefusedTest,
    ::testing::Values(Refused{"empty user", "", "a.dat", kBadUserName},
                      Refused{"dot user", ".", "a.dat", kBadUserName},
                      Refused{"dot dot user", "..", "a.dat", kBadUserName},
                      Refused{"user climbing with slash", "../x", "a.dat", kBadUserName},
                      Refused{"user climbing with backslash", "..\\x", "a.dat", kBadUserName},
                      Refused{"absolute user", "/tmp", "a.dat", kBadUserName},
                      Refused{"user with a drive", "C:x", "a.dat", kBadUserName},
                      Refused{"user with a tab", "a\tb", "a.dat", kBadUserName},
                      Refused{"user with a line feed", "a\nb", "a.dat", kBadUserName},
                      Refused{"user with delete", "a\x7f", "a.dat", kBadUserName},
                      Refused{"user with 0x1F", "a\x1f", "a.dat", kBadUserName},
                      Refused{"user of 256 bytes", std::string(256, 'u'), "a.dat", kBadUserName},
                      Refused{"path ending in a separator", "Ann", "", kBadFileName},
                      Refused{"path ending in dot", "Ann", "folder/.", kBadFileName},
                      Refused{"path ending in dot dot", "Ann", "folder/..", kBadFileName},
                      Refused{"reserved lock name", "Ann", ".pkgstage.lock", kBadFileName},
                      Refused{"reserved name in other case", "Ann", ".PKGSTAGE.TMP", kBadFileName},
                      Refused{"missing source", "Ann", "missing.dat", kSourceUnreadable},
                      Refused{"source that is a folder", "Ann", "folder", kSourceUnreadable}),
    [](const ::testing::TestParamInfo<Refused>& info) { return TestName(info.param.what); });

// States left in the store before an install, by an interrupted run or by
// someone who can write there. Whatever the state, the install leaves no
// temporary file and no open file behind, changes nothing outside the
// store, and a staged copy is a file of its own with exactly the source's
// bytes.
struct Planted {
  const char* what;
  // Files in Ann's folder, and the bytes they hold.
  std::vector<std::pair<std::string, std::string>> files;
  // Symbolic links in Ann's folder ("" for the folder itself), each to a
  // name in a folder outside the store that holds "file" and "folder".
  std::vector<std::pair<std::string, std::string>> links;
  int status;
};

void PrintTo(const Planted& p, std::ostream* os) {
  *os << p.what;
}

const std::vector<Planted>& PlantedStates() {
  const std::string stale(64 * 1024, 's');
  // clang-format off
  static const std::vector<Planted> all = {
    {"stale temporary file longer than the source", {{".pkgstage.tmp", stale}}, {}, kInstalled},
    {"names beside the reserved ones",
     {{"pkgstage.tmp", "1"}, {".pkgstage", "2"}, {"a.dat.tmp", "3"}, {"_pkgstage.tmp", "4"}}, {},
     kInstalled},
  };
  static const std::vector<Planted> links = {
    {"link as the user's folder", {}, {{"", "folder"}}, kStoreFailed},
    {"link as the temporary file", {}, {{".pkgstage.tmp", "file"}}, kStoreFailed},
    {"dangling link as the temporary file", {}, {{".pkgstage.tmp", "missing"}}, kStoreFailed},
    {"link as the lock file", {}, {{".pkgstage.lock", "file"}}, kStoreFailed},
    {"dangling link as the lock file", {}, {{".pkgstage.lock", "missing"}}, kStoreFailed},
    {"link as the staged file", {}, {{"a.dat", "file"}}, kInstalled},
  };
  // clang-format on
  static const std::vector<Planted> rows = PlatformRows(all, {}, links);
  return rows;
}

class PlantedTest : public StandInTest, public ::testing::WithParamInterface<Planted> {};

// Every file below |folder| with its bytes, links as their targets.
std::vector<std::pair<std::string, std::string>> Snapshot(const std::string& folder) {
  std::vector<std::pair<std::string, std::string>> files;
  for (const std::string& name : FilesBelow(folder)) {
    std::filesystem::path path = std::filesystem::path(folder) / name;
    std::string bytes = std::filesystem::is_symlink(path)
                            ? "-> " + std::filesystem::read_symlink(path).string()
                        : std::filesystem::is_regular_file(path) ? ReadBytes(path.string())
                                                                 : "folder";
    files.emplace_back(name, bytes);
  }
  return files;
}

TEST_P(PlantedTest, StagesOnlyInsideTheStore) {
  const Planted& p = GetParam();
  std::string outside = NewScratchFolder();
  WriteBytes(Join(outside, "file"), "outside the store");
  std::filesystem::create_directories(Join(outside, "folder"));
  std::string folder = Join(Join(base_, "pkgstage"), "Ann");
  std::filesystem::create_directories(Join(base_, "pkgstage"));
  if (p.links.empty() || !p.links[0].first.empty()) std::filesystem::create_directories(folder);
  for (const auto& file : p.files) WriteBytes(Join(folder, file.first), file.second);
  for (const auto& link : p.links) {
    std::string at = link.first.empty() ? folder : Join(folder, link.first);
    std::filesystem::create_symlink(Join(outside, link.second), at);
  }
  std::string source = Source("a.dat", "the source's bytes");
  auto before = Snapshot(outside);
  int files = OpenFiles();

  EXPECT_EQ(PkgStageInstall("Ann", source.c_str()), p.status);
  EXPECT_EQ(OpenFiles(), files);
  EXPECT_EQ(Snapshot(outside), before);
  EXPECT_FALSE(
      std::filesystem::exists(std::filesystem::symlink_status(Join(folder, ".pkgstage.tmp"))));
  for (const auto& file : p.files) {
    if (file.first != "a.dat" && file.first != ".pkgstage.tmp") {
      EXPECT_EQ(ReadBytes(Join(folder, file.first)), file.second) << file.first;
    }
  }
  if (p.status == kInstalled) {
    EXPECT_FALSE(std::filesystem::is_symlink(Join(folder, "a.dat")));
    EXPECT_EQ(ReadBytes(Join(folder, "a.dat")), "the source's bytes");
    EXPECT_EQ(PkgStageInstall("Ann", source.c_str()), kAlreadyInstalled);
    EXPECT_EQ(OpenFiles(), files);
  }
  RemoveFolder(outside);
}

INSTANTIATE_TEST_SUITE_P(Table, PlantedTest, ::testing::ValuesIn(PlantedStates()),
                         [](const ::testing::TestParamInfo<Planted>& info) {
                           return TestName(info.param.what);
                         });

// Without XDG_DATA_HOME the store is below $HOME, as XDG says.
TEST_F(StandInTest, DefaultStoreIsBelowHome) {
  if (!kPosixFiles) GTEST_SKIP() << "the Windows store has no default";
  std::string path = Source("a.dat", "bytes");
  const char* home = std::getenv("HOME");
  std::string kept = home == nullptr ? "" : home;
  SetEnvironment(kStoreBaseVariable, "", true);
  SetEnvironment("HOME", base_);
  EXPECT_EQ(PkgStageInstall("Ann", path.c_str()), kInstalled);
  SetEnvironment("HOME", kept, home == nullptr);
  EXPECT_EQ(ReadBytes(Join(base_, ".local/share/pkgstage/Ann/a.dat")), "bytes");
}

TEST_F(StandInTest, AcceptsTheLongestUserName) {
  std::string path = Source("a.dat", "bytes");
  EXPECT_EQ(PkgStageInstall(std::string(255, 'u').c_str(), path.c_str()), kInstalled);
}

// Device names on Windows: the user gets a folder, nothing goes to a device.
TEST_F(StandInTest, UserNamedLikeADeviceGetsAFolder) {
  std::string path = Source("a.dat", "bytes");
  for (const char* user : {"NUL", "CON", "com1"}) {
    EXPECT_EQ(PkgStageInstall(user, path.c_str()), kInstalled) << user;
    EXPECT_EQ(PkgStageInstall(user, path.c_str()), kAlreadyInstalled) << user;
  }
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

TEST_F(StandInTest, NoStoreBaseFails) {
  std::string path = Source("a.dat", "bytes");
  const char* home = std::getenv("HOME");
  std::string kept = home == nullptr ? "" : home;
  SetEnvironment(kStoreBaseVariable, "", true);
  SetEnvironment("HOME", "", true);
  EXPECT_EQ(PkgStageInstall("Ann", path.c_str()), kStoreFailed);
  SetEnvironment("HOME", kept, home == nullptr);
}

// Through the real program, with the stand-in beside it.
std::string Program() {
  return BuiltProgram(std::string("named-user/loadfile") + kProgramSuffix);
}

TEST_F(StandInTest, ProgramInstallsThenReportsAlreadyInstalled) {
  Source("a.dat", "bytes");
  Outcome first = RunProgram(Program(), {"a.dat", "Ann"}, sources_);
  EXPECT_EQ(first.out, std::string("Installed file a.dat for user Ann.") + kNewline);
  EXPECT_EQ(first.exit_code, 1);
  Outcome second = RunProgram(Program(), {"a.dat", "Ann"}, sources_);
  EXPECT_EQ(second.out, std::string("File a.dat already installed for user Ann.") + kNewline);
  EXPECT_EQ(second.exit_code, 1);
  Outcome refused = RunProgram(Program(), {"a.dat", "../Ann"}, sources_);
  EXPECT_EQ(refused.out, std::string("Error: Cannot install file (err=-1).") + kNewline);
  EXPECT_EQ(refused.exit_code, 0);
  EXPECT_EQ(first.err + second.err + refused.err, "");
  EXPECT_EQ(FilesBelow(base_), StoreWith("a.dat"));
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
