// The install call: ordinal 103 of the suite's PKGSTAGE.dll, imported by
// ordinal (pkgstage.def.in), so the loader binds it before main and refuses
// to start the program without it. Elsewhere the stand-in libpkgstage.so
// exports it by name, beside the program (RUNPATH $ORIGIN).
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

// The install call as the tool makes it. On 32-bit Windows the suite's
// entry may pop its arguments (__stdcall) or leave them (__cdecl), and a
// call made for the other leaves the stack pointer eight bytes off: there
// CallInstall is a thunk (install-x86.cpp) that works for both.
#if defined(_WIN32) && !defined(_WIN64)
int CallInstall(const char* user, const char* path);
#else
inline int CallInstall(const char* user, const char* path) {
  return PkgStageInstall(user, path);
}
#endif

#endif  // LOADFILE_PLATFORM_INSTALL_H_
