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
  const char* what = "";
  std::vector<std::string> args = {};
  Stored stored = Stored::kName;
  std::string data = {};  // the name or the bytes stored
  const char* status = "";
  std::string out = {};
  int exit_code = 0;
  std::string user = kNotCalled;  // what the library must receive
  std::string path = "a.dat";
  Output output = Output::kFile;
};

LOADFILE_PRINTS_ROWS(Case)

const std::string k19 = "Nineteen_characters";  // 19 bytes and the NUL fill the room
const std::string k20 = "Twenty__characters__";

const std::vector<Case>& Cases() {
  // clang-format off
  static const std::vector<Case> cases = {
    {.what = "no arguments", .args = {}, .stored = Stored::kName, .data = "Ann", .status = "0",
     .out = kUsage, .exit_code = 0},
    {.what = "file and user", .args = {"a.dat", "Ann"}, .stored = Stored::kName, .data = "Ann",
     .status = "0", .out = kUsage, .exit_code = 0},
    {.what = "missing file before missing key", .args = {"missing.dat"}, .stored = Stored::kNoKey,
     .data = "", .status = "0", .out = "Error: File not found.\n", .exit_code = 0},
    {.what = "missing key", .args = {"a.dat"}, .stored = Stored::kNoKey, .data = "", .status = "0",
     .out = kNoUser, .exit_code = 0},
    {.what = "key without the value", .args = {"a.dat"}, .stored = Stored::kNoValue, .data = "",
     .status = "0", .out = kNoUser, .exit_code = 0},
    {.what = "installed", .args = {"a.dat"}, .stored = Stored::kName, .data = "Ann", .status = "0",
     .out = "Installed file a.dat for user Ann.\n", .exit_code = 1, .user = "Ann"},
    {.what = "already installed", .args = {"a.dat"}, .stored = Stored::kName, .data = "Ann",
     .status = "-512", .out = "File a.dat already installed for user Ann.\n", .exit_code = 1,
     .user = "Ann"},
    {.what = "install failure", .args = {"a.dat"}, .stored = Stored::kName, .data = "Ann",
     .status = "-1", .out = "Error: Cannot install file (err=-1).\n", .exit_code = 0,
     .user = "Ann"},
    {.what = "name of 19 characters", .args = {"a.dat"}, .stored = Stored::kName, .data = k19,
     .status = "0", .out = "Installed file a.dat for user " + k19 + ".\n", .exit_code = 1,
     .user = k19},
    {.what = "name of 20 characters", .args = {"a.dat"}, .stored = Stored::kName, .data = k20,
     .status = "0", .out = kNoUser, .exit_code = 0},
    {.what = "empty name", .args = {"a.dat"}, .stored = Stored::kName, .data = "", .status = "0",
     .out = "Installed file a.dat for user .\n", .exit_code = 1, .user = ""},
    {.what = "20 bytes without a NUL", .args = {"a.dat"}, .stored = Stored::kBinary, .data = k20,
     .status = "0", .out = kNoUser, .exit_code = 0},
    {.what = "short bytes without a NUL", .args = {"a.dat"}, .stored = Stored::kBinary,
     .data = "Annie", .status = "0", .out = kNoUser, .exit_code = 0},
    {.what = "no bytes at all", .args = {"a.dat"}, .stored = Stored::kBinary, .data = "",
     .status = "0", .out = kNoUser, .exit_code = 0},
    {.what = "NUL in the middle", .args = {"a.dat"}, .stored = Stored::kBinary,
     .data = std::string("Ann\0xyz", 7), .status = "0",
     .out = "Installed file a.dat for user Ann.\n", .exit_code = 1, .user = "Ann"},
    {.what = "far too much data", .args = {"a.dat"}, .stored = Stored::kBinary,
     .data = std::string(4000, 'x'), .status = "0", .out = kNoUser, .exit_code = 0},
  };
  // clang-format on
  return cases;
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

INSTANTIATE_TEST_SUITE_P(Table, LastUserTest, ::testing::ValuesIn(Cases()), RowName());

}  // namespace
