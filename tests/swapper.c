/* Races the stand-in: swaps a folder of the store with a link to a folder
 * outside it, over and over, as someone who can write into the store could.
 *
 *   swapper FOLDER LINK TARGET SECONDS DONE
 *
 * makes LINK a symbolic link to TARGET, exchanges the names FOLDER and LINK
 * (renameat2 with RENAME_EXCHANGE, one atomic step) for SECONDS, leaves
 * FOLDER where it was, removes LINK, and then writes the number of swaps into the file
 * DONE, which the test waits for. With SECONDS 0 it only plants LINK, and
 * leaves it. A Linux program: the Windows tests start
 * it through Wine, whose links are the host's (Wine makes none itself), and
 * cannot wait for it, hence the file. */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

static double Now(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (double)now.tv_sec + (double)now.tv_nsec / 1e9;
}

int main(int argc, char** argv) {
  if (argc != 6) {
    fprintf(stderr, "usage: swapper FOLDER LINK TARGET SECONDS DONE\n");
    return 2;
  }
  if (symlink(argv[3], argv[2]) != 0) {
    perror("symlink");
    return 1;
  }
  double seconds = atof(argv[4]);
  double end = Now() + seconds;
  long swaps = 0;
  while (Now() < end) {
    if (renameat2(AT_FDCWD, argv[1], AT_FDCWD, argv[2], RENAME_EXCHANGE) != 0) {
      perror("renameat2");
      return 1;
    }
    ++swaps;
  }
  if (swaps % 2 != 0 && renameat2(AT_FDCWD, argv[1], AT_FDCWD, argv[2], RENAME_EXCHANGE) == 0) {
    ++swaps;
  }
  if (seconds > 0 && unlink(argv[2]) != 0) {
    perror("unlink");
    return 1;
  }
  FILE* done = fopen(argv[5], "w");
  if (done == NULL) return 1;
  fprintf(done, "%ld\n", swaps);
  return fclose(done) == 0 ? 0 : 1;
}
