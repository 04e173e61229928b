/* Makes a host symbolic link for the Windows tests, which Wine cannot make
 * (its links are the host's):
 *
 *   plant-link TARGET LINK DONE
 *
 * makes LINK a link to TARGET, then creates the file DONE, which the test
 * waits for: Wine cannot wait for a host program. */
#include <stdio.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: plant-link TARGET LINK DONE\n");
    return 2;
  }
  if (symlink(argv[1], argv[2]) != 0) {
    perror("symlink");
    return 1;
  }
  FILE* done = fopen(argv[3], "w");
  return done != NULL && fclose(done) == 0 ? 0 : 1;
}
