#include "loadfile.h"

#include "install.h"
#include "output.h"
#include "probe.h"

int CheckArgs(int argc, int expected) {
  return argc == expected ? 1 : 0;
}

int FileExists(const char* path) {
  return OpenForReading(path);
}

int CheckCommandLine(int argc, char** argv, int expected, const char* usage) {
  if (!CheckArgs(argc, expected)) {
    PrintLine("%s", usage);
    return 0;
  }
  if (!FileExists(argv[1])) {
    PrintLine("Error: File not found.\n");
    return 0;
  }
  return 1;
}

int InstallFile(const char* path, const char* user) {
  int status = CallInstall(user, path);
  // Already-installed is a non-zero status that still counts as success, so
  // it has to be told apart before the general failure test.
  if (status == kAlreadyInstalled) {
    PrintLine("File %s already installed for user %s.\n", path, user);
    return 1;
  }
  if (status != kInstalled) {
    PrintLine("Error: Cannot install file (err=%d).\n", status);
    return 0;
  }
  PrintLine("Installed file %s for user %s.\n", path, user);
  return 1;
}
