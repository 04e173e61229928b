// The stand-in's view of the file system: the few operations that differ
// between POSIX and Windows. store-posix.cpp and store-win32.cpp implement
// them; pkgstage.cpp decides what to do with them.
//
// Files are named by narrow paths (ANSI on Windows) and held as an opaque
// handle: a descriptor on POSIX, a HANDLE on Windows. kNoFile is never a
// valid handle.
#ifndef PKGSTAGE_STORE_H_
#define PKGSTAGE_STORE_H_

#include <stddef.h>
#include <stdint.h>

typedef intptr_t FileHandle;
const FileHandle kNoFile = -1;

// The separator this platform puts between folder and file names.
extern const char kSeparator;

// Room for any path the stand-in builds, NUL included.
const size_t kPathRoom = 4096;

// Returns 1 when |c| ends a folder name in a path given by the caller.
int IsSeparator(char c);

// Returns where the character after the one at |c| (not the string's end)
// begins. On Windows a character of a double-byte ANSI code page (932, 936,
// 949, 950) takes two bytes, and the second can be 0x5C, '\': paths and
// user names are scanned a character at a time, so that it is never taken
// for a separator. Elsewhere each byte is a character.
const char* NextChar(const char* c);

// Writes the store folder's path (without a trailing separator) into |out|.
// Returns 0 when the environment names no usable base or it does not fit.
int StoreFolder(char* out, size_t room);

// Tries to create the folder |path|; whether it did, or it was there
// already, is for IsFolder to tell. A folder it creates is durable before
// it returns: on POSIX the new name is flushed in its parent (an fsync of
// the parent), so that after a crash a staged file is never lost with the
// folders it was staged into. Only a folder this call created costs that
// flush, so an install into existing folders costs nothing more. Windows
// has no portable way to flush a folder's entry (short of flushing the
// whole volume, which needs an administrator); there a new folder is as
// durable as the file system makes it (NTFS journals it).
void CreateFolder(const char* path);

// Returns 1 when |path| is a folder. With |allow_redirect| 0, a link or other
// redirection to a folder, which could lead out of the store, is not one.
int IsFolder(const char* path, int allow_redirect);

// Opens a regular file for reading. Returns kNoFile when it cannot be
// opened or is not a regular file (a folder, a device, a pipe).
FileHandle OpenForRead(const char* path);

// Returns the file's size in |size|; 0 on failure.
int FileSize(FileHandle file, uint64_t* size);

// Reads up to |room| bytes at the current offset. Returns the count read,
// 0 at the end of the file, or -1 on failure.
long ReadSome(FileHandle file, void* buffer, size_t room);

// Moves back to the start of the file. Returns 1 on success.
int Rewind(FileHandle file);

void CloseFile(FileHandle file);

// Opens (creating if missing) the lock file |path| and waits for an
// exclusive lock on it. The lock goes with the handle: CloseFile releases
// it, and so does the end of the process. Returns kNoFile on failure.
FileHandle TakeLock(const char* path);

// Copies |source|, open at its start and named |source_path|, into |temp|,
// creating or truncating it, and makes the copy durable. Uses the system's
// own copy where there is one, in constant memory. Returns kInstalled, or
// kSourceUnreadable / kStoreFailed; on failure |temp| may hold a partial
// copy, which the caller removes.
int CopyInto(FileHandle source, const char* source_path, const char* temp);

// Renames |temp| to |target|, replacing any file there, atomically and
// durably. Returns 1 on success.
int ReplaceWith(const char* temp, const char* target);

// Deletes the file |path| if it exists.
void RemoveFile(const char* path);

#endif  // PKGSTAGE_STORE_H_
