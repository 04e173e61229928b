// The stand-in's view of the file system: the few operations that differ
// between POSIX and Windows. store-posix.cpp and store-win32.cpp implement
// them; pkgstage.cpp decides what to do with them.
//
// Everything below the store's base is reached through folders the
// stand-in holds open, never through a path resolved again. Whoever can
// write into the store can swap one of its folders for a link between a
// check of a path and its use, and so have the stand-in write wherever the
// caller may write. So each folder below the base is opened from the one
// above it, refusing a link or any other redirection, and every file in the
// user's folder (the lock, the staged file, the temporary copy, the rename)
// is named relative to the held folder: a swap of the name changes nothing
// the stand-in does. On POSIX the handles are descriptors (openat, mkdirat,
// renameat with O_NOFOLLOW); on Windows they are HANDLEs, and files are
// opened and renamed relative to them (NtCreateFile and
// NtSetInformationFile with a RootDirectory, which Windows 2000 has).
//
// Only the base and the folders above it are named by path: they are the
// caller's ($XDG_DATA_HOME, $HOME, %LOCALAPPDATA%), links allowed.
//
// Names are narrow (ANSI on Windows). A handle is opaque: a descriptor on
// POSIX, a HANDLE on Windows. kNoFile is never a valid handle.
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

// The platform's own naming rules, for a name already free of separators,
// control characters, "." and "..".
//
// Returns the length of the name the platform opens for |name|. Windows
// drops the trailing dots and blanks of a name ("report.prc. " opens
// report.prc); elsewhere a name is what it says.
size_t OpenedLength(const char* name);
// Returns 1 when |name| can be a folder or file name that the platform's
// own tools open and delete as it stands. On Windows it cannot end in a dot
// or a blank (those would be dropped), hold < > " | ? * (refused, and
// wildcards to a folder listing), or be a reserved device name: CON, PRN,
// AUX, NUL, COM0 to COM9 and LPT0 to LPT9 (also with the superscript digits
// 1, 2 and 3), in any case, alone or before an extension, dots or blanks
// ("nul.txt", "COM1 "). Elsewhere every such name can.
int IsPlainName(const char* name);

// Writes into |base| the path of the folder the store is below, and points
// |below| at the store's path relative to it (folder names joined by
// kSeparator). Returns 0 when the environment names no usable base or it
// does not fit.
int StoreBase(char* base, size_t room, const char** below);

// Tries to create the folder |path| (the base or a folder above it);
// whether it did, or it was there already, is for OpenFolder to tell. A
// folder it creates is durable before it returns: on POSIX the new name is
// flushed in its parent (an fsync of the parent), so that after a crash a
// staged file is never lost with the folders it was staged into. Only a
// folder this call created costs that flush, so an install into existing
// folders costs nothing more. Windows has no portable way to flush a
// folder's entry (short of flushing the whole volume, which needs an
// administrator); there a new folder is as durable as the file system
// makes it (NTFS journals it). OpenFolderIn creates folders likewise.
void CreateFolder(const char* path);

// Opens the folder |path| (the base), following links. kNoFile when it is
// not a folder.
FileHandle OpenFolder(const char* path);

// Opens the folder |name| in |parent|, creating it when missing. Returns
// kNoFile when it cannot, or when |name| is a link, a junction or any other
// redirection, which could lead out of the store, or a file.
FileHandle OpenFolderIn(FileHandle parent, const char* name);

// Returns 1 when |name| in |folder| reaches an entry whose own name is
// another: on Windows a short (8.3) alias such as GAMEFI~1.PRC opens the
// entry "Game file.prc", so an install under the alias would replace or be
// compared with another file. Case is not a difference. Elsewhere a name
// reaches only itself, and this returns 0.
int NamesAnother(FileHandle folder, const char* name);

// Opens a regular file for reading. Returns kNoFile when it cannot be
// opened or is not a regular file (a folder, a device, a pipe).
FileHandle OpenForRead(const char* path);

// Opens |name| in |folder| for reading, as OpenForRead does, never through
// a link.
FileHandle OpenInFolder(FileHandle folder, const char* name);

// Returns the file's size in |size|; 0 on failure.
int FileSize(FileHandle file, uint64_t* size);

// Reads up to |room| bytes at the current offset. Returns the count read,
// 0 at the end of the file, or -1 on failure.
long ReadSome(FileHandle file, void* buffer, size_t room);

// Moves back to the start of the file. Returns 1 on success.
int Rewind(FileHandle file);

// Closes a file or a folder; kNoFile is ignored.
void CloseFile(FileHandle file);

// Opens (creating if missing) the lock file |name| in |folder|, never
// through a link, and waits for an exclusive lock on it. A read-only lock
// file is locked as it is. A lock file with other links is never locked
// (on Windows that lock would bar every other name of the file from
// reading): the name is removed, also where the file is read-only where
// the system can (Windows 10 1809 on), and a new file created, or the call
// fails. On Windows an open refused because another program holds the
// file is tried again for about two seconds; one refused for good (access
// denied) is not. The lock goes with the handle: CloseFile releases it,
// and so does the end of the process. Returns kNoFile on failure, having
// closed what it opened.
FileHandle TakeLock(FileHandle folder, const char* name);

// Copies |source|, open at its start, into a new file |temp| in |folder|,
// makes the copy durable, and leaves it open in |*copy| for ReplaceWith or
// Discard. A file left at |temp| by an interrupted run is removed first,
// whatever its attributes, but only as a name: a leftover with other links
// is never changed through. The copy gets no attributes of the source's (a
// read-only copy could never be replaced). Until it is renamed the copy is
// open to no other program (Windows): a scanner that opened it between a
// close and the rename would make the rename fail. Uses the system's own
// copy where there is one, in constant memory. Returns kInstalled,
// kNameTaken when |temp| holds a leftover that cannot be removed (another
// program holds it open), or kSourceUnreadable / kStoreFailed, having
// removed the partial copy.
int CopyInto(FileHandle source, FileHandle folder, const char* temp, FileHandle* copy);
const int kNameTaken = 1;

// Renames the open |copy|, named |temp| in |folder|, to |target|,
// replacing any file there, atomically and durably. On Windows a target or
// copy that another program holds open (a scanner, an indexer, a backup
// client) refuses the rename for a while; it is tried again with short
// waits for about two seconds. A refusal no wait ends (a target the caller
// may not delete, a folder, a read-only file, and where renames take POSIX
// semantics a running program) fails at once. Either way the copy is
// closed; on failure it is removed. Returns 1 on success.
int ReplaceWith(FileHandle folder, FileHandle copy, const char* temp, const char* target);

// Closes and removes the open |copy|, named |temp| in |folder|.
void Discard(FileHandle folder, FileHandle copy, const char* temp);

// Deletes the name |name| in |folder| if it exists and can be deleted. A
// file with other links (a hard link planted there) loses this name only:
// its attributes are left as they are, so where it is read-only it keeps
// the name unless the system deletes read-only files as they are (Windows
// 10 1809 on).
void RemoveFile(FileHandle folder, const char* name);

// The seam through which tests fail the file system, as SQLite's table of
// system calls lets its tests do. Every file-system call of the store asks
// the hook first, by the call's name ("openat", "NtCreateFile", and
// "NtSetInformationFile FileRenameInformation" where one call does several
// things); a fault it answers fails the call as the platform fails it for
// that reason (a closing call is made all the same). Without a hook, or
// with kNoFault, the call is made.
enum Fault : uint8_t {
  kNoFault,
  kDiskFault,         // EIO; STATUS_IO_DEVICE_ERROR, ERROR_IO_DEVICE
  kHeldFault,         // EBUSY; STATUS_SHARING_VIOLATION, ERROR_SHARING_VIOLATION
  kUnsupportedFault,  // EOPNOTSUPP; STATUS_NOT_SUPPORTED, ERROR_NOT_SUPPORTED
  kDeniedFault,       // EACCES; STATUS_ACCESS_DENIED, ERROR_ACCESS_DENIED
  // What a system or file system answers for a class or flag it lacks.
  kNoClassFault,         // EINVAL; STATUS_INVALID_INFO_CLASS, ERROR_INVALID_PARAMETER
  kNotImplementedFault,  // ENOSYS; STATUS_NOT_IMPLEMENTED, ERROR_INVALID_FUNCTION
  kBadParameterFault,    // EINVAL; STATUS_INVALID_PARAMETER, ERROR_INVALID_PARAMETER
  kBadRequestFault,      // ENOTTY; STATUS_INVALID_DEVICE_REQUEST, ERROR_INVALID_FUNCTION
};
typedef Fault (*FaultHook)(const char* call);
void SetFaultHook(FaultHook hook);
// What the hook answers for |call|.
Fault FaultFor(const char* call);

#endif  // PKGSTAGE_STORE_H_
