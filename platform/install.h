// The install call: the one entry of the suite's install library that
// loadfile uses.
//
// On Windows the library is PKGSTAGE.dll and the entry is its export at
// ordinal 103, which has no usable name: the program imports it by ordinal
// through an import library made from pkgstage.def, so the loader binds it
// before main runs and refuses to start the program without it. The entry
// is declared __stdcall on 32-bit Windows (decorated PkgStageInstall@8
// there), as the stand-in defines it; on x64 there is only one calling
// convention, so the macro is empty.
//
// Nothing fixes the suite's own convention on 32-bit Windows, though: its
// export may pop its two arguments itself (__stdcall) or leave them to the
// caller (__cdecl), and a call made for the wrong one leaves the stack
// pointer eight bytes off, which crashes the program on its way out. So the
// tool calls the entry through CallInstall, which on x86 is a thunk
// (install-x86.cpp) that restores the stack pointer after the call whoever
// popped the arguments. Everywhere else CallInstall is the entry itself.
//
// Elsewhere the suite does not exist; the stand-in libpkgstage.so exports
// the same entry under the C name PkgStageInstall and is linked at load
// time as well (RUNPATH $ORIGIN: it sits beside the program).
#ifndef LOADFILE_PLATFORM_INSTALL_H_
#define LOADFILE_PLATFORM_INSTALL_H_

// A test double that exports the entry as __cdecl defines this first.
#ifndef PKGSTAGE_CALL
#if defined(_WIN32) && !defined(_WIN64)
#define PKGSTAGE_CALL __stdcall
#else
#define PKGSTAGE_CALL
#endif
#endif

static_assert(sizeof(int) == 4, "the install status is a signed 32-bit value");

// The statuses that loadfile itself gives a meaning to. Every other value
// is a failure of the library's own, shown to the user as it is.
const int kInstalled = 0;
const int kAlreadyInstalled = -512;  // 0xFFFFFE00: already installed for that user

// Installs the file at |path| for the suite user |user|: both narrow
// NUL-terminated strings, user first. Returns the install status.
extern "C" int PKGSTAGE_CALL PkgStageInstall(const char* user, const char* path);

// The install call as the tool makes it: PkgStageInstall(user, path), in
// whichever convention the library's entry follows.
#if defined(_WIN32) && !defined(_WIN64)
int CallInstall(const char* user, const char* path);
#else
inline int CallInstall(const char* user, const char* path) {
  return PkgStageInstall(user, path);
}
#endif

#endif  // LOADFILE_PLATFORM_INSTALL_H_
