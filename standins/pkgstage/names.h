// How the stand-in names what it stages: pure functions of text, in the
// platform's file calls' own (NativeChar), converted once (ToNative).
#ifndef STANDINS_PKGSTAGE_NAMES_H_
#define STANDINS_PKGSTAGE_NAMES_H_

#include <stddef.h>

#if defined(_WIN32)
typedef wchar_t NativeChar;  // UTF-16: the wide API alone takes \\?\ paths past MAX_PATH
#define NATIVE(text) L##text
const NativeChar kSeparator = L'\\';
#else
typedef char NativeChar;  // the caller's bytes
#define NATIVE(text) text
const NativeChar kSeparator = '/';
#endif

// Room for any path the stand-in builds, its NUL included.
const size_t kPathRoom = 4096;

// The working files' names. Names that begin with ".pkgstage.", in any
// case, are theirs: no file is staged under one.
extern const NativeChar kLockName[];
extern const NativeChar kTempName[];

// 1 when |c| ends a folder name in a caller's path: '/', and on Windows
// also '\' and a drive's ':' ("C:name" is relative to drive C's folder).
int IsSeparator(NativeChar c);

// 1 when |user|, at most 255 bytes as given, can name a user's folder: it
// is not empty, "." or "..", holds no separator or control character, and
// is a plain name.
int IsUsableUserName(const NativeChar* user);

// Writes into |staged| (room for kPathRoom) the name |path| is staged
// under: its last component as the platform opens it (OpenedLength).
// Returns 0 when that is no plain name, ".", "..", or a working file's.
int StagedName(const NativeChar* path, NativeChar* staged);

// The platform's own rules (names-posix.cpp, names-win32.cpp), for a name
// free of separators and control characters. OpenedLength: the length of
// the name the platform opens ("report.prc. " opens report.prc on
// Windows). IsPlainName: 1 when the platform's own tools open and delete
// the name as it stands; on Windows it cannot end in a dot or a blank,
// hold < > " | ? *, or be a device name (CON, PRN, AUX, NUL, COM0 to COM9,
// LPT0 to LPT9, also with superscript digits, in any case, alone or before
// an extension, dots or blanks: "nul.txt", "COM1 ").
size_t OpenedLength(const NativeChar* name);
int IsPlainName(const NativeChar* name);

#endif  // STANDINS_PKGSTAGE_NAMES_H_
