#include "seam.h"

#include <errno.h>

namespace {

FaultHook fault_hook = nullptr;

}  // namespace

const FaultCodes kFaultCodes[] = {
    {0, 0},            // kNoFault
    {EIO, 1117},       // ERROR_IO_DEVICE
    {EBUSY, 32},       // ERROR_SHARING_VIOLATION
    {EOPNOTSUPP, 50},  // ERROR_NOT_SUPPORTED
    {EACCES, 5},       // ERROR_ACCESS_DENIED
    {EINTR, 995},      // ERROR_OPERATION_ABORTED
};
static_assert(sizeof kFaultCodes / sizeof kFaultCodes[0] == kInterruptedFault + 1,
              "a row for every fault");

void SetFaultHook(FaultHook hook) {
  fault_hook = hook;
}

Fault FaultFor(const char* call) {
  return fault_hook == nullptr ? kNoFault : fault_hook(call);
}

int SeamFails(const char* call) {
  Fault fault = FaultFor(call);
  if (fault != kNoFault) errno = kFaultCodes[fault].error;
  return fault != kNoFault;
}
