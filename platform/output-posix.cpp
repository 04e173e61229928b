#include <stdarg.h>
#include <stdio.h>

#include "output.h"

// Variadic as printf is: the format attribute in output.h has the compiler
// check every call's arguments against its format.
void PrintLine(const char* format, ...) {  // NOLINT(cert-dcl50-cpp)
  va_list args;
  va_start(args, format);
  // clang-tidy 14 loses the va_start above when it checks this file after
  // another one in the same run, and would call args uninitialised.
  vprintf(format, args);  // NOLINT(clang-analyzer-valist.Uninitialized)
  va_end(args);
}
