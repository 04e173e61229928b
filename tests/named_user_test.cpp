// The named-user edition end to end: the real program, the scripted double.
#include <string>
#include <vector>

#include "run_test.h"

namespace {

const char kUsage[] = "usage: loadfile <file> <user> \n";
const char kNotFound[] = "Error: File not found.\n";

struct Case {
  const char* what;
  std::vector<std::string> args;
  const char* status;  // what the double answers
  std::string out;     // with "\n" for the line end
  int exit_code;
  std::string user = kNotCalled;  // what the library must receive
  std::string path = "";
  Output output = Output::kFile;
};

// Names a failing case by what it tests rather than by its bytes.
void PrintTo(const Case& c, std::ostream* os) {
  *os << c.what;
}

const std::string kLongUser = "AbcdefghijKlmnopqrstUvwxyz";  // over the last-user edition's 19
const std::string kLongerUser(9000, 'u');  // longer than one write to a console takes

const std::vector<Case>& Cases() {
  // clang-format off
  static const std::vector<Case> cases = {
    {"no arguments", {}, "0", kUsage, 0},
    {"file only", {"a.dat"}, "0", kUsage, 0},
    {"one argument too many", {"a.dat", "Ann", "x"}, "0", kUsage, 0},
    {"missing file", {"missing.dat", "Ann"}, "0", kNotFound, 0},
    {"missing folder on the path", {"nowhere/a.dat", "Ann"}, "0", kNotFound, 0},
    {"empty path", {"", "Ann"}, "0", kNotFound, 0},
    {"wildcard is not expanded", {"*.dat", "Ann"}, "0", kNotFound, 0},
    {"installed", {"a.dat", "Ann"}, "0",
     "Installed file a.dat for user Ann.\n", 1, "Ann", "a.dat"},
    {"already installed", {"a.dat", "Ann"}, "-512",
     "File a.dat already installed for user Ann.\n", 1, "Ann", "a.dat"},
    {"failure -1", {"a.dat", "Ann"}, "-1",
     "Error: Cannot install file (err=-1).\n", 0, "Ann", "a.dat"},
    {"positive failure", {"a.dat", "Ann"}, "5",
     "Error: Cannot install file (err=5).\n", 0, "Ann", "a.dat"},
    {"next to already installed", {"a.dat", "Ann"}, "-511",
     "Error: Cannot install file (err=-511).\n", 0, "Ann", "a.dat"},
    {"lowest status", {"a.dat", "Ann"}, "-2147483648",
     "Error: Cannot install file (err=-2147483648).\n", 0, "Ann", "a.dat"},
    {"blanks in the path", {"my file.dat", "Ann"}, "0",
     "Installed file my file.dat for user Ann.\n", 1, "Ann", "my file.dat"},
    {"relative path passed as given", {"sub/../sub/a.dat", "Ann"}, "0",
     "Installed file sub/../sub/a.dat for user Ann.\n", 1, "Ann", "sub/../sub/a.dat"},
    {"empty file", {"empty.dat", "Ann"}, "0",
     "Installed file empty.dat for user Ann.\n", 1, "Ann", "empty.dat"},
    {"empty user", {"a.dat", ""}, "0",
     "Installed file a.dat for user .\n", 1, "", "a.dat"},
    {"long user", {"a.dat", kLongUser}, "-512",
     "File a.dat already installed for user " + kLongUser + ".\n", 1, kLongUser, "a.dat"},
    {"format directives in the user", {"a.dat", "%s%n%d"}, "0",
     "Installed file a.dat for user %s%n%d.\n", 1, "%s%n%d", "a.dat"},
    {"format directives in the path", {"%s%n.dat", "Ann"}, "-512",
     "File %s%n.dat already installed for user Ann.\n", 1, "Ann", "%s%n.dat"},
    {"bytes above 0x7F", {"caf\xe9.dat", "Zo\xeb\xff"}, "0",
     "Installed file caf\xe9.dat for user Zo\xeb\xff.\n", 1, "Zo\xeb\xff", "caf\xe9.dat"},
    // A service or a scheduled task starts it with no standard input.
    {"installed without standard input", {"a.dat", "Ann"}, "0",
     "Installed file a.dat for user Ann.\n", 1, "Ann", "a.dat", Output::kFileWithoutInput},
    {"path longer than MAX_PATH", {kLongFolder + "/a.dat", "Ann"}, "0",
     "Installed file " + kLongFolder + "/a.dat for user Ann.\n", 1, "Ann", kLongFolder + "/a.dat"},
  };
  // Characters given as UTF-8 (see StartProgram), where the program reads the
  // wide command line: those the ANSI code page (1252) has reach the library
  // as its bytes; those it lacks are never passed on as a look-alike or '?'.
  static const std::vector<Case> wide = {
    {"path in the code page", {"caf\xc3\xa9.dat", "Ann"}, "0",
     "Installed file caf\xe9.dat for user Ann.\n", 1, "Ann", "caf\xe9.dat"},
    {"user in the code page", {"a.dat", "Zo\xc3\xab"}, "-512",
     "File a.dat already installed for user Zo\xeb.\n", 1, "Zo\xeb", "a.dat"},
    // U+FF0F FULLWIDTH SOLIDUS would become '/', naming sub/a.dat.
    {"path with a look-alike", {"sub\xef\xbc\x8f" "a.dat", "Ann"}, "0", kNotFound, 0},
    // U+65E5 has no mapping: it would become '?'.
    {"path with an unmapped character", {"\xe6\x97\xa5.dat", "Ann"}, "0", kNotFound, 0},
    // U+FF21 FULLWIDTH A would become 'A', naming another user.
    {"user with a look-alike", {"a.dat", "\xef\xbc\xa1nn"}, "0", kUsage, 0},
    {"user with an unmapped character", {"a.dat", "\xe6\x97\xa5"}, "0", kUsage, 0},
    {"unmapped user before a missing file", {"missing.dat", "\xe6\x97\xa5"}, "0", kUsage, 0},
    {"unmapped path and user", {"\xe6\x97\xa5.dat", "\xe6\x97\xa5"}, "0", kUsage, 0},
    // A console in code page 850 shows the line as typed: read as 850, 0xEB
    // would be shown as U+00D9 and 0x8A as U+00E8.
    {"user on a console", {"a.dat", "Zo\xc3\xab \xc5\xa0\xc3\xa1rka"}, "0",
     "Installed file a.dat for user Zo\xeb \x8a\xe1rka.\n", 1, "Zo\xeb \x8a\xe1rka", "a.dat",
     Output::kConsole},
    // Opened for writing only (">con"), a console refuses GetConsoleMode
    // but takes the wide write all the same.
    {"user on a write-only console", {"a.dat", "Zo\xc3\xab"}, "-512",
     "File a.dat already installed for user Zo\xeb.\n", 1, "Zo\xeb", "a.dat",
     Output::kWriteOnlyConsole},
    // Older consoles take a long line only in pieces.
    {"long user on a console", {"a.dat", kLongerUser}, "0",
     "Installed file a.dat for user " + kLongerUser + ".\n", 1, kLongerUser, "a.dat",
     Output::kConsole},
  };
  // The probe must not wait for a writer; the library then refuses what is
  // not a regular file (the stand-in answers -3).
  static const std::vector<Case> fifo = {
    {"FIFO as the file", {"pipe", "Ann"}, "-3",
     "Error: Cannot install file (err=-3).\n", 0, "Ann", "pipe"},
  };
  // clang-format on
  static const std::vector<Case> all = PlatformRows(cases, wide, fifo);
  return all;
}

class NamedUserTest : public RunTest, public ::testing::WithParamInterface<Case> {};

TEST_P(NamedUserTest, PrintsOneLineAndExits) {
  const Case& c = GetParam();
  ExpectOutcome(Run("named-user", c.args, c.status, c.output), c.out, c.exit_code, c.user, c.path);
}

INSTANTIATE_TEST_SUITE_P(Table, NamedUserTest, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           return TestName(info.param.what);
                         });

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
