#include "seam.h"

#include <errno.h>

namespace {

FaultHook fault_hook = nullptr;

}  // namespace

const FaultCodes kFaultCodes[] = {
    {0, 0, 0},                     // kNoFault
    {EIO, 0xC0000185, 1117},       // STATUS_IO_DEVICE_ERROR, ERROR_IO_DEVICE
    {EBUSY, 0xC0000043, 32},       // STATUS_SHARING_VIOLATION, ERROR_SHARING_VIOLATION
    {EOPNOTSUPP, 0xC00000BB, 50},  // STATUS_NOT_SUPPORTED, ERROR_NOT_SUPPORTED
    {EACCES, 0xC0000022, 5},       // STATUS_ACCESS_DENIED, ERROR_ACCESS_DENIED
    {EINVAL, 0xC0000003, 87},      // STATUS_INVALID_INFO_CLASS, ERROR_INVALID_PARAMETER
    {ENOSYS, 0xC0000002, 1},       // STATUS_NOT_IMPLEMENTED, ERROR_INVALID_FUNCTION
    {EINVAL, 0xC000000D, 87},      // STATUS_INVALID_PARAMETER, ERROR_INVALID_PARAMETER
    {ENOTTY, 0xC0000010, 1},       // STATUS_INVALID_DEVICE_REQUEST, ERROR_INVALID_FUNCTION
    {EPERM, 0xC0000121, 5},        // STATUS_CANNOT_DELETE, ERROR_ACCESS_DENIED
    {EINTR, 0xC0000120, 995},      // STATUS_CANCELLED, ERROR_OPERATION_ABORTED
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
