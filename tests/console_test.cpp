// The outcome line's console write when the console fails it, which no
// console under Wine does: the platform's output code, built here with its
// one console call replaced.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>

namespace {

// The console: takes at most |most| units a call for |calls| calls, then
// fails; |silent|, it then says it wrote, having taken nothing.
struct Console {
  const char* what = "";
  std::string line = "";
  int calls = 0;
  DWORD most = 0;
  bool silent = false;
  int result = 0;  // WriteToConsole's: 0 when the caller is to write bytes
  std::wstring shown = L"";
  int made = 0;  // calls made
};
Console console;  // the one in use
std::wstring shown;
int made = 0;

BOOL WINAPI TakeSome(HANDLE, const VOID* text, DWORD count, LPDWORD written, LPVOID) {
  *written = made++ < console.calls ? std::min(count, console.most) : 0;
  shown.append(static_cast<const wchar_t*>(text), *written);
  // A console that keeps taking nothing would be asked for ever.
  return made <= console.calls || (console.silent && made < 100);
}

}  // namespace

#define WriteConsoleW TakeSome
#include "output-win32.cpp"  // NOLINT(bugprone-suspicious-include)
#undef WriteConsoleW

namespace {

TEST(ConsoleTest, StopsWhereTheConsoleFails) {
  const std::string kLong(10000, 'x');
  const Console kRows[] = {
      // clang-format off
      {.what = "fails at once", .line = "ab\n", .result = 0, .shown = L"", .made = 1},
      {.what = "takes nothing", .line = "ab\n", .silent = true, .result = 0, .shown = L"",
       .made = 1},
      // What it showed is not written again.
      {.what = "fails after a piece", .line = kLong + "\n", .calls = 1, .most = 8192,
       .result = 1, .shown = std::wstring(8192, L'x'), .made = 2},
      {.what = "takes a unit a call", .line = "ab\n", .calls = 9, .most = 1, .result = 1,
       .shown = L"ab\r\n", .made = 4},
      // clang-format on
  };
  for (const Console& row : kRows) {
    console = row;
    shown.clear();
    made = 0;
    int result = WriteToConsole(nullptr, row.line.c_str(), static_cast<int>(row.line.size()));
    EXPECT_EQ(result, row.result) << row.what;
    EXPECT_TRUE(shown == row.shown) << row.what << ": " << shown.size();
    EXPECT_EQ(made, row.made) << row.what;
  }
}

}  // namespace
