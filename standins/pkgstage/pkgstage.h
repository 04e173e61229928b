// The stand-in install library, for machines without the suite:
// PkgStageInstall(user, path) stages a copy of the file at
// <store>/<user>/<file name>, where <store> is
// ${XDG_DATA_HOME:-$HOME/.local/share}/pkgstage on Linux and
// %LOCALAPPDATA%\pkgstage on Windows (StoreBase), and <file name> is
// StagedName's (names.h). It returns kInstalled, or kAlreadyInstalled when
// a file of that name with the same bytes is staged already, or a failure
// below, after which nothing new is left in the store.
//
// A lock file in the user's folder serialises installs, so of several at
// once exactly one stages the file; the copy goes to a temporary file that
// is renamed into place, so no reader sees a partial file.
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
// The store cannot be found, made or written, one of its names is a link,
// or (Windows) a holder keeps the lock or the staged file for long.
const int kStoreFailed = -4;

#endif  // STANDINS_PKGSTAGE_PKGSTAGE_H_
