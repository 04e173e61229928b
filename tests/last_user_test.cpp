// The last-user edition end to end: the real program reading the suite's
// settings (the registry under Wine, the folder store on Linux), the
// scripted double as the install library.
#include <string>
#include <vector>

#include "run_test.h"
#include "settings.h"

namespace {

const char kUsage[] = "usage: loadfile <file>\n";
const char kNoUser[] = "Error: Cannot get username of last Cradlex user.\n";

enum class Stored { kNoKey, kNoValue, kName, kBinary };

struct Case {
  const char* what;
  std::vector<std::string> args;
  Stored stored;
  std::string data;  // the name or the bytes stored
  const char* status;
  std::string out;
  int exit_code;
  std::string user = kNotCalled;  // what the library must receive
  std::string path = "a.dat";
  Output output = Output::kFile;
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.what;
}

const std::string k19 = "Nineteen_characters";  // 19 bytes and the NUL fill the room
const std::string k20 = "Twenty__characters__";

const std::vector<Case>& Cases() {
  // clang-format off
  static const std::vector<Case> cases = {
    {"no arguments", {}, Stored::kName, "Ann", "0", kUsage, 0},
    {"file and user", {"a.dat", "Ann"}, Stored::kName, "Ann", "0", kUsage, 0},
    {"missing file before missing key", {"missing.dat"}, Stored::kNoKey, "", "0",
     "Error: File not found.\n", 0},
    {"missing key", {"a.dat"}, Stored::kNoKey, "", "0", kNoUser, 0},
    {"key without the value", {"a.dat"}, Stored::kNoValue, "", "0", kNoUser, 0},
    {"installed", {"a.dat"}, Stored::kName, "Ann", "0",
     "Installed file a.dat for user Ann.\n", 1, "Ann"},
    {"already installed", {"a.dat"}, Stored::kName, "Ann", "-512",
     "File a.dat already installed for user Ann.\n", 1, "Ann"},
    {"install failure", {"a.dat"}, Stored::kName, "Ann", "-1",
     "Error: Cannot install file (err=-1).\n", 0, "Ann"},
    {"name of 19 characters", {"a.dat"}, Stored::kName, k19, "0",
     "Installed file a.dat for user " + k19 + ".\n", 1, k19},
    {"name of 20 characters", {"a.dat"}, Stored::kName, k20, "0", kNoUser, 0},
    {"empty name", {"a.dat"}, Stored::kName, "", "0",
     "Installed file a.dat for user .\n", 1, ""},
    {"20 bytes without a NUL", {"a.dat"}, Stored::kBinary, k20, "0", kNoUser, 0},
    {"short bytes without a NUL", {"a.dat"}, Stored::kBinary, "Annie", "0", kNoUser, 0},
    {"no bytes at all", {"a.dat"}, Stored::kBinary, "", "0", kNoUser, 0},
    {"NUL in the middle", {"a.dat"}, Stored::kBinary, std::string("Ann\0xyz", 7), "0",
     "Installed file a.dat for user Ann.\n", 1, "Ann"},
    {"far too much data", {"a.dat"}, Stored::kBinary, std::string(4000, 'x'), "0", kNoUser, 0},
    // A service or a scheduled task starts it with no standard input.
    {"installed without standard input", {"a.dat"}, Stored::kName, "Ann", "-512",
     "File a.dat already installed for user Ann.\n", 1, "Ann", "a.dat",
     Output::kFileWithoutInput},
  };
  // Where the program reads the wide command line (see the named-user table):
  // a path the code page carries, and one with a look-alike of '/'.
  static const std::vector<Case> wide = {
    {"path in the code page", {"caf\xc3\xa9.dat"}, Stored::kName, "Ann", "0",
     "Installed file caf\xe9.dat for user Ann.\n", 1, "Ann", "caf\xe9.dat"},
    {"path with a look-alike", {"sub\xef\xbc\x8f" "a.dat"}, Stored::kName, "Ann", "0",
     "Error: File not found.\n", 0},
  };
  // The probe must not wait for a writer.
  static const std::vector<Case> fifo = {
    {"FIFO as the file", {"pipe"}, Stored::kName, "Ann", "-3",
     "Error: Cannot install file (err=-3).\n", 0, "Ann", "pipe"},
  };
  // clang-format on
  static const std::vector<Case> all = PlatformRows(cases, wide, fifo);
  return all;
}

class LastUserTest : public RunTest, public ::testing::WithParamInterface<Case> {
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

TEST_P(LastUserTest, PrintsOneLineAndExits) {
  const Case& c = GetParam();
  switch (c.stored) {
    case Stored::kNoKey: ClearSettings(); break;
    case Stored::kNoValue: PlantKey(); break;
    case Stored::kName: PlantName(c.data); break;
    case Stored::kBinary: PlantBinary(c.data); break;
  }
  ExpectOutcome(Run("last-user", c.args, c.status, c.output), c.out, c.exit_code, c.user, c.path);
}

INSTANTIATE_TEST_SUITE_P(Table, LastUserTest, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           return TestName(info.param.what);
                         });

}  // namespace
