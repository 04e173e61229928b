/* The floor of this design: the least a program can do that, like
   loadfile, binds a library at load time, calls into it once and prints
   one line. */
#include <stdio.h>

int FloorEntry(void);

int main(void) {
  printf("Installed file %s for user %s.\n", "a.dat", "Ann");
  return FloorEntry();
}
