// Both editions end to end: the real program, the scripted double as the
// install library, and for the last-user edition the suite's settings (the
// registry under Wine, the folder store on Linux).
#include <string>
#include <vector>

#include "run_test.h"
#include "settings.h"

namespace {

const char kUsage[] = "usage: loadfile <file> <user> \n";
const char kLastUsage[] = "usage: loadfile <file>\n";
const char kNotFound[] = "Error: File not found.\n";
const char kNoUser[] = "Error: Cannot get username of last Cradlex user.\n";

enum Edition { kNamed, kLast };
enum class Stored { kNoKey, kNoValue, kName, kBinary };

struct Case {
  Edition edition = kNamed;
  const char* what = "";
  std::vector<std::string> args = {};
  Stored stored = Stored::kNoKey;  // the last user's name, as the settings hold it
  std::string data = {};           // the name or the bytes stored
  const char* status = "";         // what the double answers
  std::string out = {};            // with "\n" for the line end
  int exit_code = 0;
  std::string user = kNotCalled;  // what the library must receive
  std::string path = "a.dat";
  Output output = Output::kFile;
};

// Names a failing case by what it tests rather than by its bytes.
LOADFILE_PRINTS_ROWS(Case)

const std::string kLongUser = "AbcdefghijKlmnopqrstUvwxyz";  // over the last-user edition's 19
const std::string kLongerUser(9000, 'u');       // longer than one write to a console takes
const std::string k19 = "Nineteen_characters";  // 19 bytes and the NUL fill the room
const std::string k20 = "Twenty__characters__";
// Longer than MAX_PATH, which the wide calls take where Windows has long
// paths enabled, as Wine always has.
const std::string kPastMaxPath = [] {
  std::string path;
  for (int i = 0; i < 140; ++i) path += "./";
  return path + "a.dat";
}();

const std::vector<Case>& Cases() {
  // clang-format off
  static const std::vector<Case> cases = {
    {.what = "no arguments", .args = {}, .status = "0", .out = kUsage, .exit_code = 0},
    {.what = "file only", .args = {"a.dat"}, .status = "0", .out = kUsage, .exit_code = 0},
    {.what = "one argument too many", .args = {"a.dat", "Ann", "x"}, .status = "0", .out = kUsage,
     .exit_code = 0},
    {.what = "missing file", .args = {"missing.dat", "Ann"}, .status = "0", .out = kNotFound,
     .exit_code = 0},
    {.what = "missing folder on the path", .args = {"nowhere/a.dat", "Ann"}, .status = "0",
     .out = kNotFound, .exit_code = 0},
    {.what = "empty path", .args = {"", "Ann"}, .status = "0", .out = kNotFound, .exit_code = 0},
    {.what = "wildcard is not expanded", .args = {"*.dat", "Ann"}, .status = "0", .out = kNotFound,
     .exit_code = 0},
    {.what = "installed", .args = {"a.dat", "Ann"}, .status = "0",
     .out = "Installed file a.dat for user Ann.\n", .exit_code = 1, .user = "Ann",
     .path = "a.dat"},
    {.what = "already installed", .args = {"a.dat", "Ann"}, .status = "-512",
     .out = "File a.dat already installed for user Ann.\n", .exit_code = 1, .user = "Ann",
     .path = "a.dat"},
    {.what = "failure -1", .args = {"a.dat", "Ann"}, .status = "-1",
     .out = "Error: Cannot install file (err=-1).\n", .exit_code = 0, .user = "Ann",
     .path = "a.dat"},
    {.what = "positive failure", .args = {"a.dat", "Ann"}, .status = "1",
     .out = "Error: Cannot install file (err=1).\n", .exit_code = 0, .user = "Ann",
     .path = "a.dat"},
    {.what = "next to already installed", .args = {"a.dat", "Ann"}, .status = "-511",
     .out = "Error: Cannot install file (err=-511).\n", .exit_code = 0, .user = "Ann",
     .path = "a.dat"},
    {.what = "lowest status", .args = {"a.dat", "Ann"}, .status = "-2147483648",
     .out = "Error: Cannot install file (err=-2147483648).\n", .exit_code = 0, .user = "Ann",
     .path = "a.dat"},
    {.what = "blanks in the path", .args = {"my file.dat", "Ann"}, .status = "0",
     .out = "Installed file my file.dat for user Ann.\n", .exit_code = 1, .user = "Ann",
     .path = "my file.dat"},
    {.what = "relative path passed as given", .args = {"sub/../sub/a.dat", "Ann"}, .status = "0",
     .out = "Installed file sub/../sub/a.dat for user Ann.\n", .exit_code = 1, .user = "Ann",
     .path = "sub/../sub/a.dat"},
    {.what = "path longer than MAX_PATH", .args = {kPastMaxPath, "Ann"}, .status = "0",
     .out = "Installed file " + kPastMaxPath + " for user Ann.\n", .exit_code = 1, .user = "Ann",
     .path = kPastMaxPath},
    {.what = "empty file", .args = {"empty.dat", "Ann"}, .status = "0",
     .out = "Installed file empty.dat for user Ann.\n", .exit_code = 1, .user = "Ann",
     .path = "empty.dat"},
    {.what = "empty user", .args = {"a.dat", ""}, .status = "0",
     .out = "Installed file a.dat for user .\n", .exit_code = 1, .user = "", .path = "a.dat"},
    {.what = "long user", .args = {"a.dat", kLongUser}, .status = "-512",
     .out = "File a.dat already installed for user " + kLongUser + ".\n", .exit_code = 1,
     .user = kLongUser, .path = "a.dat"},
    {.what = "format directives in the user", .args = {"a.dat", "%s%n%d"}, .status = "0",
     .out = "Installed file a.dat for user %s%n%d.\n", .exit_code = 1, .user = "%s%n%d",
     .path = "a.dat"},
    {.what = "format directives in the path", .args = {"%s%n.dat", "Ann"}, .status = "-512",
     .out = "File %s%n.dat already installed for user Ann.\n", .exit_code = 1, .user = "Ann",
     .path = "%s%n.dat"},
    {.what = "bytes above 0x7F", .args = {"caf\xe9.dat", "Zo\xeb\xff"}, .status = "0",
     .out = "Installed file caf\xe9.dat for user Zo\xeb\xff.\n", .exit_code = 1,
     .user = "Zo\xeb\xff", .path = "caf\xe9.dat"},
    // A service or a scheduled task starts it with no standard input.
    {.what = "installed without standard input", .args = {"a.dat", "Ann"}, .status = "0",
     .out = "Installed file a.dat for user Ann.\n", .exit_code = 1, .user = "Ann",
     .path = "a.dat", .output = Output::kFileWithoutInput},
    // The last-user edition, its user from the settings.
    {.edition = kLast, .what = "last user, no arguments", .args = {}, .stored = Stored::kName,
     .data = "Ann", .status = "0", .out = kLastUsage, .exit_code = 0},
    {.edition = kLast, .what = "last user, file and user", .args = {"a.dat", "Ann"},
     .stored = Stored::kName, .data = "Ann", .status = "0", .out = kLastUsage, .exit_code = 0},
    {.edition = kLast, .what = "last user, missing file before missing key",
     .args = {"missing.dat"}, .stored = Stored::kNoKey, .data = "", .status = "0",
     .out = "Error: File not found.\n", .exit_code = 0},
    {.edition = kLast, .what = "last user, missing key", .args = {"a.dat"},
     .stored = Stored::kNoKey, .data = "", .status = "0", .out = kNoUser, .exit_code = 0},
    {.edition = kLast, .what = "last user, key without the value", .args = {"a.dat"},
     .stored = Stored::kNoValue, .data = "", .status = "0", .out = kNoUser, .exit_code = 0},
    {.edition = kLast, .what = "last user, installed", .args = {"a.dat"}, .stored = Stored::kName,
     .data = "Ann", .status = "0", .out = "Installed file a.dat for user Ann.\n", .exit_code = 1,
     .user = "Ann"},
    {.edition = kLast, .what = "last user, already installed", .args = {"a.dat"},
     .stored = Stored::kName, .data = "Ann", .status = "-512",
     .out = "File a.dat already installed for user Ann.\n", .exit_code = 1, .user = "Ann"},
    {.edition = kLast, .what = "last user, install failure", .args = {"a.dat"},
     .stored = Stored::kName, .data = "Ann", .status = "-1",
     .out = "Error: Cannot install file (err=-1).\n", .exit_code = 0, .user = "Ann"},
    {.edition = kLast, .what = "last user, name of 19 characters", .args = {"a.dat"},
     .stored = Stored::kName, .data = k19, .status = "0",
     .out = "Installed file a.dat for user " + k19 + ".\n", .exit_code = 1, .user = k19},
    {.edition = kLast, .what = "last user, name of 20 characters", .args = {"a.dat"},
     .stored = Stored::kName, .data = k20, .status = "0", .out = kNoUser, .exit_code = 0},
    {.edition = kLast, .what = "last user, empty name", .args = {"a.dat"}, .stored = Stored::kName,
     .data = "", .status = "0", .out = "Installed file a.dat for user .\n", .exit_code = 1,
     .user = ""},
    {.edition = kLast, .what = "last user, 20 bytes without a NUL", .args = {"a.dat"},
     .stored = Stored::kBinary, .data = k20, .status = "0", .out = kNoUser, .exit_code = 0},
    {.edition = kLast, .what = "last user, short bytes without a NUL", .args = {"a.dat"},
     .stored = Stored::kBinary, .data = "Annie", .status = "0", .out = kNoUser, .exit_code = 0},
    {.edition = kLast, .what = "last user, no bytes at all", .args = {"a.dat"},
     .stored = Stored::kBinary, .data = "", .status = "0", .out = kNoUser, .exit_code = 0},
    {.edition = kLast, .what = "last user, NUL in the middle", .args = {"a.dat"},
     .stored = Stored::kBinary, .data = std::string("Ann\0xyz", 7), .status = "0",
     .out = "Installed file a.dat for user Ann.\n", .exit_code = 1, .user = "Ann"},
    // What a read that did not fit left in the room is no name.
    {.edition = kLast, .what = "last user, a name and its NUL, then past the room",
     .args = {"a.dat"}, .stored = Stored::kBinary, .data = std::string("Ann\0", 4) + k20,
     .status = "0", .out = kNoUser, .exit_code = 0},
    {.edition = kLast, .what = "last user, far too much data", .args = {"a.dat"},
     .stored = Stored::kBinary, .data = std::string(4000, 'x'), .status = "0", .out = kNoUser,
     .exit_code = 0},
  };
  // Characters given as UTF-8 (see StartProgram), where the program reads the
  // wide command line: those the ANSI code page (1252) has reach the library
  // as its bytes; those it lacks are never passed on as a look-alike or '?'.
  static const std::vector<Case> wide = {
    {.what = "path in the code page", .args = {"caf\xc3\xa9.dat", "Ann"}, .status = "0",
     .out = "Installed file caf\xe9.dat for user Ann.\n", .exit_code = 1, .user = "Ann",
     .path = "caf\xe9.dat"},
    {.what = "user in the code page", .args = {"a.dat", "Zo\xc3\xab"}, .status = "-512",
     .out = "File a.dat already installed for user Zo\xeb.\n", .exit_code = 1,
     .user = "Zo\xeb", .path = "a.dat"},
    // U+FF0F FULLWIDTH SOLIDUS would become '/', naming sub/a.dat.
    {.what = "path with a look-alike", .args = {"sub\xef\xbc\x8f" "a.dat", "Ann"}, .status = "0",
     .out = kNotFound, .exit_code = 0},
    // U+65E5 has no mapping: it would become '?'.
    {.what = "path with an unmapped character", .args = {"\xe6\x97\xa5.dat", "Ann"}, .status = "0",
     .out = kNotFound, .exit_code = 0},
    // U+FF21 FULLWIDTH A would become 'A', naming another user.
    {.what = "user with a look-alike", .args = {"a.dat", "\xef\xbc\xa1nn"}, .status = "0",
     .out = kUsage, .exit_code = 0},
    {.what = "user with an unmapped character", .args = {"a.dat", "\xe6\x97\xa5"}, .status = "0",
     .out = kUsage, .exit_code = 0},
    {.what = "unmapped user before a missing file", .args = {"missing.dat", "\xe6\x97\xa5"},
     .status = "0", .out = kUsage, .exit_code = 0},
    {.what = "unmapped path and user", .args = {"\xe6\x97\xa5.dat", "\xe6\x97\xa5"}, .status = "0",
     .out = kUsage, .exit_code = 0},
    // Nor is an argument dropped: the last-user edition still counts two.
    {.edition = kLast, .what = "last user, file and an unmapped argument",
     .args = {"a.dat", "\xe6\x97\xa5"}, .stored = Stored::kName, .data = "Ann", .status = "0",
     .out = kLastUsage, .exit_code = 0},
    // A console in code page 850 shows the line as typed: read as 850, 0xEB
    // would be shown as U+00D9 and 0x8A as U+00E8.
    {.what = "user on a console", .args = {"a.dat", "Zo\xc3\xab \xc5\xa0\xc3\xa1rka"},
     .status = "0", .out = "Installed file a.dat for user Zo\xeb \x8a\xe1rka.\n",
     .exit_code = 1, .user = "Zo\xeb \x8a\xe1rka", .path = "a.dat", .output = Output::kConsole},
    // Opened for writing only (">con"), a console refuses GetConsoleMode
    // but takes the wide write all the same.
    {.what = "user on a write-only console", .args = {"a.dat", "Zo\xc3\xab"}, .status = "-512",
     .out = "File a.dat already installed for user Zo\xeb.\n", .exit_code = 1,
     .user = "Zo\xeb", .path = "a.dat", .output = Output::kWriteOnlyConsole},
    // Older consoles take a long line only in pieces.
    {.what = "long user on a console", .args = {"a.dat", kLongerUser}, .status = "0",
     .out = "Installed file a.dat for user " + kLongerUser + ".\n", .exit_code = 1,
     .user = kLongerUser, .path = "a.dat", .output = Output::kConsole},
  };
  // The probe must not wait for a writer; the library then refuses what is
  // not a regular file (the stand-in answers -3).
  static const std::vector<Case> fifo = {
    {.what = "FIFO as the file", .args = {"pipe", "Ann"}, .status = "-3",
     .out = "Error: Cannot install file (err=-3).\n", .exit_code = 0, .user = "Ann",
     .path = "pipe"},
  };
  // clang-format on
  static const std::vector<Case> all = PlatformRows(cases, wide, fifo);
  return all;
}

class EditionTest : public RunTest, public ::testing::WithParamInterface<Case> {
 protected:
  void SetUp() override {
    RunTest::SetUp();
    settings_ = NewScratchFolder();
    UseSettingsIn(settings_);
  }
  void TearDown() override {
    ClearSettings();
    RemoveFolder(settings_);
    RunTest::TearDown();
  }
  std::string settings_;
};

TEST_P(EditionTest, PrintsOneLineAndExits) {
  const Case& c = GetParam();
  switch (c.stored) {
    case Stored::kNoKey: ClearSettings(); break;
    case Stored::kNoValue: PlantKey(); break;
    case Stored::kName: PlantName(c.data); break;
    case Stored::kBinary: PlantBinary(c.data); break;
  }
  std::string edition = c.edition == kLast ? "last-user" : "named-user";
  ExpectOutcome(Run(edition, c.args, c.status, c.output), c.out, c.exit_code, c.user, c.path);
}

INSTANTIATE_TEST_SUITE_P(Table, EditionTest, ::testing::ValuesIn(Cases()), RowName());

// A folder cannot be opened for reading on Windows; elsewhere it can, and the
// library is the one to refuse it.
TEST_F(RunTest, FolderFollowsThePlatform) {
  Outcome outcome = Run("named-user", {"folder", "Ann"});
  EXPECT_EQ(outcome.err, "");
  if (kFolderOpens) {
    EXPECT_EQ(outcome.out, Lines("Installed file folder for user Ann.\n"));
    EXPECT_EQ(outcome.exit_code, 1);
    EXPECT_EQ(Calls().size(), 1u);
  } else {
    EXPECT_EQ(outcome.out, Lines(kNotFound));
    EXPECT_EQ(outcome.exit_code, 0);
    EXPECT_TRUE(Calls().empty());
  }
}

// The longest single argument the platform passes to a program: a path
// that long names no file, and a user that long goes through whole.
TEST_F(RunTest, LongestArguments) {
  std::string user(kLongestArgument, 'u');
  Outcome outcome = Run("named-user", {"a.dat", user});
  EXPECT_EQ(outcome.out, Lines("Installed file a.dat for user " + user + ".\n"));
  EXPECT_EQ(outcome.exit_code, 1);
  auto calls = Calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_TRUE(calls[0].first == user);

  outcome = Run("named-user", {std::string(kLongestArgument, 'p'), "Ann"});
  EXPECT_EQ(outcome.out, Lines(kNotFound));
  EXPECT_EQ(outcome.exit_code, 0);
  EXPECT_EQ(Calls().size(), 1u);  // still only the first run's call
}

}  // namespace
