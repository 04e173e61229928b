// The install call on 32-bit Windows, for an entry of either convention.
#include "install.h"

// The entry is called through its import address, bound by the loader
// before main. The frame pointer keeps the stack pointer of before the
// call, and "leave" restores it, so it does not matter whether the entry
// popped its two arguments (__stdcall) or left them (__cdecl). Both
// conventions return the status in EAX and keep EBX, ESI, EDI and EBP.
__attribute__((naked)) int CallInstall(const char* /*user*/, const char* /*path*/) {
  asm("pushl %ebp\n\t"
      "movl %esp, %ebp\n\t"
      "pushl 12(%ebp)\n\t"
      "pushl 8(%ebp)\n\t"
      "call *__imp__PkgStageInstall@8\n\t"
      "leave\n\t"
      "ret");
}
