/* peak PROGRAM [ARG...]: runs PROGRAM with its output discarded, prints its
   peak resident memory in KiB and exits with its status.

   A process's peak counts the memory it had before its exec, and a child
   spawned without a copy (posix_spawn, vfork) had its parent's: so the
   benchmark driver cannot read the figure of a child it spawns itself. This
   small program forks a child that holds almost nothing before the exec. */
#include <fcntl.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  pid_t pid = fork();
  if (pid == 0) {
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    execv(argv[1], argv + 1);
    _exit(127);
  }
  int status = 0;
  struct rusage usage;
  if (pid < 0 || wait4(pid, &status, 0, &usage) < 0) return 2;
  printf("%ld\n", usage.ru_maxrss);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 2;
}
