#include "harness.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

namespace fs = std::filesystem;

Outcome RunProgram(const std::string& program, const std::vector<std::string>& args,
                   const std::string& folder, Output output) {
  return FinishProgram(StartProgram(program, args, folder, output));
}

ScopedVariable::ScopedVariable(const std::string& variable, const std::string& value, bool unset)
    : name(variable), was_set(GetEnvironment(variable, &kept)) {
  SetEnvironment(name, value, unset);
}

ScopedVariable::~ScopedVariable() {
  SetEnvironment(name, kept, !was_set);
}

std::string NewScratchFolder() {
  static std::atomic<int> counter{0};
  std::ostringstream name;
  name << "loadfile-test-" << std::hex << std::random_device{}() << "-" << counter++;
  fs::path folder = fs::temp_directory_path() / name.str();
  fs::create_directories(folder);
  return folder.string();
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::string Join(const std::string& folder, const std::string& name) {
  // Plain text, not fs::path: on Windows that converts narrow names in a way
  // that does not give bytes above 0x7F back as the ANSI API reads them.
  return folder + static_cast<char>(fs::path::preferred_separator) + name;
}

std::vector<std::string> FilesBelow(const std::string& folder) {
  std::vector<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    files.push_back(fs::relative(entry.path(), folder).generic_string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string TestName(const char* what) {
  std::string name;
  for (const char* c = what; *c != '\0'; ++c) {
    name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
  }
  return name;
}
