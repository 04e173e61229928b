// How the tests fail the stand-ins' file calls: one hook on their one seam
// (seam.h), told what to fail and do by |failing|.
#ifndef LOADFILE_TESTS_FAILING_H_
#define LOADFILE_TESTS_FAILING_H_

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "harness.h"
#include "seam.h"

// The stand-ins' calls to fail through the seam: from the |from|th whose name
// holds |call|, |times| of them (-1: all), with |fault|. The seam also
// acts: before the |act_from|th call whose name holds |act_at|, |act| does
// what another program would do at that moment. It records every call, in
// order.
struct Failing {
  std::string call = "";
  int from = 1;
  int times = 0;
  Fault fault = kNoFault;
  int seen = 0;    // calls met that match
  int failed = 0;  // calls failed
  std::string last = "";
  // Set to the path of a file outside the store that must never be locked
  // while the store works, and then whether it was.
  std::string watched = "";
  bool locked = false;
  std::string act_at = "";
  int act_from = 1;
  std::function<void()> act = nullptr;
  int act_seen = 0;
  std::vector<std::string> calls = {};
};
inline Failing failing;

// The hook (fault_hook) that fails calls as |failing| says.
inline Fault FailSome(const char* call) {
  failing.calls.push_back(call);
  if (failing.act && std::strstr(call, failing.act_at.c_str()) != nullptr &&
      ++failing.act_seen == failing.act_from) {
    std::function<void()> act = failing.act;
    failing.act = nullptr;
    act();
  }
  if (!failing.watched.empty() && IsLocked(failing.watched)) failing.locked = true;
  if (std::strstr(call, failing.call.c_str()) == nullptr || ++failing.seen < failing.from) {
    return kNoFault;
  }
  if (failing.times >= 0 && failing.seen >= failing.from + failing.times) return kNoFault;
  failing.failed++;
  failing.last = call;
  return failing.fault;
}

#endif  // LOADFILE_TESTS_FAILING_H_
