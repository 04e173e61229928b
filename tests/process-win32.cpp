#include <gtest/gtest.h>
#include <shlobj.h>
#include <stdio.h>
#include <windows.h>

#include <filesystem>
#include <vector>

#include "harness.h"

const char* const kNewline = "\r\n";
const bool kFolderOpens = false;
const char* const kStoreBaseVariable = "LOCALAPPDATA";
const size_t kLongestArgument = 30000;
const char* const kProgramSuffix = ".exe";
const bool kWideCommandLine = true;
const bool kPosixFiles = false;

std::string BuiltProgram(const std::string& relative) {
  char self[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, self, sizeof self);
  std::filesystem::path folder = std::filesystem::path(std::string(self, length)).parent_path();
  return (folder.parent_path() / relative).make_preferred().string();
}

namespace {

// An argument as the tests give it, as wide text: UTF-8 where the bytes are
// UTF-8, so that a test can name characters the ANSI code page lacks;
// otherwise bytes in the ANSI code page, as a narrow caller passes them.
std::wstring Widen(const std::string& text) {
  if (text.empty()) return L"";
  UINT code_page = CP_UTF8;
  int length = MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, text.data(),
                                   static_cast<int>(text.size()), nullptr, 0);
  if (length == 0) {
    code_page = CP_ACP;
    length =
        MultiByteToWideChar(code_page, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  }
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(code_page, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
  return wide;
}

// Quotes one argument so that the C runtime's command line splitting gives
// it back unchanged: backslashes only escape when a quote follows them.
std::wstring Quote(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
  std::wstring quoted = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(2 * backslashes, L'\\');
  return quoted + L"\"";
}

HANDLE OpenInheritable(const std::string& path, bool write) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  return CreateFileA(path.c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                     FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                     write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The screen buffer of Output::kConsole: wide enough that no line of the
// tests wraps, and filled with a character no program of the tests writes,
// so that a blank written at the end of a line is seen.
const SHORT kConsoleWidth = 250;
const wchar_t kUnwritten = L'\x2591';

HANDLE NewConsoleBuffer(unsigned* code_page) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE buffer =
      CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                &inherit, CONSOLE_TEXTMODE_BUFFER, nullptr);
  if (buffer == INVALID_HANDLE_VALUE) {
    ADD_FAILURE() << "no console (error " << GetLastError()
                  << "): these tests run on a terminal, as cmake/wine.sh console gives them";
    return nullptr;
  }
  // No fewer rows than the console's window has, or the size is refused.
  CONSOLE_SCREEN_BUFFER_INFO info;
  EXPECT_TRUE(GetConsoleScreenBufferInfo(buffer, &info));
  EXPECT_TRUE(SetConsoleScreenBufferSize(buffer, COORD{kConsoleWidth, info.dwSize.Y}));
  DWORD filled = 0;
  FillConsoleOutputCharacterW(buffer, kUnwritten, static_cast<DWORD>(kConsoleWidth * info.dwSize.Y),
                              COORD{0, 0}, &filled);
  *code_page = GetConsoleOutputCP();
  EXPECT_TRUE(SetConsoleOutputCP(850));
  return buffer;
}

// What the screen buffer shows, in the ANSI code page: the rows up to the
// cursor, a row that is not full ending its line (a full one wrapped).
std::string ReadConsole(HANDLE buffer) {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(buffer, &info)) return "";
  std::wstring shown;
  std::vector<wchar_t> cells(static_cast<size_t>(info.dwSize.X));
  for (SHORT row = 0; row <= info.dwCursorPosition.Y; ++row) {
    DWORD read = 0;
    ReadConsoleOutputCharacterW(buffer, cells.data(), info.dwSize.X, COORD{0, row}, &read);
    std::wstring text(cells.data(), read);
    text.erase(text.find_last_not_of(kUnwritten) + 1);
    shown += text;
    if (row < info.dwCursorPosition.Y && text.size() < read) shown += L"\r\n";
  }
  if (shown.empty()) return "";
  // Without best fit, a character the code page lacks comes back as '?'.
  int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, shown.data(),
                                   static_cast<int>(shown.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, shown.data(), static_cast<int>(shown.size()),
                      &bytes[0], length, nullptr, nullptr);
  return bytes;
}

}  // namespace

Started StartProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::string& folder, Output output) {
  Started started;
  std::string scratch = NewScratchFolder();
  started.out_file = Join(scratch, "stdout");
  started.err_file = Join(scratch, "stderr");
  // Through the wide API, so that the program is given the wide command line
  // a user's shell would give it.
  std::wstring command = L"\"" + Widen(program) + L"\"";
  for (const std::string& arg : args) command += L" " + Quote(Widen(arg));

  STARTUPINFOW startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = output == Output::kFileWithoutInput ? nullptr : OpenInheritable("NUL", false);
  if (output == Output::kConsole) {
    HANDLE buffer = NewConsoleBuffer(&started.code_page);
    started.console = reinterpret_cast<intptr_t>(buffer);
    startup.hStdOutput = buffer;
  } else if (output == Output::kWriteOnlyConsole) {
    HANDLE buffer = NewConsoleBuffer(&started.code_page);
    started.console = reinterpret_cast<intptr_t>(buffer);
    // CONOUT$ is the active screen buffer: the one made here, for the run.
    started.active = reinterpret_cast<intptr_t>(
        CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_TRUE(SetConsoleActiveScreenBuffer(buffer));
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    startup.hStdOutput = CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     &inherit, OPEN_EXISTING, 0, nullptr);
    DWORD mode = 0;
    EXPECT_FALSE(GetConsoleMode(startup.hStdOutput, &mode)) << "the handle is not write-only";
  } else {
    startup.hStdOutput = OpenInheritable(started.out_file, true);
  }
  startup.hStdError = OpenInheritable(started.err_file, true);
  PROCESS_INFORMATION info;
  ZeroMemory(&info, sizeof info);
  // A start that Wine refuses (ERROR_INTERNAL_ERROR, now and then on a busy
  // machine) happens before the program runs, so it leaves nothing to undo
  // and is tried again. Only the start: once the program runs, its outcome
  // is taken as it comes.
  const int kTries = 5;
  DWORD error = 0;
  for (int tries = 1; tries <= kTries; ++tries) {
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(L'\0');
    if (CreateProcessW(Widen(program).c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                       Widen(folder).c_str(), &startup, &info)) {
      CloseHandle(info.hThread);
      started.process = reinterpret_cast<intptr_t>(info.hProcess);
      // Said, so that a machine that refuses often is seen.
      if (tries > 1) {
        printf("start of %s refused (error %lu), started on try %d\n", program.c_str(), error,
               tries);
      }
      break;
    }
    error = GetLastError();
    if (tries == kTries) {
      ADD_FAILURE() << "CreateProcess " << program << " failed " << kTries
                    << " times, last: " << error;
    } else {
      Sleep(50 * static_cast<DWORD>(tries));
    }
  }
  if (startup.hStdInput != nullptr) CloseHandle(startup.hStdInput);
  if (output != Output::kConsole) CloseHandle(startup.hStdOutput);
  CloseHandle(startup.hStdError);
  return started;
}

Outcome FinishProgram(const Started& started) {
  Outcome outcome;
  HANDLE process = reinterpret_cast<HANDLE>(started.process);
  if (process != nullptr) {
    // A program that has not ended within a minute is ended, and fails.
    if (WaitForSingleObject(process, 60000) == WAIT_TIMEOUT) {
      TerminateProcess(process, 1);
      WaitForSingleObject(process, INFINITE);
      ADD_FAILURE() << "a program ran for a minute and was ended";
    }
    DWORD code = 0;
    if (GetExitCodeProcess(process, &code)) outcome.exit_code = static_cast<int>(code);
    CloseHandle(process);
  }
  outcome.out = ReadBytes(started.out_file);
  if (started.console != 0) {
    HANDLE buffer = reinterpret_cast<HANDLE>(started.console);
    outcome.out = ReadConsole(buffer);
    if (started.active != 0) {
      HANDLE active = reinterpret_cast<HANDLE>(started.active);
      SetConsoleActiveScreenBuffer(active);
      CloseHandle(active);
    }
    SetConsoleOutputCP(started.code_page);
    CloseHandle(buffer);
  }
  outcome.err = ReadBytes(started.err_file);
  RemoveFolder(std::filesystem::path(started.out_file).parent_path().string());
  return outcome;
}

unsigned AnsiCodePage() {
  return GetACP();
}

void MakeFifo(const std::string& path) {
  FAIL() << "no FIFOs on Windows: " << path;
}

// The system's list of handles would serve too, but reading it while other
// Wine processes start and end stopped Wine 8's server in the tests.
int OpenFiles() {
  DWORD count = 0;
  if (GetProcessHandleCount(GetCurrentProcess(), &count) && count > 0) {
    return static_cast<int>(count);
  }
  // Wine 8 answers 0, so there the handles are found one by one. Its table
  // gives out the lowest free entry, each a multiple of 4: a run of 256
  // free entries past the last one in use is the table's end.
  int found = 0;
  for (uintptr_t value = 4, free_run = 0; free_run < 256; value += 4) {
    DWORD flags = 0;
    bool in_use = GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) != 0;
    found += in_use ? 1 : 0;
    free_run = in_use ? 0 : free_run + 1;
  }
  return found;
}

void MakeFolders(const std::string& path) {
  std::filesystem::create_directories(Widen(path));
}

void Lengthen(const std::string& path, uint64_t bytes) {
  HANDLE file =
      CreateFileW(Widen(path).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  LARGE_INTEGER by;
  by.QuadPart = static_cast<LONGLONG>(bytes);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
  // The end of file moves without writing: what lies between reads as zeros.
  EXPECT_TRUE(SetFilePointerEx(file, by, nullptr, FILE_END) && SetEndOfFile(file)) << path;
  CloseHandle(file);
}

void MakeReadOnly(const std::string& path) {
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
}

bool IsReadOnly(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

intptr_t HoldOpen(const std::string& path, bool sharing_all) {
  DWORD share =
      sharing_all ? FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE : FILE_SHARE_READ;
  HANDLE file =
      CreateFileW(Widen(path).c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
  return file == INVALID_HANDLE_VALUE ? 0 : reinterpret_cast<intptr_t>(file);
}

intptr_t HoldLock(const std::string& path) {
  intptr_t hold = HoldOpen(path, true);
  OVERLAPPED whole = {};
  if (hold != 0 && !LockFileEx(reinterpret_cast<HANDLE>(hold), 0, 0, MAXDWORD, MAXDWORD, &whole)) {
    LetGo(hold);
    return 0;
  }
  return hold;
}

void LetGo(intptr_t hold) {
  if (hold != 0) CloseHandle(reinterpret_cast<HANDLE>(hold));
}

bool IsLocked(const std::string& path) {
  HANDLE file = CreateFileW(Widen(path).c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  OVERLAPPED whole = {};
  bool locked = !LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD,
                            MAXDWORD, &whole);
  CloseHandle(file);
  return locked;
}

std::string ShortName(const std::string& path) {
  char alias[MAX_PATH];
  DWORD length = GetShortPathNameA(path.c_str(), alias, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return "";
  std::string full(alias, length);
  return full.substr(full.find_last_of('\\') + 1);
}

std::string DefaultStoreBase() {
  char folder[MAX_PATH];
  if (SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder) != S_OK) {
    return "";
  }
  return folder;
}

std::string HostPath(const std::string& path) {
  typedef char*(CDECL * ToUnix)(const wchar_t*);
  ToUnix to_unix = reinterpret_cast<ToUnix>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (to_unix == nullptr) return "";
  std::wstring wide = std::filesystem::absolute(path).wstring();
  char* unix_path = to_unix(wide.c_str());
  if (unix_path == nullptr) return "";
  std::string host = unix_path;
  HeapFree(GetProcessHeap(), 0, unix_path);
  return host;
}

void MakeHostLink(const std::string& target, const std::string& link) {
  std::string done = Join(NewScratchFolder(), "done");
  Started planter = StartProgram(BuiltProgram("tests/plant-link"),
                                 {HostPath(target), HostPath(link), HostPath(done)}, ".");
  // Wine cannot wait for a host program: the file it writes last says it
  // is done. A minute at most.
  for (int i = 0; i < 60000 && !std::filesystem::exists(done); ++i) Sleep(1);
  FinishProgram(planter);
  RemoveFolder(std::filesystem::path(done).parent_path().string());
}

bool GetEnvironment(const std::string& name, std::string* value) {
  char found[32768];
  DWORD length = GetEnvironmentVariableA(name.c_str(), found, sizeof found);
  if (length == 0 || length >= sizeof found) return false;
  *value = std::string(found, length);
  return true;
}

// As wide text, so that a value can hold what the ANSI code page lacks.
void SetEnvironment(const std::string& name, const std::string& value, bool unset) {
  SetEnvironmentVariableW(Widen(name).c_str(), unset ? nullptr : Widen(value).c_str());
}

namespace {

// Removes |path| and everything below it; |path| is a \\?\ path.
void RemoveTree(const std::wstring& path) {
  WIN32_FIND_DATAW entry;
  HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &entry);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = entry.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring below = path + L"\\" + name;
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(below);
      } else {
        SetFileAttributesW(below.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(below.c_str());
      }
    } while (FindNextFileW(search, &entry));
    FindClose(search);
  }
  RemoveDirectoryW(path.c_str());
}

}  // namespace

void RemoveFolder(const std::string& folder) {
  // The C++ library fails on paths over MAX_PATH and takes names such as
  // "com1" for devices; the wide API with a \\?\ path does neither.
  std::wstring full = std::filesystem::absolute(folder).wstring();
  RemoveTree(L"\\\\?\\" + full);
}
