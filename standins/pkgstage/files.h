// The stand-in's file operations, which differ between POSIX
// (files-posix.cpp) and Windows (files-win32.cpp); pkgstage.cpp decides
// what to do with them.
//
// Whoever can write into the store could swap one of its folders, or a
// working file, for a link between a check and a use, and so have the
// stand-in write or delete wherever its caller may. So below the store's
// base every name is opened relative to a folder the stand-in holds, never
// through a link, and each folder from the one above it. Only the base and
// the folders above it are named by path: they are the caller's
// ($XDG_DATA_HOME, $HOME, %LOCALAPPDATA%), links allowed.
//
// A handle is a descriptor on POSIX and a HANDLE on Windows; kNoFile is
// never one.
#ifndef STANDINS_PKGSTAGE_FILES_H_
#define STANDINS_PKGSTAGE_FILES_H_

#include <stdint.h>

#include "names.h"

typedef intptr_t FileHandle;
const FileHandle kNoFile = -1;

// Converts the caller's ANSI text into |native|, room for |room| units:
// POSIX takes the bytes, Windows converts them as its ANSI file functions
// would. Returns the units written, the NUL included, or 0 when it does
// not convert exactly or does not fit.
size_t ToNative(const char* ansi, NativeChar* native, size_t room);

// Writes into |base| (room for kPathRoom) the folder the store is below,
// and points |below| at the store's path relative to it, folders joined by
// '/'. Returns 0 when the environment names no usable base.
int StoreBase(NativeChar* base, const NativeChar** below);

// Tries to create the folder |path| (the base, or a folder above it);
// OpenBase tells whether it is there. A folder it creates is flushed in
// its parent on POSIX (an fsync of the parent), so that a staged file is
// not lost with its folders in a crash; Windows has no such flush short of
// the volume's, and there NTFS's journal keeps it.
void MakeFolder(const NativeChar* path);

// Opens the folder |path| (the base), following links.
FileHandle OpenBase(const NativeChar* path);

// Opens the folder |name| in |parent|, creating it (durably, as MakeFolder)
// when missing. kNoFile when it is a file, a link or any redirection.
FileHandle OpenOrMakeFolder(FileHandle parent, const NativeChar* name);

// 1 when |name| in |folder| reaches an entry of another name: on Windows a
// short (8.3) alias such as GAMEFI~1.PRC opens "Game file.prc", so an
// install under it would replace another file. Case is no difference.
int NamesAnother(FileHandle folder, const NativeChar* name);

// Opens the caller's file at |path|, or |name| in |folder| never through a
// link, for reading. kNoFile when it is no regular file.
FileHandle OpenSource(const NativeChar* path);
FileHandle OpenStaged(FileHandle folder, const NativeChar* name);

// 1 with the file's size; 0 on failure.
int FileSize(FileHandle file, uint64_t* size);
// The count of bytes read at the current offset, 0 at the end, -1 on failure.
long ReadSome(FileHandle file, void* buffer, size_t room);
// 1 when the file is back at its start.
int Rewind(FileHandle file);
// Closes a file or a folder; kNoFile is ignored.
void CloseFile(FileHandle file);

// Opens or creates the lock file |name| in |folder|, never through a link,
// and waits for an exclusive lock on it, which CloseFile (or the process's
// end) releases. A read-only lock file is locked as it is; one with other
// links loses its name to a new file (locked, it would bar the other names
// from reading). kNoFile on failure, with nothing left open.
FileHandle TakeLock(FileHandle folder, const NativeChar* name);

// What a copy can end in.
enum CopyEnd { kCopied, kTempTaken, kSourceFailed, kCopyFailed };

// Copies |source|, open at its start, into a new file |temp| in |folder|,
// flushes it to the disk and leaves it open in |*copy|, shared with no one
// (a scanner that opened it would refuse the rename). A leftover at |temp|
// goes first, whatever its attributes, but only as a name. kTempTaken:
// |temp| is held by another program or is no file of the store's; the
// other ends leave nothing behind.
CopyEnd CopyToTemp(FileHandle source, FileHandle folder, const NativeChar* temp, FileHandle* copy);

// Renames the open |copy|, named |temp| in |folder|, to |target|,
// replacing it, atomically and durably, and closes the copy. Returns 1, or
// 0 with the copy removed.
int RenameOver(FileHandle folder, FileHandle copy, const NativeChar* temp,
               const NativeChar* target);

// Closes and removes the open |copy|, named |temp| in |folder|.
void DiscardCopy(FileHandle folder, FileHandle copy, const NativeChar* temp);

// Removes the name |name| from |folder| where it can: never through a
// link, and a file with other links loses this name only, its attributes
// (every link's) left as they are.
void RemoveName(FileHandle folder, const NativeChar* name);

#endif  // STANDINS_PKGSTAGE_FILES_H_
