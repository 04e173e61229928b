// The named-user edition: loadfile <file> <user>.
#include "entry.h"
#include "loadfile.h"

int LoadfileMain(int argc, char** argv) {
  if (!CheckCommandLine(argc, argv, 3, "usage: loadfile <file> <user> \n")) return 0;
  // The user is taken verbatim: no length limit, no check of its content.
  return InstallFile(argv[1], argv[2]);
}
