// The stand-in's file calls (files-posix.cpp, files-win32.cpp), by path.
// Each returns 1 or a handle on success; every call goes through the seam
// (seam.h) once. A handle is a descriptor or a HANDLE; kNoFile is never one.
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

// Writes the store's folder into |store| (room for kPathRoom); 0 when the
// environment names no usable one.
int StoreFolder(NativeChar* store);

// Creates the folder |path| if it is missing, its parent being there. On
// POSIX a new folder is flushed in its parent, so that a crash loses no
// staged file with its folders.
void MakeFolder(const NativeChar* path);

// 1 when |path| reaches an entry of another name: on Windows a short (8.3)
// alias such as GAMEFI~1.PRC opens "Game file.prc", so an install under it
// would replace another file. Case is no difference.
int NamesAnother(const NativeChar* path);

// Opens |path| for reading, never waiting (a FIFO without a writer);
// kNoFile when it is no regular file.
FileHandle OpenForReading(const NativeChar* path);
// 1 with the file's size; 0 on failure.
int FileSize(FileHandle file, uint64_t* size);
// The count of bytes read at the current offset, 0 at the end, -1 on failure.
long ReadSome(FileHandle file, void* buffer, size_t room);
// 1 when the file is back at its start.
int Rewind(FileHandle file);
// Closes a file; kNoFile is ignored.
void CloseFile(FileHandle file);

// Opens or creates the lock file |path| and waits for an exclusive lock on
// it, which CloseFile or the process's end releases. kNoFile on failure.
FileHandle TakeLock(const NativeChar* path);

// Copies |source|, open at its start, into a new file |temp|, shared with
// no one while written, flushes and closes it. A leftover at |temp| goes
// first, as a name: a link's target is never touched. Returns kInstalled,
// kSourceUnreadable or kStoreFailed (pkgstage.h), with nothing left at
// |temp| on failure.
int CopyToTemp(FileHandle source, const NativeChar* temp);

// Renames |temp| over |target| in |folder|, atomically and durably.
int RenameOver(const NativeChar* folder, const NativeChar* temp, const NativeChar* target);

// Removes the name |path|, a link as itself, whatever its read-only
// attribute; nothing there is no failure.
void RemoveName(const NativeChar* path);

#endif  // STANDINS_PKGSTAGE_FILES_H_
