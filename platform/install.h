// The install call: the one entry of the suite's install library that
// loadfile uses.
//
// On Windows the library is PKGSTAGE.dll and the entry is its export at
// ordinal 103, which has no usable name: the program imports it by ordinal
// through an import library made from pkgstage.def, so the loader binds it
// before main runs and refuses to start the program without it. The entry
// is __stdcall on 32-bit Windows (decorated PkgStageInstall@8 there); on
// x64 there is only one calling convention, so the macro is empty.
//
// Elsewhere the suite does not exist; the stand-in libpkgstage.so exports
// the same entry under the C name PkgStageInstall and is linked at load
// time as well (RUNPATH $ORIGIN: it sits beside the program).
#ifndef LOADFILE_PLATFORM_INSTALL_H_
#define LOADFILE_PLATFORM_INSTALL_H_

#if defined(_WIN32) && !defined(_WIN64)
#define PKGSTAGE_CALL __stdcall
#else
#define PKGSTAGE_CALL
#endif

static_assert(sizeof(int) == 4, "the install status is a signed 32-bit value");

// The statuses that loadfile itself gives a meaning to. Every other value
// is a failure of the library's own, shown to the user as it is.
const int kInstalled = 0;
const int kAlreadyInstalled = -512;  // 0xFFFFFE00: already installed for that user

// Installs the file at |path| for the suite user |user|: both narrow
// NUL-terminated strings, user first. Returns the install status.
extern "C" int PKGSTAGE_CALL PkgStageInstall(const char* user, const char* path);

#endif  // LOADFILE_PLATFORM_INSTALL_H_
