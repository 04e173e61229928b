// What the tests need of the machine they run on: running a built program
// as a user would, and a scratch folder. process-posix.cpp and
// process-win32.cpp hold the parts that differ; under Wine the tests are
// Windows programs themselves, so they start loadfile.exe with the real
// CreateProcess and read the real registry.
#ifndef LOADFILE_TESTS_HARNESS_H_
#define LOADFILE_TESTS_HARNESS_H_

#include <gtest/gtest.h>
#include <stddef.h>
#include <stdint.h>

#include <ostream>
#include <string>
#include <vector>

// What the C runtime writes for "\n" on standard output.
extern const char* const kNewline;
// Whether fopen(folder, "r") succeeds on this platform.
extern const bool kFolderOpens;
// The environment variable that names the folder the stand-in's store is in.
extern const char* const kStoreBaseVariable;
// The longest single argument a program can be given: Linux caps each at
// 128 KiB with its NUL; Windows caps the whole command line at 32767.
extern const size_t kLongestArgument;
// The ending of program file names.
extern const char* const kProgramSuffix;
// Whether a program's narrow arguments come from a wide command line that
// the program converts to the ANSI code page (Windows), rather than as the
// caller's bytes.
extern const bool kWideCommandLine;
// The ANSI code page the tests run in (Windows), or 0 where there is none.
unsigned AnsiCodePage();
// Whether files are POSIX files: FIFOs and symbolic links that any user can
// make, and the stand-in's store below $HOME when XDG_DATA_HOME is unset.
extern const bool kPosixFiles;

struct Outcome {
  int exit_code = -1;
  std::string out;
  std::string err;
};

// Where a started program's standard output goes: a file, read back as its
// bytes; or (Windows) a console screen buffer whose output code page is 850,
// as on a western console, read back as the characters it shows, in the
// ANSI code page, each row as a line; or (Windows) that screen buffer made
// the active one and given as CONOUT$ opened for writing only, as a
// redirection to CON gives it. The tests have a console only when they run
// on a terminal (cmake/wine.sh console). kFileWithoutInput is kFile for a
// program started with no standard input at all, as a service or a
// scheduled task is (POSIX: descriptor 0 closed; Windows: no handle).
enum class Output { kFile, kConsole, kWriteOnlyConsole, kFileWithoutInput };

struct Started {
  intptr_t process = 0;
  std::string out_file;
  std::string err_file;
  intptr_t console = 0;    // the screen buffer, with either console output
  intptr_t active = 0;     // the screen buffer active before, to make it so again
  unsigned code_page = 0;  // the console's output code page before
};

// A path below the build folder, for a program: "named-user/loadfile".
std::string BuiltProgram(const std::string& relative);

// Starts |program| with |args| (after the program name) in |folder|, its
// standard input empty and its output sent to files. On Windows |args| are
// UTF-8 where they are valid UTF-8 and ANSI bytes otherwise, and reach the
// program as the wide command line. A program that has not ended within a
// minute is ended, so a hang fails the test rather than stalls it.
Started StartProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::string& folder, Output output = Output::kFile);
// Waits for a started program and collects what it wrote.
Outcome FinishProgram(const Started& started);

Outcome RunProgram(const std::string& program, const std::vector<std::string>& args,
                   const std::string& folder, Output output = Output::kFile);

// Sets (or with |unset|, removes) a variable of this process's environment,
// which started programs inherit.
void SetEnvironment(const std::string& name, const std::string& value, bool unset = false);

// Whether |name| is set in this process's environment, and to what.
bool GetEnvironment(const std::string& name, std::string* value);

// Sets (or with |unset|, removes) a variable for the length of a scope, and
// then restores it as it was, unset included.
struct ScopedVariable {
  ScopedVariable(const std::string& name, const std::string& value, bool unset = false);
  ~ScopedVariable();
  std::string name;
  std::string kept;
  bool was_set;
};

// A new empty folder under the system's temporary folder.
std::string NewScratchFolder();

// Removes a folder and all below it, whatever the length or the names
// (Windows device names such as NUL included).
void RemoveFolder(const std::string& folder);

// Creates the folder |path| and those above it. On Windows the path is ANSI
// text, which the C++ library (GCC 14's) may not convert.
void MakeFolders(const std::string& path);

// Adds |bytes| zero bytes at the end of the file |path|, as a hole where
// the disk keeps one: a file of gigabytes that costs no time to make.
void Lengthen(const std::string& path, uint64_t bytes);

// Makes a FIFO at |path|, where kPosixFiles.
void MakeFifo(const std::string& path);

// Makes the file |path| read-only (and hidden, on Windows), as files copied
// from a CD are; IsReadOnly tells whether a file is.
void MakeReadOnly(const std::string& path);
bool IsReadOnly(const std::string& path);

// Holds |path| open until LetGo, as a scanner, an indexer or a backup
// client does: on Windows for reading, sharing reading only, which bars
// renaming over the file and deleting it. POSIX files have no such sharing,
// and there nothing is held. |sharing_all|: a reader that shares all,
// which only a writer that shares nothing keeps out.
intptr_t HoldOpen(const std::string& path, bool sharing_all = false);
// Holds a shared lock of the whole file |path| (flock, LockFileEx) until
// LetGo, which an install's exclusive lock must wait for; 0 when it cannot.
intptr_t HoldLock(const std::string& path);
void LetGo(intptr_t hold);

// Whether |path| is locked by an open other than a new one of its own: an
// exclusive lock of the whole file (LockFileEx on Windows, flock on POSIX)
// would wait.
bool IsLocked(const std::string& path);

// The short (8.3) name Windows gives the entry at |path|, as its last
// component alone; "" where there are none.
std::string ShortName(const std::string& path);

// The folder the stand-in's store is below when kStoreBaseVariable is unset:
// $HOME/.local/share on POSIX, the shell's local application data folder
// on Windows.
std::string DefaultStoreBase();

// |path| as the host system names it: the Linux path behind a Windows one
// under Wine (wine_get_unix_file_name), or "" where there is no such host;
// |path| itself on POSIX.
std::string HostPath(const std::string& path);

// Makes |link| a symbolic link to |target| as the host system makes one:
// under Wine a Linux link, which Wine follows (its CreateSymbolicLinkW makes
// none).
void MakeHostLink(const std::string& target, const std::string& link);

// How many files (descriptors, or handles on Windows) this process has open.
int OpenFiles();

std::string ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::string& bytes);

// Every file below |folder|, as paths relative to it, in sorted order.
std::vector<std::string> FilesBelow(const std::string& folder);

// A table's |rows|, then its |wide| rows where the program reads a wide
// command line (kWideCommandLine) and its |posix| rows where files are POSIX
// files (kPosixFiles).
template <typename Row>
std::vector<Row> PlatformRows(std::vector<Row> rows, const std::vector<Row>& wide,
                              const std::vector<Row>& posix) {
  if (kWideCommandLine) rows.insert(rows.end(), wide.begin(), wide.end());
  if (kPosixFiles) rows.insert(rows.end(), posix.begin(), posix.end());
  return rows;
}

// A test name made of |what|: letters and digits kept, anything else '_'.
std::string TestName(const char* what);

// Names a table's rows by their |what|: in the test names (RowName(), as
// INSTANTIATE_TEST_SUITE_P's last argument) and where a failure prints its
// row (LOADFILE_PRINTS_ROWS(Row), once beside the row's type).
struct RowName {
  template <typename Row>
  std::string operator()(const ::testing::TestParamInfo<Row>& info) const {
    return TestName(info.param.what);
  }
};
#define LOADFILE_PRINTS_ROWS(Row)                                   \
  [[maybe_unused]] void PrintTo(const Row& row, std::ostream* os) { \
    *os << row.what;                                                \
  }

// Joins with the platform's separator.
std::string Join(const std::string& folder, const std::string& name);

#endif  // LOADFILE_TESTS_HARNESS_H_
