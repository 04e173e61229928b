#include <string.h>

#include "names.h"

int IsSeparator(char c) {
  return c == '/';
}

size_t OpenedLength(const char* name) {
  return strlen(name);
}

int IsPlainName(const char* /*name*/) {
  return 1;
}
