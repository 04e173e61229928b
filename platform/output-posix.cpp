#include <stdarg.h>
#include <stdio.h>

#include "output.h"

// Variadic as printf is: the format attribute in output.h has the compiler
// check every call's arguments against its format.
void PrintLine(const char* format, ...) {  // NOLINT(cert-dcl50-cpp)
  va_list args;
  va_start(args, format);
  vprintf(format, args);
  va_end(args);
}
