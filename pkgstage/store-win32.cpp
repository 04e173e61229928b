// The stand-in's file system operations on Windows.
//
// Paths arrive as ANSI text and are converted here, as the ANSI API would
// convert them, for the wide API: only that one accepts \\?\ paths longer
// than MAX_PATH. Below the base, files and folders are opened relative to a
// held folder with NtCreateFile, and renamed relative to it with
// NtSetInformationFile, which kernel32 offers no way to do; ntdll has both
// since Windows NT 4.
//
// Windows opens a name that is a link or a junction as the entry itself
// when asked to (FILE_OPEN_REPARSE_POINT), and the entry then carries
// FILE_ATTRIBUTE_REPARSE_POINT: that is the documented refusal of a
// redirection. Some systems that run Windows programs (Wine) follow a link
// of the host's all the same and show it only in the folder's listing. So a
// folder is taken only when its entry in the parent's listing, read after
// the open, is no reparse point and has the file ID of the folder opened: a
// swap before the open or between the open and the listing is seen either
// way.
#include <shlobj.h>
#include <stddef.h>
#include <stdio.h>
#include <string.h>
#include <windows.h>
#include <winternl.h>

#include "pkgstage.h"
#include "store.h"

extern "C" NTSTATUS NTAPI NtQueryDirectoryFile(HANDLE file, HANDLE event, PVOID apc, PVOID context,
                                               PIO_STATUS_BLOCK io, PVOID data, ULONG room,
                                               FILE_INFORMATION_CLASS kind, BOOLEAN single,
                                               PUNICODE_STRING mask, BOOLEAN restart);
extern "C" BOOLEAN NTAPI RtlEqualUnicodeString(const UNICODE_STRING* a, const UNICODE_STRING* b,
                                               BOOLEAN ignore_case);

const char kSeparator = '\\';

int IsSeparator(char c) {
  // "C:name" names a file relative to drive C's current folder.
  return c == '\\' || c == '/' || c == ':';
}

const char* NextChar(const char* c) {
  return IsDBCSLeadByte(static_cast<BYTE>(*c)) && c[1] != '\0' ? c + 2 : c + 1;
}

namespace {

const NTSTATUS kSuccess = 0;
const NTSTATUS kObjectNameNotFound = static_cast<NTSTATUS>(0xC0000034);
const NTSTATUS kObjectNameCollision = static_cast<NTSTATUS>(0xC0000035);
const NTSTATUS kNoSuchFile = static_cast<NTSTATUS>(0xC000000F);
const NTSTATUS kNoMoreFiles = static_cast<NTSTATUS>(0x80000006);
const NTSTATUS kSharingViolation = static_cast<NTSTATUS>(0xC0000043);
const NTSTATUS kAccessDenied = static_cast<NTSTATUS>(0xC0000022);
const NTSTATUS kDeletePending = static_cast<NTSTATUS>(0xC0000056);
const NTSTATUS kIoDeviceError = static_cast<NTSTATUS>(0xC0000185);
const NTSTATUS kNotSupported = static_cast<NTSTATUS>(0xC00000BB);
const NTSTATUS kInvalidInfoClass = static_cast<NTSTATUS>(0xC0000003);
const NTSTATUS kNotImplemented = static_cast<NTSTATUS>(0xC0000002);
const NTSTATUS kInvalidParameter = static_cast<NTSTATUS>(0xC000000D);
const NTSTATUS kInvalidDeviceRequest = static_cast<NTSTATUS>(0xC0000010);

// What the fault hook (store.h) answers for |call|, as the status the call
// would return.
NTSTATUS Injected(const char* call) {
  switch (FaultFor(call)) {
    case kNoFault: return kSuccess;
    case kDiskFault: return kIoDeviceError;
    case kHeldFault: return kSharingViolation;
    case kUnsupportedFault: return kNotSupported;
    case kDeniedFault: return kAccessDenied;
    case kNoClassFault: return kInvalidInfoClass;
    case kNotImplementedFault: return kNotImplemented;
    case kBadParameterFault: return kInvalidParameter;
    case kBadRequestFault: return kInvalidDeviceRequest;
  }
  return kSuccess;
}

// For the kernel32 calls: 1 to make |call|, or 0 with the last error set
// as the fault would set it.
int Allowed(const char* call) {
  switch (Injected(call)) {
    case kSuccess: return 1;
    case kIoDeviceError: SetLastError(ERROR_IO_DEVICE); break;
    case kSharingViolation: SetLastError(ERROR_SHARING_VIOLATION); break;
    case kAccessDenied: SetLastError(ERROR_ACCESS_DENIED); break;
    case kInvalidInfoClass:
    case kInvalidParameter: SetLastError(ERROR_INVALID_PARAMETER); break;
    case kNotImplemented:
    case kInvalidDeviceRequest: SetLastError(ERROR_INVALID_FUNCTION); break;
    default: SetLastError(ERROR_NOT_SUPPORTED); break;
  }
  return 0;
}

// Antivirus and EDR products, search indexers, backup and sync clients
// (and the suite itself) open a file the moment it is written or closed,
// and hold it for moments. While they do, Windows refuses to open it in a
// way their sharing excludes, or to open a file that is being deleted,
// with one of these. (It also refuses to rename over it with access
// denied, which is ambiguous: see HeldByAnother.)
int IsHeld(NTSTATUS status) {
  return status == kSharingViolation || status == kDeletePending;
}

// Waits before the next try of a call its file's holder refused; 0 once
// about two seconds have gone by in all (careful Windows tools wait as
// long), when the refusal stands.
int PauseWhileHeld(int attempt) {
  static const DWORD kWaits[] = {5, 10, 20, 40, 80, 160, 250, 250, 250, 250, 250, 250, 250};
  if (attempt >= static_cast<int>(sizeof kWaits / sizeof kWaits[0])) return 0;
  Sleep(kWaits[attempt]);
  return 1;
}

HANDLE AsHandle(FileHandle file) {
  return reinterpret_cast<HANDLE>(file);
}

FileHandle FromHandle(HANDLE handle) {
  return handle == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<FileHandle>(handle);
}

// A path or a name converted from the ANSI code page; empty when it does
// not convert.
struct WideText {
  wchar_t text[kPathRoom];
  USHORT bytes;  // the length in bytes, without the NUL
};

WideText Wide(const char* path) {
  WideText wide;
  int count = MultiByteToWideChar(CP_ACP, 0, path, -1, wide.text, kPathRoom);
  if (count == 0) wide.text[0] = L'\0';
  wide.bytes = static_cast<USHORT>(count > 1 ? 2 * (count - 1) : 0);
  return wide;
}

// Opens |name| in |folder| with NtCreateFile, synchronously; an empty name
// opens |folder| again. |*status| tells why an open failed; |call| is the
// name the fault hook knows the call by.
HANDLE OpenRelative(HANDLE folder, const WideText& name, ACCESS_MASK access, ULONG share,
                    ULONG disposition, ULONG options, NTSTATUS* status = nullptr,
                    const char* call = "NtCreateFile") {
  UNICODE_STRING text;
  text.Buffer = const_cast<PWSTR>(name.text);
  text.Length = name.bytes;
  text.MaximumLength = name.bytes;
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, folder, nullptr);
  IO_STATUS_BLOCK io;
  HANDLE file = INVALID_HANDLE_VALUE;
  NTSTATUS result = Injected(call);
  if (result == kSuccess) {
    result =
        NtCreateFile(&file, access | SYNCHRONIZE, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL,
                     share, disposition, options | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
  }
  if (status != nullptr) *status = result;
  return result == kSuccess ? file : INVALID_HANDLE_VALUE;
}

const ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
const ULONG kFileOptions = FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT;

// Reads what the file system says of an open file; 0 when it cannot.
int InfoOf(HANDLE file, BY_HANDLE_FILE_INFORMATION* info) {
  return Allowed("GetFileInformationByHandle") && GetFileInformationByHandle(file, info);
}

DWORD AttributesOf(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info;
  return InfoOf(file, &info) ? info.dwFileAttributes : INVALID_FILE_ATTRIBUTES;
}

// A file ID of all ones is no ID (ReFS says to ignore it), nor is 0 (FAT
// volumes and some network shares).
int IsFileId(LONGLONG id) {
  return id != 0 && id != -1;
}

int IsRedirection(DWORD attributes) {
  return attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// A file opened relative to a folder, when it is a plain file.
HANDLE PlainFileOrNone(HANDLE file) {
  if (file != INVALID_HANDLE_VALUE && IsRedirection(AttributesOf(file))) {
    CloseHandle(file);
    return INVALID_HANDLE_VALUE;
  }
  return file;
}

// What a folder's listing says of one entry.
const size_t kEntryRoom = sizeof(FILE_ID_BOTH_DIR_INFORMATION) + sizeof(WCHAR[256]);
struct Entry {
  DWORD attributes;
  int has_id;
  LONGLONG id;
  UNICODE_STRING name;  // the entry's own (long) name, in |data|
  LONGLONG data[(kEntryRoom / sizeof(LONGLONG)) + 1];
};

// Looks |name| up in the listing of |folder|, where it matches the long or
// the short name of an entry. Returns 1 when found, 0 when there is no such
// entry, -1 when the listing cannot be read. A listing takes the name it
// is given at its first read of a handle only, so each look-up reads a
// handle of its own. Which failure says that a file system lists no file
// IDs is its own affair (Windows 2000 and NTFS say
// STATUS_INVALID_INFO_CLASS, file servers STATUS_NOT_SUPPORTED,
// STATUS_INVALID_LEVEL or STATUS_INVALID_PARAMETER): any failure but "no
// such entry" is asked again without IDs.
int FindEntry(HANDLE folder, const WideText& name, Entry* entry) {
  UNICODE_STRING mask;
  mask.Buffer = const_cast<PWSTR>(name.text);
  mask.Length = name.bytes;
  mask.MaximumLength = name.bytes;
  WideText self = Wide("");
  NTSTATUS status = kNoSuchFile;
  for (int with_id = 1; with_id >= 0; --with_id) {
    HANDLE listing =
        OpenRelative(folder, self, FILE_LIST_DIRECTORY, kShareAll, FILE_OPEN, FILE_DIRECTORY_FILE);
    if (listing == INVALID_HANDLE_VALUE) return -1;
    IO_STATUS_BLOCK io;
    status = Injected(with_id ? "NtQueryDirectoryFile FileIdBothDirectoryInformation"
                              : "NtQueryDirectoryFile FileBothDirectoryInformation");
    if (status == kSuccess) {
      status = NtQueryDirectoryFile(
          listing, nullptr, nullptr, nullptr, &io, entry->data, sizeof entry->data,
          with_id ? FileIdBothDirectoryInformation : FileBothDirectoryInformation, TRUE, &mask,
          TRUE);
    }
    CloseHandle(listing);
    entry->has_id = with_id;
    if (status == kSuccess || status == kNoSuchFile || status == kNoMoreFiles) break;
  }
  // No entry of that name.
  if (status == kNoSuchFile || status == kNoMoreFiles) return 0;
  if (status != kSuccess) return -1;
  if (entry->has_id) {
    const FILE_ID_BOTH_DIR_INFORMATION* found =
        reinterpret_cast<const FILE_ID_BOTH_DIR_INFORMATION*>(entry->data);
    entry->attributes = found->FileAttributes;
    entry->id = found->FileId.QuadPart;
    entry->has_id = IsFileId(entry->id);
    entry->name.Buffer = const_cast<PWSTR>(found->FileName);
    entry->name.Length = static_cast<USHORT>(found->FileNameLength);
  } else {
    const FILE_BOTH_DIR_INFORMATION* found =
        reinterpret_cast<const FILE_BOTH_DIR_INFORMATION*>(entry->data);
    entry->attributes = found->FileAttributes;
    entry->id = 0;
    entry->name.Buffer = const_cast<PWSTR>(found->FileName);
    entry->name.Length = static_cast<USHORT>(found->FileNameLength);
  }
  entry->name.MaximumLength = entry->name.Length;
  return 1;
}

// Whether |name| is a reserved device name, alone or before an extension,
// dots or blanks.
int IsDeviceName(const wchar_t* name) {
  size_t length = wcscspn(name, L".");
  while (length > 0 && name[length - 1] == L' ') --length;
  if (length == 3) {
    return _wcsnicmp(name, L"CON", 3) == 0 || _wcsnicmp(name, L"PRN", 3) == 0 ||
           _wcsnicmp(name, L"AUX", 3) == 0 || _wcsnicmp(name, L"NUL", 3) == 0;
  }
  if (length != 4 || (_wcsnicmp(name, L"COM", 3) != 0 && _wcsnicmp(name, L"LPT", 3) != 0)) {
    return 0;
  }
  wchar_t digit = name[3];
  return (digit >= L'0' && digit <= L'9') || digit == L'\x00B9' || digit == L'\x00B2' ||
         digit == L'\x00B3';
}

}  // namespace

size_t OpenedLength(const char* name) {
  // No second byte of a double-byte character is a dot or a blank (they
  // are 0x40 and above), so the bytes can be read from the end.
  size_t length = strlen(name);
  while (length > 0 && (name[length - 1] == '.' || name[length - 1] == ' ')) --length;
  return length;
}

int IsPlainName(const char* name) {
  WideText wide = Wide(name);
  size_t length = wide.bytes / 2;
  if (length == 0) return 0;
  if (wide.text[length - 1] == L'.' || wide.text[length - 1] == L' ') return 0;
  if (wcspbrk(wide.text, L"<>\"|?*") != nullptr) return 0;
  return !IsDeviceName(wide.text);
}

int StoreBase(char* base, size_t room, const char** below) {
  // The wide API, not getenv: it sees what the process's environment holds
  // now, not the C runtime's copy taken at start-up, and it gives the folder
  // whole in any code page (Wine's GetEnvironmentVariableA cuts a value
  // holding double-byte characters short). Windows 2000 and XP set no
  // LOCALAPPDATA: there the shell names the folder (shell32 5.0, in
  // Windows 2000, has SHGetFolderPathW).
  wchar_t named[MAX_PATH];
  DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", named, MAX_PATH);
  if (length >= MAX_PATH) return 0;
  // A new account's folder may not be there yet: the shell makes it.
  if (length == 0 && SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr,
                                      SHGFP_TYPE_CURRENT, named) != S_OK) {
    return 0;
  }
  wchar_t wide[MAX_PATH];
  length = GetFullPathNameW(named, MAX_PATH, wide, nullptr);
  if (length == 0 || length >= MAX_PATH) return 0;
  // A drive's root keeps its backslash: \\?\Q: names the volume, not its
  // root folder.
  if (wide[length - 1] == L'\\' && (length != 3 || wide[1] != L':')) wide[length - 1] = L'\0';
  // The store's paths are ANSI text, as the caller's are: a folder the code
  // page cannot carry exactly has none, and no look-alike is taken for it.
  // UTF-8 carries every character but takes neither the flag nor the
  // question.
  char full[kPathRoom];
  BOOL used_default = FALSE;
  bool utf8 = GetACP() == CP_UTF8;
  if (WideCharToMultiByte(CP_ACP, utf8 ? 0 : WC_NO_BEST_FIT_CHARS, wide, -1, full, sizeof full,
                          nullptr, utf8 ? nullptr : &used_default) == 0 ||
      used_default) {
    return 0;
  }
  // The base is given as a \\?\ path: it may then be longer than MAX_PATH.
  int written = -1;
  if (strncmp(full, "\\\\?\\", 4) == 0) {
    written = snprintf(base, room, "%s", full);
  } else if (full[0] == '\\' && full[1] == '\\') {
    written = snprintf(base, room, "\\\\?\\UNC\\%s", full + 2);
  } else if (full[1] == ':' && full[2] == '\\') {
    written = snprintf(base, room, "\\\\?\\%s", full);
  }
  *below = "pkgstage";
  return written > 0 && static_cast<size_t>(written) < room;
}

void CreateFolder(const char* path) {
  if (Allowed("CreateDirectoryW")) CreateDirectoryW(Wide(path).text, nullptr);
}

FileHandle OpenFolder(const char* path) {
  HANDLE folder = INVALID_HANDLE_VALUE;
  if (Allowed("CreateFileW")) {
    folder = CreateFileW(Wide(path).text, GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  }
  // A failed read of the attributes gives INVALID_FILE_ATTRIBUTES, which
  // has the folder bit set: it must not pass for a folder.
  DWORD attributes = folder == INVALID_HANDLE_VALUE ? 0 : AttributesOf(folder);
  if (folder != INVALID_HANDLE_VALUE &&
      (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))) {
    CloseHandle(folder);
    return kNoFile;
  }
  return FromHandle(folder);
}

FileHandle OpenFolderIn(FileHandle parent, const char* name) {
  WideText wide = Wide(name);
  if (wide.bytes == 0) return kNoFile;
  // Without FILE_SHARE_DELETE: while it is held, no Windows program can
  // rename the folder away.
  HANDLE folder =
      OpenRelative(AsHandle(parent), wide, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                   FILE_OPEN_IF, FILE_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT);
  if (folder == INVALID_HANDLE_VALUE) return kNoFile;
  BY_HANDLE_FILE_INFORMATION info = {};
  Entry entry;
  int held = InfoOf(folder, &info) && !IsRedirection(info.dwFileAttributes) &&
             FindEntry(AsHandle(parent), wide, &entry) == 1 && !IsRedirection(entry.attributes);
  // Where the file system lists no IDs, the attributes must do.
  LONGLONG id = static_cast<LONGLONG>((static_cast<ULONGLONG>(info.nFileIndexHigh) << 32) |
                                      info.nFileIndexLow);
  if (held && entry.has_id && IsFileId(id)) held = entry.id == id;
  if (!held) {
    CloseHandle(folder);
    return kNoFile;
  }
  return FromHandle(folder);
}

int NamesAnother(FileHandle folder, const char* name) {
  WideText wide = Wide(name);
  UNICODE_STRING asked;
  asked.Buffer = wide.text;
  asked.Length = wide.bytes;
  asked.MaximumLength = wide.bytes;
  Entry entry;
  // A listing that cannot be read proves nothing either way; the open that
  // follows fails as well or reaches the name itself.
  if (FindEntry(AsHandle(folder), wide, &entry) != 1) return 0;
  return RtlEqualUnicodeString(&asked, &entry.name, TRUE) ? 0 : 1;
}

FileHandle OpenForRead(const char* path) {
  if (!Allowed("CreateFileW")) return kNoFile;
  HANDLE file = CreateFileW(Wide(path).text, GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return kNoFile;
  if (!Allowed("GetFileType") || GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    return kNoFile;
  }
  return FromHandle(file);
}

FileHandle OpenInFolder(FileHandle folder, const char* name) {
  return FromHandle(PlainFileOrNone(OpenRelative(AsHandle(folder), Wide(name), GENERIC_READ,
                                                 kShareAll, FILE_OPEN, kFileOptions)));
}

int FileSize(FileHandle file, uint64_t* size) {
  LARGE_INTEGER value;
  if (!Allowed("GetFileSizeEx") || !GetFileSizeEx(AsHandle(file), &value)) return 0;
  *size = static_cast<uint64_t>(value.QuadPart);
  return 1;
}

long ReadSome(FileHandle file, void* buffer, size_t room) {
  DWORD got = 0;
  DWORD want = room > 0x40000000 ? 0x40000000 : static_cast<DWORD>(room);
  if (!Allowed("ReadFile") || !ReadFile(AsHandle(file), buffer, want, &got, nullptr)) return -1;
  return static_cast<long>(got);
}

int Rewind(FileHandle file) {
  LARGE_INTEGER start;
  start.QuadPart = 0;
  return Allowed("SetFilePointerEx") && SetFilePointerEx(AsHandle(file), start, nullptr, FILE_BEGIN)
             ? 1
             : 0;
}

void CloseFile(FileHandle file) {
  if (file != kNoFile) CloseHandle(AsHandle(file));
}

FileHandle TakeLock(FileHandle folder, const char* name) {
  WideText wide = Wide(name);
  // LockFileEx needs reading or writing; reading alone opens a lock file
  // that is read-only (planted, or restored by a tool that keeps
  // attributes) as it is, where writing would be refused for good.
  const ACCESS_MASK access = GENERIC_READ;
  // Opened if it is there, else created new: a create that would open an
  // existing name follows a host's link on some systems, and a new file
  // never does. A lock file with another link loses its name to a new one.
  for (int tries = 0; tries < 3; ++tries) {
    NTSTATUS status = kSuccess;
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0;; ++attempt) {
      file = OpenRelative(AsHandle(folder), wide, access, kShareAll, FILE_OPEN, kFileOptions,
                          &status, "NtCreateFile the lock");
      if (!IsHeld(status) || !PauseWhileHeld(attempt)) break;
    }
    if (status == kObjectNameNotFound) {
      file = OpenRelative(AsHandle(folder), wide, access, kShareAll, FILE_CREATE, kFileOptions,
                          &status);
    }
    if (status == kObjectNameCollision) continue;
    if (file == INVALID_HANDLE_VALUE) break;
    BY_HANDLE_FILE_INFORMATION info;
    int plain = InfoOf(file, &info) && !IsRedirection(info.dwFileAttributes);
    if (plain && info.nNumberOfLinks > 1) {
      CloseHandle(file);
      RemoveFile(folder, name);
      continue;
    }
    OVERLAPPED whole;
    memset(&whole, 0, sizeof whole);
    if (plain && Allowed("LockFileEx") &&
        LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
      return FromHandle(file);
    }
    CloseHandle(file);
    break;
  }
  return kNoFile;
}

namespace {

// The rename of FileRenameInformationEx: Flags takes the place of
// FILE_RENAME_INFORMATION's ReplaceIfExists (Windows 10 1607 on), which
// sits in its low byte, so one structure serves both classes. The name has
// room for the longest path and a NUL, which some file systems read
// although the length leaves it out; the size passed (the header's
// structure and the name) stays inside it on both widths.
struct RenameInformation {
  ULONG flags;
  HANDLE root;
  ULONG length;
  WCHAR name[kPathRoom + 1];
};
static_assert(offsetof(RenameInformation, root) == offsetof(FILE_RENAME_INFORMATION, RootDirectory),
              "the rename's layout is the system's");
static_assert(offsetof(RenameInformation, length) ==
                  offsetof(FILE_RENAME_INFORMATION, FileNameLength),
              "the rename's layout is the system's");
static_assert(offsetof(RenameInformation, name) == offsetof(FILE_RENAME_INFORMATION, FileName),
              "the rename's layout is the system's");
static_assert(sizeof(RenameInformation) >=
                  sizeof(FILE_RENAME_INFORMATION) + sizeof(WCHAR) * (kPathRoom - 1),
              "the size passed for the longest name stays inside the structure");
const ULONG kReplaceIfExists = 0x1;
const ULONG kPosixSemantics = 0x2;
const ULONG kFileRenameInformationEx = 65;
// FileDispositionInformationEx (Windows 10 1607 on); the flag that deletes
// a read-only file as it is came with Windows 10 1809.
const ULONG kFileDispositionInformationEx = 64;
const ULONG kDispositionDelete = 0x1;
const ULONG kDispositionIgnoreReadOnly = 0x10;

// NtSetInformationFile with a class beyond those the headers' enumeration
// holds (an enumeration passed as the ULONG it is).
NTSTATUS SetInformation(HANDLE file, IO_STATUS_BLOCK* io, void* data, ULONG size, ULONG kind) {
  typedef NTSTATUS(NTAPI * Set)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, ULONG);
  return reinterpret_cast<Set>(&NtSetInformationFile)(file, io, data, size, kind);
}

// What a system or file system says of an information class or a flag it
// does not have (FileRenameInformationEx and its POSIX semantics,
// FileDispositionInformationEx and its flags): older Windows, FAT, file
// servers, Wine.
int IsUnknownClass(NTSTATUS status) {
  return status == kInvalidInfoClass || status == kNotImplemented || status == kNotSupported ||
         status == kInvalidParameter || status == kInvalidDeviceRequest;
}

// Renames the open |file| to |name| in |folder|, replacing what is there.
// POSIX semantics replace a target that others hold open, where they share
// deleting; the classic rename fails while the target is open at all.
NTSTATUS Rename(HANDLE file, HANDLE folder, const WideText& name, int* posix) {
  RenameInformation rename;
  memset(&rename, 0, offsetof(RenameInformation, name));
  rename.root = folder;
  rename.length = name.bytes;
  memcpy(rename.name, name.text, name.bytes);
  rename.name[name.bytes / sizeof(WCHAR)] = L'\0';
  ULONG size = static_cast<ULONG>(sizeof(FILE_RENAME_INFORMATION) + name.bytes);
  IO_STATUS_BLOCK io;
  if (*posix) {
    rename.flags = kReplaceIfExists | kPosixSemantics;
    NTSTATUS status = Injected("NtSetInformationFile FileRenameInformationEx");
    if (status == kSuccess) {
      status = SetInformation(file, &io, &rename, size, kFileRenameInformationEx);
    }
    if (!IsUnknownClass(status)) return status;
    *posix = 0;
  }
  rename.flags = kReplaceIfExists;
  NTSTATUS status = Injected("NtSetInformationFile FileRenameInformation");
  if (status != kSuccess) return status;
  return NtSetInformationFile(file, &io, &rename, size, FileRenameInformation);
}

// Marks the open |file| for deletion on its close, a read-only one too
// where the system can (Windows 10 1809 on): its attributes, which are
// every link's, stay as they are. Returns 0 where it cannot, having marked
// nothing.
int DeleteEvenReadOnly(HANDLE file) {
  IO_STATUS_BLOCK io;
  ULONG flags = kDispositionDelete | kDispositionIgnoreReadOnly;
  NTSTATUS status = Injected("NtSetInformationFile FileDispositionInformationEx");
  if (status == kSuccess) {
    status = SetInformation(file, &io, &flags, sizeof flags, kFileDispositionInformationEx);
  }
  return !IsUnknownClass(status);
}

// Marks the open |file| for deletion on its close.
void DeleteOnClose(HANDLE file) {
  IO_STATUS_BLOCK io;
  FILE_DISPOSITION_INFORMATION gone;
  gone.DoDeleteFile = TRUE;
  if (Injected("NtSetInformationFile FileDispositionInformation") == kSuccess) {
    NtSetInformationFile(file, &io, &gone, sizeof gone, FileDispositionInformation);
  }
}

// Whether a rename to |name| in |folder|, refused with |status|, was
// refused by a holder, who lets go soon, and not for good. A sharing
// violation or a pending delete is a holder's. Access denied is what the
// classic rename answers while anyone holds the target open, but also what
// the target's access control list or a running program mapped from it
// answers for good. An open of the target for deleting, shared with all,
// tells them apart where it can: a holder that does not share deleting
// refuses it with a sharing violation, and the target's access control
// list with access denied. A folder or a read-only file there is never
// replaced. Where the open succeeds, a holder that shares deleting is
// left, which refuses the classic rename but not the POSIX one.
int HeldByAnother(NTSTATUS status, HANDLE folder, const WideText& name, int posix) {
  if (IsHeld(status)) return 1;
  if (status != kAccessDenied) return 0;
  NTSTATUS opened = kSuccess;
  HANDLE target =
      OpenRelative(folder, name, DELETE | FILE_READ_ATTRIBUTES, kShareAll, FILE_OPEN,
                   FILE_OPEN_REPARSE_POINT, &opened, "NtCreateFile the rename's target");
  // A target that is gone now lets the next try through.
  if (target == INVALID_HANDLE_VALUE) return IsHeld(opened) || opened == kObjectNameNotFound;
  DWORD attributes = AttributesOf(target);
  CloseHandle(target);
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) {
    return 0;
  }
  return !posix;
}

}  // namespace

int CopyInto(FileHandle source, FileHandle folder, const char* temp, FileHandle* copy) {
  // A leftover goes first, whatever its attributes: one that is read-only
  // or hidden could not be overwritten.
  RemoveFile(folder, temp);
  // A new file, so no attribute of the source's comes with the copy: a
  // read-only copy could never be replaced later. Shared with no one, and
  // renamed through this handle: nothing can hold it in between.
  NTSTATUS created = kSuccess;
  HANDLE file = OpenRelative(AsHandle(folder), Wide(temp), GENERIC_WRITE | DELETE, 0, FILE_CREATE,
                             kFileOptions, &created);
  if (file == INVALID_HANDLE_VALUE) {
    return created == kObjectNameCollision || created == kAccessDenied || IsHeld(created)
               ? kNameTaken
               : kStoreFailed;
  }
  int status = kInstalled;
  char buffer[65536];
  for (;;) {
    long got = ReadSome(source, buffer, sizeof buffer);
    if (got < 0) status = kSourceUnreadable;
    if (got <= 0) break;
    DWORD put = 0;
    if (!Allowed("WriteFile") || !WriteFile(file, buffer, static_cast<DWORD>(got), &put, nullptr) ||
        put != static_cast<DWORD>(got)) {
      status = kStoreFailed;
      break;
    }
  }
  if (status == kInstalled && (!Allowed("FlushFileBuffers") || !FlushFileBuffers(file))) {
    status = kStoreFailed;
  }
  if (status != kInstalled) {
    Discard(folder, FromHandle(file), temp);
    return status;
  }
  *copy = FromHandle(file);
  return kInstalled;
}

int ReplaceWith(FileHandle folder, FileHandle copy, const char* temp, const char* target) {
  WideText name = Wide(target);
  int posix = 1;
  NTSTATUS status = kSuccess;
  for (int attempt = 0;; ++attempt) {
    status = Rename(AsHandle(copy), AsHandle(folder), name, &posix);
    if (status == kSuccess || !HeldByAnother(status, AsHandle(folder), name, posix) ||
        !PauseWhileHeld(attempt)) {
      break;
    }
  }
  if (status != kSuccess) {
    Discard(folder, copy, temp);
    return 0;
  }
  // As MOVEFILE_WRITE_THROUGH does: the renamed file's metadata to the disk.
  // The bytes were flushed before the rename, and the rename stands: what
  // this says cannot change what is staged.
  if (Allowed("FlushFileBuffers")) FlushFileBuffers(AsHandle(copy));
  CloseHandle(AsHandle(copy));
  return 1;
}

void Discard(FileHandle folder, FileHandle copy, const char* temp) {
  (void)folder;
  (void)temp;
  DeleteOnClose(AsHandle(copy));
  CloseHandle(AsHandle(copy));
}

void RemoveFile(FileHandle folder, const char* name) {
  HANDLE file = OpenRelative(AsHandle(folder), Wide(name),
                             DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, kShareAll,
                             FILE_OPEN, kFileOptions);
  if (file == INVALID_HANDLE_VALUE) return;
  if (DeleteEvenReadOnly(file)) {
    CloseHandle(file);
    return;
  }
  BY_HANDLE_FILE_INFORMATION info;
  // Elsewhere a read-only file cannot be deleted until the attribute is
  // cleared. A link's own attributes are left alone (some systems would set
  // them on its target), and so are those of a file with other links: they
  // are every link's.
  if (InfoOf(file, &info) && !IsRedirection(info.dwFileAttributes) && info.nNumberOfLinks == 1 &&
      (info.dwFileAttributes &
       (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM))) {
    IO_STATUS_BLOCK io;
    FILE_BASIC_INFORMATION basic;
    memset(&basic, 0, sizeof basic);  // times of 0 are left as they are
    basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    if (Injected("NtSetInformationFile FileBasicInformation") == kSuccess) {
      NtSetInformationFile(file, &io, &basic, sizeof basic, FileBasicInformation);
    }
  }
  DeleteOnClose(file);
  CloseHandle(file);
}
