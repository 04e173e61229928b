#include "run_test.h"

#include <cstdlib>
#include <filesystem>

#include "install_double.h"

const char* const kNotCalled = "\x01";

std::string Lines(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') {
      out += kNewline;
    } else {
      out += c;
    }
  }
  return out;
}

void RunTest::SetUp() {
  work_ = NewScratchFolder();
  log_ = Join(NewScratchFolder(), "calls.log");
  WriteBytes(Join(work_, "a.dat"), "abc");
  WriteBytes(Join(work_, "empty.dat"), "");
  WriteBytes(Join(work_, "my file.dat"), "blanks");
  WriteBytes(Join(work_, "%s%n.dat"), "directives");
  WriteBytes(Join(work_, "caf\xe9.dat"), "high bytes");
  std::filesystem::create_directories(Join(work_, "sub"));
  std::filesystem::create_directories(Join(work_, "folder"));
  WriteBytes(Join(Join(work_, "sub"), "a.dat"), "nested");
  if (kPosixFiles) MakeFifo(Join(work_, "pipe"));
}

void RunTest::TearDown() {
  RemoveFolder(work_);
  RemoveFolder(std::filesystem::path(log_).parent_path().string());
}

Outcome RunTest::Run(const std::string& edition, const std::vector<std::string>& args,
                     const std::string& status, Output output) {
  SetEnvironment(LOADFILE_DOUBLE_STATUS, status);
  SetEnvironment(LOADFILE_DOUBLE_LOG, log_);
  const char* folder = std::getenv(LOADFILE_DOUBLE_FOLDER);
  std::string program = "tests/" + std::string(folder == nullptr ? "double" : folder) + "/" +
                        edition + "/loadfile" + kProgramSuffix;
  Outcome outcome = RunProgram(BuiltProgram(program), args, work_, output);
  SetEnvironment(LOADFILE_DOUBLE_STATUS, "", true);
  SetEnvironment(LOADFILE_DOUBLE_LOG, "", true);
  return outcome;
}

std::vector<std::pair<std::string, std::string>> RunTest::Calls() const {
  std::string bytes = ReadBytes(log_);
  std::vector<std::string> fields;
  size_t start = 0;
  for (size_t end; (end = bytes.find('\0', start)) != std::string::npos; start = end + 1) {
    fields.push_back(bytes.substr(start, end - start));
  }
  std::vector<std::pair<std::string, std::string>> calls;
  for (size_t i = 0; i + 1 < fields.size(); i += 2) calls.emplace_back(fields[i], fields[i + 1]);
  EXPECT_EQ(start, bytes.size()) << "log ends mid-record";
  EXPECT_EQ(fields.size() % 2, 0u) << "log has a user without a path";
  return calls;
}

void RunTest::ExpectOutcome(const Outcome& outcome, const std::string& out, int exit_code,
                            const std::string& user, const std::string& path) const {
  EXPECT_EQ(outcome.out, Lines(out));
  EXPECT_EQ(outcome.exit_code, exit_code);
  EXPECT_EQ(outcome.err, "");
  auto calls = Calls();
  if (user == kNotCalled) {
    EXPECT_TRUE(calls.empty());
  } else {
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].first, user);
    EXPECT_EQ(calls[0].second, path);
  }
}
