// The seam through which tests fail the stand-ins' file calls, as SQLite's
// table of system calls lets its tests do. Each file call of files-*.cpp and
// of the registry store asks FaultFor once, by the call's name ("openat",
// "CreateFileW the copy" where one call does several things); a fault fails
// the call with the codes of its row in kFaultCodes, as the platform fails
// it for that reason. Without a hook every call is made.
#ifndef STANDINS_SEAM_H_
#define STANDINS_SEAM_H_

#include <stdint.h>

enum Fault : uint8_t {
  kNoFault,
  kDiskFault,
  kHeldFault,  // a sharing violation (Windows)
  kUnsupportedFault,
  kDeniedFault,
  // A call a signal cut short (POSIX), to be made again.
  kInterruptedFault,
};

// A fault's codes: errno, and the Win32 error.
struct FaultCodes {
  int error;
  uint32_t win32_error;
};
extern const FaultCodes kFaultCodes[];

typedef Fault (*FaultHook)(const char* call);
void SetFaultHook(FaultHook hook);
Fault FaultFor(const char* call);
// For the POSIX stand-ins: 1 when the seam fails |call|, with errno set as
// that fault sets it.
int SeamFails(const char* call);

#endif  // STANDINS_SEAM_H_
