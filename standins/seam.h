// The seam through which tests fail the stand-ins' file calls, as SQLite's
// table of system calls lets its tests do. Every file call of files-*.cpp
// and of the registry store asks FaultFor first, by the call's name ("openat", "NtCreateFile",
// "NtSetInformationFile FileRenameInformation" where one call does several
// things); a fault fails the call with the codes of its row in kFaultCodes,
// as the platform fails it for that reason. A closing call is made all the
// same. Without a hook every call is made.
#ifndef STANDINS_PKGSTAGE_SEAM_H_
#define STANDINS_PKGSTAGE_SEAM_H_

#include <stdint.h>

enum Fault : uint8_t {
  kNoFault,
  kDiskFault,
  kHeldFault,
  kUnsupportedFault,
  kDeniedFault,
  // What a system or file system answers for a class or a flag it lacks.
  kNoClassFault,
  kNotImplementedFault,
  kBadParameterFault,
  kBadRequestFault,
  // A delete that a file's attributes refuse.
  kCannotDeleteFault,
  // A call a signal cut short (POSIX), to be made again; Windows has no
  // such answer, and its codes are those of a cancelled call.
  kInterruptedFault,
};

// A fault's codes: errno, NTSTATUS, Win32 error.
struct FaultCodes {
  int error;
  uint32_t status;
  uint32_t win32_error;
};
extern const FaultCodes kFaultCodes[];

typedef Fault (*FaultHook)(const char* call);
void SetFaultHook(FaultHook hook);
Fault FaultFor(const char* call);
// For the POSIX stand-ins: 1 when the seam fails |call|, with errno set as
// that fault sets it.
int SeamFails(const char* call);

#endif  // STANDINS_PKGSTAGE_SEAM_H_
