// The stand-in install library over arbitrary user names and paths.
// Property: whatever it is given (an absolute path, a climbing one, a long
// one), it answers one of its statuses; an install that reports 0 leaves
// its copy, with the source's bytes, at the user's folder and the path's
// last name, and nothing else in the store; and nothing is created, changed
// or removed anywhere else below the fuzzer's root.
#include <ftw.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include <string>

#include "pkgstage.h"

namespace {

// Reports a broken property and stops; libFuzzer keeps the input.
[[noreturn]] void Fail(const char* what) {
  fprintf(stderr, "property broken: %s\n", what);
  abort();
}

std::string root;   // everything this target touches is below here
std::string store;  // root + "/data/pkgstage"
std::set<std::string> seen;

int Collect(const char* path, const struct stat* info, int, struct FTW*) {
  std::string entry = path;
  // The store is the one place that may change; it is emptied after each run.
  if (entry.compare(0, store.size(), store) == 0) return 0;
  // A folder's times change as the store below it comes and goes; a file's
  // size and times change only when it is written.
  if (S_ISDIR(info->st_mode)) {
    seen.insert(entry + "/");
  } else {
    seen.insert(entry + ":" + std::to_string(info->st_size) + ":" +
                std::to_string(info->st_mtim.tv_sec) + "." + std::to_string(info->st_mtim.tv_nsec));
  }
  return 0;
}

std::set<std::string> Snapshot() {
  seen.clear();
  nftw(root.c_str(), Collect, 16, FTW_PHYS);
  return seen;
}

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
  return remove(path);
}

std::set<std::string> before;

std::string Contents(const std::string& path) {
  std::string bytes;
  FILE* file = fopen(path.c_str(), "rb");
  if (file == nullptr) return "(missing)";
  for (int c = fgetc(file); c != EOF; c = fgetc(file)) bytes.push_back(static_cast<char>(c));
  fclose(file);
  return bytes;
}

std::set<std::string> in_store;

int CollectStore(const char* path, const struct stat*, int, struct FTW*) {
  in_store.insert(path);
  return 0;
}

void RemoveRoot() {
  nftw(root.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char folder[] = "/tmp/loadfile-fuzz-pkgstage-XXXXXX";
  if (mkdtemp(folder) == nullptr) abort();
  root = folder;
  atexit(RemoveRoot);
  store = root + "/data/pkgstage";
  setenv("XDG_DATA_HOME", (root + "/data").c_str(), 1);
  // Sources to name, one folder down so that "../" reaches the root.
  mkdir((root + "/data").c_str(), 0755);
  mkdir((root + "/src").c_str(), 0755);
  mkdir((root + "/src/sub").c_str(), 0755);
  for (const char* name : {"src/a.dat", "src/sub/b.dat", "src/.pkgstage.tmp", "victim"}) {
    FILE* file = fopen((root + "/" + name).c_str(), "w");
    fputs(name, file);
    fclose(file);
  }
  if (chdir((root + "/src").c_str()) != 0) abort();
  before = Snapshot();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
  // The user, a NUL, then the path.
  const char* bytes = reinterpret_cast<const char*>(input);
  const char* split = static_cast<const char*>(memchr(bytes, '\0', size));
  if (split == nullptr) return 0;
  std::string user(bytes, static_cast<size_t>(split - bytes));
  std::string path(split + 1, size - user.size() - 1);
  if (path.find('\0') != std::string::npos) return 0;

  int status = PkgStageInstall(user.c_str(), path.c_str());
  if (status != kInstalled && status != kAlreadyInstalled && status != kBadUserName &&
      status != kBadFileName && status != kSourceUnreadable && status != kStoreFailed) {
    Fail("a status of the library's own");
  }
  if (status == kInstalled) {
    std::string folder = store + "/" + user;
    std::string staged = folder + "/" + path.substr(path.rfind('/') + 1);
    if (Contents(staged) != Contents(path)) Fail("the copy is at the user's folder and name");
    in_store.clear();
    nftw(store.c_str(), CollectStore, 16, FTW_PHYS);
    if (in_store != std::set<std::string>{store, folder, folder + "/.pkgstage.lock", staged}) {
      Fail("nothing else is in the store");
    }
  }
  if (Snapshot() != before) Fail("nothing changes outside the store");
  nftw(store.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
  return 0;
}
