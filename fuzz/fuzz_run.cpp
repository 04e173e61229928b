// The run sequence of both editions over arbitrary argument vectors,
// install statuses and registry answers. Each edition's main() is built in
// under another name; the install library and the registry are scripted.
// Property: standard output holds exactly the one line the arguments,
// files, settings and status call for, the exit status is 1 exactly for the
// installed and already-installed lines, and the install library is called
// at most once, only after the probe passed, with (user, path) unchanged.
#include <fcntl.h>
#include <ftw.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "install.h"
#include "registry.h"

int NamedUserMain(int argc, char** argv);
int LastUserMain(int argc, char** argv);

namespace {

// Reports a broken property and stops; libFuzzer keeps the input.
[[noreturn]] void Fail(const char* what) {
  fprintf(stderr, "property broken: %s\n", what);
  abort();
}

int status;        // what the install library answers
std::string name;  // what the registry holds, or nothing
bool has_name;
int calls;
std::string called_user;
std::string called_path;
HKEY const kKey = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x1234));

std::string Output() {
  fflush(stdout);
  std::string out;
  char buffer[4096];
  ssize_t got;
  for (off_t at = 0; (got = pread(1, buffer, sizeof buffer, at)) > 0; at += got) {
    out.append(buffer, static_cast<size_t>(got));
  }
  return out;
}

bool Openable(const char* path) {
  FILE* file = fopen(path, "r");
  if (file == nullptr) return false;
  fclose(file);
  return true;
}

}  // namespace

extern "C" int PKGSTAGE_CALL PkgStageInstall(const char* user, const char* path) {
  ++calls;
  called_user = user;
  called_path = path;
  return status;
}

LONG RegOpenKeyA(HKEY, LPCSTR, PHKEY result) {
  *result = kKey;
  return has_name ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

LONG RegQueryValueExA(HKEY, LPCSTR, LPDWORD, LPDWORD, LPBYTE data, LPDWORD size) {
  DWORD needed = static_cast<DWORD>(name.size() + 1);
  if (needed > *size) {
    *size = needed;
    return ERROR_MORE_DATA;
  }
  memcpy(data, name.c_str(), needed);
  *size = needed;
  return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY) {
  return ERROR_SUCCESS;
}

namespace {

std::string work;  // the folder the target works in, removed at exit

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
  return remove(path);
}

void RemoveWork() {
  nftw(work.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Standard output goes to memory the target reads back; the work folder
  // holds a file, an empty file and a folder for the arguments to name.
  char folder[] = "/tmp/loadfile-fuzz-run-XXXXXX";
  if (mkdtemp(folder) == nullptr || chdir(folder) != 0) abort();
  work = folder;
  atexit(RemoveWork);
  FILE* file = fopen("a.dat", "w");
  fputs("bytes", file);
  fclose(file);
  fclose(fopen("empty.dat", "w"));
  mkdir("folder", 0755);
  int memory = memfd_create("stdout", 0);
  if (memory < 0 || dup2(memory, 1) < 0) abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
  if (size < 6) return 0;
  bool last_user = input[0] & 1;
  memcpy(&status, input + 1, sizeof status);
  has_name = input[5] != 0;
  // The rest: the registry's name, then the arguments, separated by NULs.
  std::vector<std::string> fields(1);
  for (size_t i = 6; i < size; ++i) {
    if (input[i] == '\0') {
      fields.emplace_back();
    } else {
      fields.back() += static_cast<char>(input[i]);
    }
  }
  name = fields[0];
  std::vector<std::string> args(fields.begin() + 1, fields.end());
  if (args.size() > 4) return 0;
  // Arguments of a single letter name the prepared files.
  for (std::string& arg : args) {
    if (arg == "A") arg = "a.dat";
    if (arg == "E") arg = "empty.dat";
    if (arg == "F") arg = "folder";
  }
  std::vector<char*> argv;
  std::string program = "loadfile";
  argv.push_back(&program[0]);
  for (std::string& arg : args) argv.push_back(&arg[0]);
  argv.push_back(nullptr);
  int argc = static_cast<int>(argv.size()) - 1;

  calls = 0;
  fflush(stdout);
  if (ftruncate(1, 0) != 0 || lseek(1, 0, SEEK_SET) != 0) abort();
  int exit_code = last_user ? LastUserMain(argc, argv.data()) : NamedUserMain(argc, argv.data());
  std::string out = Output();

  // Properties of every run, not a second run sequence (the tables hold
  // the exact lines): one line of the tool's own, the usage line exactly
  // for a wrong count, at most one install call, only after the probe, with
  // the user and the path as given, and exit status 1 exactly when that
  // call answered 0 or -512.
  std::string user = last_user ? name : (args.size() > 1 ? args[1] : "");
  bool usage = argc != (last_user ? 2 : 3);
  bool success = calls == 1 && (status == 0 || status == -512);
  const char* const kStarts[] = {"usage: loadfile <file>", "Error: ", "Installed file ", "File "};
  int known = 0;
  for (const char* start : kStarts) known += out.rfind(start, 0) == 0 ? 1 : 0;
  if (known != 1 || out.back() != '\n') Fail("one line of the tool's own");
  if (usage != (out.rfind("usage: ", 0) == 0)) Fail("the usage line for a wrong count");
  if (calls > (usage || !Openable(args[0].c_str()) ? 0 : 1)) Fail("the number of install calls");
  if (calls == 1 && (called_user != user || called_path != args[0])) {
    Fail("the install call's arguments");
  }
  if (exit_code != (success ? 1 : 0)) Fail("the exit status");
  if (success && (out.find(args[0]) == std::string::npos || out.find(user) == std::string::npos)) {
    Fail("the success line names the path and the user");
  }
  return 0;
}
