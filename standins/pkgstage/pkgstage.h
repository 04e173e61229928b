// The stand-in install library, for machines without the suite:
// PkgStageInstall(user, path) stages a copy of the file at
// <store>/<user>/<file name>, where <store> is
// ${XDG_DATA_HOME:-$HOME/.local/share}/pkgstage on Linux and
// %LOCALAPPDATA%\pkgstage on Windows (StoreFolder), and <file name> is
// StagedName's (names.h). It returns kInstalled, or kAlreadyInstalled when
// a file of that name with the same bytes is staged already, or a failure
// below, after which nothing new is left in the store.
//
// The store lies in the user's own profile, and the stand-in is run as its
// owner. It guards against: a caller's name that would write outside the
// store or replace another entry; several installs at once (one lock per
// user: exactly one stages the file); a crash or a failed call at any
// point, which leaves no partial or lost staged file (a new file, flushed,
// renamed over the old); and on Windows a program that holds a file for a
// moment (a scanner, an indexer, the suite). It does not guard against the
// user's own programs swapping the store's folders or files for links,
// which it follows as any of the user's programs would, nor against Wine's
// host links, which Wine opens and deletes as their targets.
#ifndef STANDINS_PKGSTAGE_PKGSTAGE_H_
#define STANDINS_PKGSTAGE_PKGSTAGE_H_

#include "install.h"

// The user can name no folder (IsUsableUserName), or is the short name of
// another user's folder.
const int kBadUserName = -1;
// The path has no file name that can be staged (StagedName), or one that
// is the short name of another entry.
const int kBadFileName = -2;
// The source cannot be opened or read, or is no regular file.
const int kSourceUnreadable = -3;
// The store cannot be found, made or written, or (Windows) a holder keeps
// one of its files for longer than about 2 seconds.
const int kStoreFailed = -4;

#endif  // STANDINS_PKGSTAGE_PKGSTAGE_H_
