// The last-user lookup over arbitrary registry answers: any data, any
// counts and error codes, honest or not. The three registry operations are
// scripted from the input. Property: the 20-byte buffer is never read or
// written past its end (AddressSanitizer watches it on the heap), the key is
// closed whenever it was opened, and the lookup either fails or yields a
// NUL-terminated name that the data held.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "last_user.h"

namespace {

// Reports a broken property and stops; libFuzzer keeps the input.
[[noreturn]] void Fail(const char* what) {
  fprintf(stderr, "property broken: %s\n", what);
  abort();
}

struct Script {
  LONG open_status;
  LONG query_status;  // 0: answer as the registry would
  LONG close_status;
  bool lie;       // claim success with any count
  DWORD claimed;  // the count a lying registry reports
  const uint8_t* value;
  size_t value_size;
};

Script script;
int opened;
int closed;
int queried;
HKEY const kKey = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x1234));

}  // namespace

LONG RegOpenKeyA(HKEY, LPCSTR, PHKEY result) {
  if (script.open_status != ERROR_SUCCESS) return script.open_status;
  *result = kKey;
  ++opened;
  return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY key, LPCSTR, LPDWORD, LPDWORD, LPBYTE data, LPDWORD size) {
  if (key != kKey) abort();
  ++queried;
  if (script.query_status != ERROR_SUCCESS) return script.query_status;
  if (script.lie) {
    // A registry that copies what fits but reports another count.
    memcpy(data, script.value, script.value_size < *size ? script.value_size : *size);
    *size = script.claimed;
    return ERROR_SUCCESS;
  }
  if (script.value_size > *size) {
    *size = static_cast<DWORD>(script.value_size);
    return ERROR_MORE_DATA;
  }
  memcpy(data, script.value, script.value_size);
  *size = static_cast<DWORD>(script.value_size);
  return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
  if (key != kKey) abort();
  ++closed;
  return script.close_status;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
  if (size < 8) return 0;
  // Error codes are drawn mostly from those a registry returns.
  static const LONG kCodes[] = {ERROR_SUCCESS,   ERROR_FILE_NOT_FOUND,         ERROR_READ_FAULT,
                                ERROR_MORE_DATA, 6 /* ERROR_INVALID_HANDLE */, -1};
  script.open_status = kCodes[input[0] % 6];
  script.query_status = kCodes[input[1] % 6];
  script.close_status = kCodes[input[2] % 6];
  script.lie = (input[3] & 1) != 0;
  memcpy(&script.claimed, input + 4, sizeof script.claimed);
  script.value = input + 8;
  script.value_size = size - 8;
  opened = closed = queried = 0;

  char* name = static_cast<char*>(malloc(20));
  memset(name, 0x5A, 20);
  DWORD count = 20;
  int found = GetLastUserName(name, &count);

  if (closed != opened || queried > opened) Fail("every opened key is closed");
  if (found) {
    if (script.open_status || script.query_status || script.close_status)
      Fail("a name after a failure");
    const char* end = static_cast<const char*>(memchr(name, '\0', 20));
    if (end == nullptr) Fail("the name ends in the buffer");
    size_t length = static_cast<size_t>(end - name);
    // The name and its NUL are bytes the registry gave.
    if (length + 1 > script.value_size || memcmp(name, script.value, length + 1) != 0) {
      Fail("the name is the data's");
    }
  }
  free(name);
  return 0;
}
