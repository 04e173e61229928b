// Benchmarks of loadfile on Linux, printed as Markdown tables:
//   1. the cost of one run of each edition on each outcome against
//      /bin/true and against the floor of this design (a C program that
//      binds a one-function library at load time, as the tool binds its
//      install library), as ratios of medians over interleaved runs;
//   2. the stand-in's install of a 4 KiB and a 1 GiB file against cp of the
//      same file to the same disk, and against cp followed by a sync of the
//      copy (the stand-in makes its copy durable), with the peak memory of
//      each.
// Each run is spawned (posix_spawn: the child does not copy the driver's
// memory, so the driver's size does not enter the figures) and timed from
// the spawn to the end of the wait.
// Usage: loadfile_bench BUILD_FOLDER WORK_FOLDER [RUNS] [BIG_RUNS]
// WORK_FOLDER must be on the disk to measure; it is emptied and reused.
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Sample {
  double seconds;
};

// Runs |argv| with |env| and its standard output sent to |out| (its errors
// discarded); returns its time, and its exit status in |status|.
Sample Run(const std::vector<std::string>& argv, const std::vector<std::string>& env, int* status,
           const char* out = "/dev/null") {
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  std::vector<char*> vars;
  for (const std::string& var : env) vars.push_back(const_cast<char*>(var.c_str()));
  vars.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  timespec start;
  timespec end;
  clock_gettime(CLOCK_MONOTONIC, &start);
  pid_t pid = 0;
  if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), vars.data()) != 0) {
    fprintf(stderr, "cannot start %s\n", args[0]);
    exit(1);
  }
  posix_spawn_file_actions_destroy(&actions);
  int raw = 0;
  waitpid(pid, &raw, 0);
  clock_gettime(CLOCK_MONOTONIC, &end);
  *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return {static_cast<double>(end.tv_sec - start.tv_sec) + (end.tv_nsec - start.tv_nsec) / 1e9};
}

struct Case {
  std::string name;
  std::vector<std::string> argv;
  std::vector<std::string> env;
  int expected_status;
  std::function<void(int)> before;  // runs untimed before run |i|
  std::vector<Sample> samples;
};

double Median(std::vector<Sample> samples) {
  std::sort(samples.begin(), samples.end(),
            [](const Sample& a, const Sample& b) { return a.seconds < b.seconds; });
  return samples[samples.size() / 2].seconds;
}

// The peak resident memory of one more run of |c|, through |peak|.
long Peak(const std::string& peak, Case& c, const fs::path& scratch) {
  if (c.before) c.before(0);
  std::vector<std::string> argv = c.argv;
  argv.insert(argv.begin(), peak);
  int status = 0;
  Run(argv, c.env, &status, scratch.c_str());
  long kib = -1;
  std::ifstream(scratch) >> kib;
  return status == c.expected_status ? kib : -1;
}

// Runs every case |runs| times, one run of each in turn.
void Measure(std::vector<Case>& cases, int runs) {
  for (int i = 0; i < runs; ++i) {
    for (Case& c : cases) {
      if (c.before) c.before(i);
      int status = 0;
      c.samples.push_back(Run(c.argv, c.env, &status));
      if (status != c.expected_status) {
        fprintf(stderr, "%s exited %d, not %d\n", c.name.c_str(), status, c.expected_status);
        exit(1);
      }
    }
  }
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

void MakeFile(const fs::path& path, long long size) {
  std::ofstream out(path, std::ios::binary);
  std::string block(1 << 20, '\0');
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 2654435761u >> 13);
  for (long long left = size; left > 0; left -= static_cast<long long>(block.size())) {
    out.write(block.data(), std::min<long long>(left, static_cast<long long>(block.size())));
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: %s BUILD_FOLDER WORK_FOLDER [RUNS] [BIG_RUNS]\n", argv[0]);
    return 2;
  }
  fs::path build = fs::absolute(argv[1]);
  fs::path work = fs::absolute(argv[2]);
  int runs = argc > 3 ? atoi(argv[3]) : 1000;
  int big_runs = argc > 4 ? atoi(argv[4]) : 5;
  fs::remove_all(work);
  fs::create_directories(work);
  WriteFile(work / "a.dat", "abc");
  // Each last-user case reads settings of its own, written once here: a
  // value rewritten just before a run makes the file system flush it while
  // the run is timed.
  auto settings = [&](const std::string& folder, const std::string& name) {
    fs::path preferences = work / folder / "registry/HKEY_CURRENT_USER/Software/Corvallex/" /
                           "Tandril Desktop/Preferences";
    fs::create_directories(preferences);
    if (!name.empty()) WriteFile(preferences / "LastUserName", name + '\0');
    return preferences;
  };
  settings("config-ann", "Ann");
  settings("config-bad", "..");
  settings("config-none", "");
  fs::path changing = settings("config-new", "l0");
  fs::current_path(work);

  std::string named = (build / "named-user/loadfile").string();
  std::string last = (build / "last-user/loadfile").string();
  std::string data = "XDG_DATA_HOME=" + (work / "data").string();
  auto config = [&](const std::string& folder) {
    return std::vector<std::string>{data, "XDG_CONFIG_HOME=" + (work / folder).string()};
  };
  std::vector<std::string> env = config("config-ann");
  // "Ann" has a.dat already; "installed" cases use a new user every run.
  int status = 0;
  Run({named, "a.dat", "Ann"}, env, &status);

  std::string floor = (build / "bench/bench_floor").string();
  std::string peak = (build / "bench/bench_peak").string();
  std::vector<Case> cases = {
      {"/bin/true", {"/bin/true"}, env, 0, nullptr, {}},
      {"floor: a C program that binds a one-function library", {floor}, env, 0, nullptr, {}},
      {"named-user: usage", {named}, env, 0, nullptr, {}},
      {"named-user: not found", {named, "missing.dat", "Ann"}, env, 0, nullptr, {}},
      {"named-user: already installed", {named, "a.dat", "Ann"}, env, 1, nullptr, {}},
      {"named-user: error (bad user)", {named, "a.dat", "../x"}, env, 0, nullptr, {}},
      {"named-user: installed (copies)", {named, "a.dat", ""}, env, 1, nullptr, {}},
      {"last-user: usage", {last}, env, 0, nullptr, {}},
      {"last-user: not found", {last, "missing.dat"}, env, 0, nullptr, {}},
      {"last-user: no last user", {last, "a.dat"}, config("config-none"), 0, nullptr, {}},
      {"last-user: already installed", {last, "a.dat"}, env, 1, nullptr, {}},
      {"last-user: error (bad user)", {last, "a.dat"}, config("config-bad"), 0, nullptr, {}},
      {"last-user: installed (copies)",
       {last, "a.dat"},
       config("config-new"),
       1,
       [&](int i) { WriteFile(changing / "LastUserName", "l" + std::to_string(i) + '\0'); },
       {}},
  };
  Case& named_installed = cases[6];
  named_installed.before = [&](int i) { named_installed.argv[2] = "n" + std::to_string(i); };
  Measure(cases, runs);

  printf("| Run (%d runs each, interleaved) | median | / `/bin/true` | / floor |\n", runs);
  printf("|---|---|---|---|\n");
  double base = Median(cases[0].samples);
  double floor_median = Median(cases[1].samples);
  for (const Case& c : cases) {
    double median = Median(c.samples);
    printf("| %s | %.0f us | %.2f | %.2f |\n", c.name.c_str(), median * 1e6, median / base,
           median / floor_median);
  }

  printf("\n| Copy (interleaved) | runs | median | / `cp` | / `cp` + sync | peak memory |\n");
  printf("|---|---|---|---|---|---|\n");
  struct Size {
    const char* name;
    long long bytes;
    int runs;
  } sizes[] = {{"4 KiB", 4 << 10, runs / 5}, {"1 GiB", 1LL << 30, big_runs}};
  for (const Size& size : sizes) {
    fs::path source = work / (std::string("source-") + size.name[0]);
    MakeFile(source, size.bytes);
    fs::path staged = work / "data/pkgstage/Bob" / source.filename();
    fs::path copy = work / "copy";
    std::vector<Case> copies = {
        {"cp",
         {"/bin/cp", source.string(), copy.string()},
         env,
         0,
         [&](int) { fs::remove(copy); },
         {}},
        {"cp, then sync of the copy",
         {"/bin/sh", "-c", "cp \"$0\" \"$1\" && sync \"$1\"", source.string(), copy.string()},
         env,
         0,
         [&](int) { fs::remove(copy); },
         {}},
        {"loadfile with the stand-in",
         {named, source.string(), "Bob"},
         env,
         1,
         [&](int) { fs::remove(staged); },
         {}},
    };
    Measure(copies, size.runs);
    double cp = Median(copies[0].samples);
    double cp_sync = Median(copies[1].samples);
    for (Case& c : copies) {
      double median = Median(c.samples);
      printf("| %s: %s | %d | %.3f ms | %.2f | %.2f | %ld KiB |\n", size.name, c.name.c_str(),
             size.runs, median * 1e3, median / cp, median / cp_sync, Peak(peak, c, work / "peak"));
    }
    fs::remove(source);
    fs::remove(copy);
    fs::remove(staged);
  }
  fs::current_path(build);
  fs::remove_all(work);
  return 0;
}
