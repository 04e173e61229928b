// The stand-in install library: takes the place of the suite's PKGSTAGE.dll
// where the suite is not installed.
//
// PkgStageInstall(user, path) stages a copy of the file for the user at
//   <store>/<user>/<file name>
// where <store> is ${XDG_DATA_HOME:-$HOME/.local/share}/pkgstage on Linux and
// %LOCALAPPDATA%\pkgstage on Windows (without the variable, as on Windows
// 2000 and XP, the shell's local application data folder), and <file name>
// is the last component of |path| (after '/', and on Windows also after '\'
// or a drive's ':'), as the platform opens it: Windows drops trailing dots
// and blanks. Nothing is written outside the store (see store.h).
//
// It returns:
//   0 (kInstalled)        the file is staged, new or replacing a file of that
//                         name with other bytes;
//   -512 (kAlreadyInstalled)
//                         a file of that name with identical bytes was already
//                         staged for the user; nothing was written;
//   or one of the failures below, after which nothing new is left in the store.
//
// Installs for one user are serialised by a lock file in the user's folder,
// so of several processes that stage the same file at once exactly one gets
// 0 and the others -512. The copy goes to a temporary file in the same folder
// that is renamed into place, so a reader never sees a partial file. The
// working files are named .pkgstage.lock and .pkgstage.tmp (.pkgstage.tmp2
// and .pkgstage.tmp3 while another program holds a leftover open); file
// names that begin with ".pkgstage." are reserved for them.
#ifndef PKGSTAGE_PKGSTAGE_H_
#define PKGSTAGE_PKGSTAGE_H_

#include "install.h"

// The user name cannot be a folder name: empty, ".", "..", longer than 255
// bytes, or holding '/', '\', ':' or a control character; on Windows also
// one its tools cannot name as it stands (IsPlainName in store.h) or the
// short name of another user's folder.
const int kBadUserName = -1;
// The path has no usable file name: it ends in a separator, "." or "..",
// or names a reserved working file; on Windows also a device name, one of
// dots and blanks alone, or a short name that reaches another staged entry
// or a working file.
const int kBadFileName = -2;
// The source cannot be opened or read, or is not a regular file.
const int kSourceUnreadable = -3;
// The store cannot be found, created or written, or is full, or one of its
// folders is a link or another redirection; or (Windows) the staged file or
// the lock is held by another program for more than about two seconds.
const int kStoreFailed = -4;

#endif  // PKGSTAGE_PKGSTAGE_H_
