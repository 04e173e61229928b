// The last-user edition: loadfile <file>, for the user who last synchronised
// a device with the suite.
#include "entry.h"
#include "last_user.h"
#include "loadfile.h"
#include "output.h"

int LoadfileMain(int argc, char** argv) {
  if (!CheckCommandLine(argc, argv, 2, "usage: loadfile <file>\n")) return 0;
  // Room for a name of 19 characters and its NUL.
  char name[20];
  DWORD size = sizeof name;
  if (!GetLastUserName(name, &size)) {
    PrintLine("Error: Cannot get username of last Cradlex user.\n");
    return 0;
  }
  return InstallFile(argv[1], name);
}
