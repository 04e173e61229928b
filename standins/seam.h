// The seam through which tests fail the stand-ins' file calls, as SQLite's
// table of system calls lets its tests do. Each file call of files-*.cpp and
// of the registry store asks FaultFor once, by the call's name ("openat",
// "CreateFileW copy" where one call does several things); a fault fails
// the call with the codes of its row in kFaultCodes, as the platform fails
// it for that reason. Without a hook every call is made.
#ifndef STANDINS_SEAM_H_
#define STANDINS_SEAM_H_

#include <errno.h>
#include <stdint.h>

enum Fault : uint8_t {
  kNoFault,
  kDiskFault,
  kHeldFault,  // a sharing violation (Windows)
  kDeniedFault,
  // A call a signal cut short (POSIX), to be made again.
  kInterruptedFault,
};

// A fault's codes: errno, and the Win32 error.
struct FaultCodes {
  int error;
  uint32_t win32_error;
};
inline const FaultCodes kFaultCodes[] = {
    {0, 0},        // kNoFault
    {EIO, 1117},   // ERROR_IO_DEVICE
    {EBUSY, 32},   // ERROR_SHARING_VIOLATION
    {EACCES, 5},   // ERROR_ACCESS_DENIED
    {EINTR, 995},  // ERROR_OPERATION_ABORTED
};
static_assert(sizeof kFaultCodes / sizeof kFaultCodes[0] == kInterruptedFault + 1,
              "a row for every fault");

typedef Fault (*FaultHook)(const char* call);
inline FaultHook fault_hook = nullptr;  // set by the tests alone
inline Fault FaultFor(const char* call) {
  return fault_hook == nullptr ? kNoFault : fault_hook(call);
}
// For the POSIX stand-ins: 1 when the seam fails |call|, with errno set as
// that fault sets it.
inline int SeamFails(const char* call) {
  Fault fault = FaultFor(call);
  if (fault != kNoFault) errno = kFaultCodes[fault].error;
  return fault != kNoFault;
}

#endif  // STANDINS_SEAM_H_
