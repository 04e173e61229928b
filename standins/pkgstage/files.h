// The stand-in's file operations (files-posix.cpp, files-win32.cpp). Whoever
// can write into the store could swap a folder or a working file for a link
// between a check and a use, and have the stand-in write or delete wherever
// its caller may: so below the store's base every name is opened relative to
// a held folder, never through a link. Only the base and the folders above
// it, the caller's, are named by path, links allowed. A handle is a
// descriptor or a HANDLE; kNoFile is never one.
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

// Tries to create the folder |path| (the base, or one above it). On POSIX a
// new folder is flushed in its parent, so that a crash loses no staged file
// with its folders; Windows has no such flush short of the volume's.
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

// Opens the caller's file at |path|, or |name| in |folder| (never through
// a link), for reading. kNoFile when it is no regular file.
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

// Opens or creates the lock file |name| in |folder| and waits for an
// exclusive lock on it, which CloseFile or the process's end releases. One
// with other links loses its name to a new file (locked, it would bar the
// other names from reading). kNoFile on failure, with nothing left open.
FileHandle TakeLock(FileHandle folder, const NativeChar* name);

// What a copy can end in.
enum CopyEnd { kCopied, kTempTaken, kSourceFailed, kCopyFailed };

// Copies |source|, open at its start, into a new file |temp| in |folder|,
// flushes it and leaves it open in |*copy|, shared with no one (a scanner
// would refuse the rename). A leftover at |temp| goes first, as a name only.
// kTempTaken: |temp| is a holder's or no file of the store's (on Windows,
// where a holder refusal is judged as in files-win32.cpp's PatienceFor).
CopyEnd CopyToTemp(FileHandle source, FileHandle folder, const NativeChar* temp, FileHandle* copy);

// Renames the open |copy|, named |temp| in |folder|, over |target|,
// atomically and durably, waiting for a holder (Windows), and closes it.
// Returns 1, or 0 with the copy removed.
int RenameOver(FileHandle folder, FileHandle copy, const NativeChar* temp,
               const NativeChar* target);

// Closes and removes the open |copy|, named |temp| in |folder|.
void DiscardCopy(FileHandle folder, FileHandle copy, const NativeChar* temp);

// Removes the name |name| from |folder| where it can: never through a
// link, and a file with other links loses this name only, its attributes
// (every link's) left as they are.
void RemoveName(FileHandle folder, const NativeChar* name);

#endif  // STANDINS_PKGSTAGE_FILES_H_
