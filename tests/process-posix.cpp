#include "process-posix.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "harness.h"

const char* const kNewline = "\n";
const bool kFolderOpens = true;
const char* const kStoreBaseVariable = "XDG_DATA_HOME";
const size_t kLongestArgument = 128 * 1024 - 1;
const char* const kProgramSuffix = "";
const bool kWideCommandLine = false;
const bool kPosixFiles = true;

std::string BuiltProgram(const std::string& relative) {
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe");
  return (self.parent_path().parent_path() / relative).string();
}

Started StartProgramWith(const std::string& program, const std::vector<std::string>& args,
                         const std::string& folder, const ChildSetup& setup) {
  Started started;
  std::string scratch = NewScratchFolder();
  started.out_file = Join(scratch, "stdout");
  started.err_file = Join(scratch, "stderr");
  std::vector<char*> argv;
  for (const std::string& arg : setup.under) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    int in = open("/dev/null", O_RDONLY);
    int out = setup.out == ChildSetup::kFull
                  ? open("/dev/full", O_WRONLY)
                  : open(started.out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(started.err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 ||
        chdir(folder.c_str()) != 0) {
      _exit(127);
    }
    close(in);
    close(out);
    close(err);
    if (setup.out == ChildSetup::kClosed) close(1);
    for (int fd : setup.closed) close(fd);
    if (setup.max_file_size >= 0) {
      // As a shell's ulimit -f would: writes past the limit fail with EFBIG
      // rather than kill the program, since SIGXFSZ is ignored.
      signal(SIGXFSZ, SIG_IGN);
      struct rlimit limit = {static_cast<rlim_t>(setup.max_file_size),
                             static_cast<rlim_t>(setup.max_file_size)};
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(127);
    }
    // LeakSanitizer, in the sanitized builds, cannot work under a tracer.
    if (!setup.under.empty()) setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
    // The alarm outlives the exec and ends a program that hangs.
    alarm(60);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  started.process = pid;
  return started;
}

Started StartProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::string& folder, Output output) {
  EXPECT_TRUE(output == Output::kFile || output == Output::kFileWithoutInput)
      << "no Windows console here";
  ChildSetup setup;
  if (output == Output::kFileWithoutInput) setup.closed.push_back(0);
  return StartProgramWith(program, args, folder, setup);
}

Outcome FinishProgram(const Started& started) {
  Outcome outcome;
  int status = 0;
  if (started.process > 0 && waitpid(static_cast<pid_t>(started.process), &status, 0) > 0) {
    outcome.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  outcome.out = ReadBytes(started.out_file);
  outcome.err = ReadBytes(started.err_file);
  RemoveFolder(std::filesystem::path(started.out_file).parent_path().string());
  return outcome;
}

bool GetEnvironment(const std::string& name, std::string* value) {
  const char* found = getenv(name.c_str());
  if (found != nullptr) *value = found;
  return found != nullptr;
}

void SetEnvironment(const std::string& name, const std::string& value, bool unset) {
  if (unset) {
    unsetenv(name.c_str());
  } else {
    setenv(name.c_str(), value.c_str(), 1);
  }
}

unsigned AnsiCodePage() {
  return 0;
}

void MakeFifo(const std::string& path) {
  ASSERT_EQ(mkfifo(path.c_str(), 0644), 0) << path;
}

int OpenFiles() {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    (void)entry;
    ++count;
  }
  return count;
}

void RemoveFolder(const std::string& folder) {
  std::filesystem::remove_all(folder);
}

void MakeFolders(const std::string& path) {
  std::filesystem::create_directories(path);
}

void Lengthen(const std::string& path, uint64_t bytes) {
  struct stat info;
  ASSERT_EQ(stat(path.c_str(), &info), 0) << path;
  EXPECT_EQ(truncate(path.c_str(), info.st_size + static_cast<off_t>(bytes)), 0) << path;
}

void MakeReadOnly(const std::string& path) {
  chmod(path.c_str(), 0444);
}

bool IsReadOnly(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && (info.st_mode & 0222) == 0;
}

intptr_t HoldOpen(const std::string&, bool) {
  return 0;
}

intptr_t HoldLock(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd >= 0 && flock(fd, LOCK_SH) != 0) {
    close(fd);
    fd = -1;
  }
  return fd + 1;
}

void LetGo(intptr_t hold) {
  if (hold != 0) close(static_cast<int>(hold - 1));
}

bool IsLocked(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool locked = flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  close(fd);
  return locked;
}

std::string ShortName(const std::string&) {
  return "";
}

std::string DefaultStoreBase() {
  const char* home = getenv("HOME");
  return std::string(home == nullptr ? "" : home) + "/.local/share";
}

void MakeHostLink(const std::string& target, const std::string& link) {
  std::filesystem::create_symlink(target, link);
}

std::string HostPath(const std::string& path) {
  return path;
}
