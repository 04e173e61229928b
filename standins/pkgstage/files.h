// The stand-in's file calls, by path (files-posix.cpp, files-win32.cpp),
// each through the seam (seam.h) once. A handle is a descriptor or a
// HANDLE; kNoFile is never one.
#ifndef STANDINS_PKGSTAGE_FILES_H_
#define STANDINS_PKGSTAGE_FILES_H_

#include <stdint.h>

#include "names.h"

typedef intptr_t FileHandle;
const FileHandle kNoFile = -1;

// Converts the caller's ANSI text into |native| (room for |room| units),
// exactly, as the platform's ANSI file calls would; returns the units
// written with the NUL, or 0.
size_t ToNative(const char* ansi, NativeChar* native, size_t room);

// Writes the store's folder into |store| (room for kPathRoom); 0 when the
// environment names none.
int StoreFolder(NativeChar* store);

// Creates the folder |path| where missing, its parent being there; on POSIX
// a new one is flushed in its parent, so a crash loses no staged file.
void MakeFolder(const NativeChar* path);

// 1 when |path| reaches an entry of another name, as a short (8.3) alias
// such as GAMEFI~1.PRC reaches "Game file.prc" on Windows.
int NamesAnother(const NativeChar* path);

// Opens |path| for reading, never waiting on a FIFO; kNoFile when it is no
// regular file. FileSize and Rewind return 1 or 0; ReadSome the bytes
// read, 0 at the end, -1 on failure.
FileHandle OpenForReading(const NativeChar* path);
int FileSize(FileHandle file, uint64_t* size);
long ReadSome(FileHandle file, void* buffer, size_t room);
int Rewind(FileHandle file);
void CloseFile(FileHandle file);  // kNoFile is ignored

// Opens or creates the lock file |path| and waits for an exclusive lock,
// which CloseFile or the process's end releases; kNoFile on failure.
FileHandle TakeLock(const NativeChar* path);

// Creates |path| as a new file (never through a link there), shared with
// no one while written; kNoFile when it cannot. WriteAll writes |count|
// bytes (a buffer's, below 4 GiB) whole, and Flush puts the file's bytes
// on the disk; both return 1 or 0.
FileHandle CreateNew(const NativeChar* path);
int WriteAll(FileHandle file, const char* bytes, size_t count);
int Flush(FileHandle file);

// Renames |temp| over |target| in |folder|, atomically and durably.
int RenameOver(const NativeChar* folder, const NativeChar* temp, const NativeChar* target);

// Removes the name |path| (a link as itself), read-only or not.
void RemoveName(const NativeChar* path);

#endif  // STANDINS_PKGSTAGE_FILES_H_
