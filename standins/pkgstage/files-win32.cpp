// The stand-in's file operations on Windows. Below the base, files and
// folders are opened relative to a held folder with NtCreateFile and
// renamed relative to it with NtSetInformationFile, which kernel32 offers
// no way to do; ntdll has both since Windows NT 4.
#include <shlobj.h>
#include <stddef.h>
#include <string.h>
#include <windows.h>
#include <winternl.h>

#include "files.h"
#include "seam.h"
#include "text-win32.h"

extern "C" NTSTATUS NTAPI NtQueryDirectoryFile(HANDLE file, HANDLE event, PVOID apc, PVOID context,
                                               PIO_STATUS_BLOCK io, PVOID data, ULONG room,
                                               FILE_INFORMATION_CLASS kind, BOOLEAN single,
                                               PUNICODE_STRING mask, BOOLEAN restart);
extern "C" BOOLEAN NTAPI RtlEqualUnicodeString(const UNICODE_STRING* a, const UNICODE_STRING* b,
                                               BOOLEAN ignore_case);

namespace {

const NTSTATUS kSuccess = 0;
const NTSTATUS kNoMoreFiles = static_cast<NTSTATUS>(0x80000006);
const NTSTATUS kNotImplemented = static_cast<NTSTATUS>(0xC0000002);
const NTSTATUS kInvalidInfoClass = static_cast<NTSTATUS>(0xC0000003);
const NTSTATUS kInvalidParameter = static_cast<NTSTATUS>(0xC000000D);
const NTSTATUS kNoSuchFile = static_cast<NTSTATUS>(0xC000000F);
const NTSTATUS kInvalidDeviceRequest = static_cast<NTSTATUS>(0xC0000010);
const NTSTATUS kAccessDenied = static_cast<NTSTATUS>(0xC0000022);
const NTSTATUS kObjectNameNotFound = static_cast<NTSTATUS>(0xC0000034);
const NTSTATUS kObjectNameCollision = static_cast<NTSTATUS>(0xC0000035);
const NTSTATUS kSharingViolation = static_cast<NTSTATUS>(0xC0000043);
const NTSTATUS kDeletePending = static_cast<NTSTATUS>(0xC0000056);
const NTSTATUS kNotSupported = static_cast<NTSTATUS>(0xC00000BB);
const NTSTATUS kCannotDelete = static_cast<NTSTATUS>(0xC0000121);

// The status the seam (seam.h) fails |call| with, or kSuccess.
NTSTATUS SeamStatus(const char* call) {
  return static_cast<NTSTATUS>(kFaultCodes[FaultFor(call)].status);
}

// For kernel32's calls: 1 when the seam fails |call|, with the last error
// set as that fault sets it.
int SeamFails(const char* call) {
  Fault fault = FaultFor(call);
  if (fault != kNoFault) SetLastError(kFaultCodes[fault].win32_error);
  return fault != kNoFault;
}

HANDLE AsHandle(FileHandle file) {
  return reinterpret_cast<HANDLE>(file);
}

FileHandle FromHandle(HANDLE handle) {
  return handle == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<FileHandle>(handle);
}

UNICODE_STRING Counted(const wchar_t* text) {
  UNICODE_STRING counted;
  counted.Buffer = const_cast<PWSTR>(text);
  counted.Length = static_cast<USHORT>(wcslen(text) * sizeof(wchar_t));
  counted.MaximumLength = counted.Length;
  return counted;
}

const ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
const ULONG kFileOptions = FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT;

// Opens |name| in |folder| into |*file| with NtCreateFile, synchronously;
// an empty name opens |folder| again. |call| is the name the seam knows
// the call by.
NTSTATUS OpenIn(HANDLE folder, const wchar_t* name, ACCESS_MASK access, ULONG share,
                ULONG disposition, ULONG options, HANDLE* file, const char* call = "NtCreateFile") {
  UNICODE_STRING text = Counted(name);
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, folder, nullptr);
  IO_STATUS_BLOCK io;
  *file = INVALID_HANDLE_VALUE;
  NTSTATUS status = SeamStatus(call);
  if (status == kSuccess) {
    status =
        NtCreateFile(file, access | SYNCHRONIZE, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL,
                     share, disposition, options | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
  }
  if (status != kSuccess) *file = INVALID_HANDLE_VALUE;
  return status;
}

int InfoOf(HANDLE file, BY_HANDLE_FILE_INFORMATION* info) {
  return !SeamFails("GetFileInformationByHandle") && GetFileInformationByHandle(file, info);
}

// A file ID of all ones is no ID (ReFS says to ignore it), nor is 0 (FAT
// volumes and some network shares).
int IsFileId(LONGLONG id) {
  return id != 0 && id != -1;
}

int IsRedirection(DWORD attributes) {
  return attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
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
// entry, -1 when the listing cannot be read. A listing takes its mask at
// the first read of a handle only, so each look-up opens its own. Which
// failure says that a file system lists no file IDs is its own affair
// (Windows 2000 and NTFS say STATUS_INVALID_INFO_CLASS, file servers
// STATUS_NOT_SUPPORTED, STATUS_INVALID_LEVEL or STATUS_INVALID_PARAMETER):
// any failure but "no such entry" is asked again without IDs.
int FindEntry(HANDLE folder, const wchar_t* name, Entry* entry) {
  UNICODE_STRING mask = Counted(name);
  NTSTATUS status = kNoSuchFile;
  for (int with_id = 1; with_id >= 0; --with_id) {
    HANDLE listing = INVALID_HANDLE_VALUE;
    if (OpenIn(folder, L"", FILE_LIST_DIRECTORY, kShareAll, FILE_OPEN, FILE_DIRECTORY_FILE,
               &listing) != kSuccess) {
      return -1;
    }
    IO_STATUS_BLOCK io;
    status = SeamStatus(with_id ? "NtQueryDirectoryFile FileIdBothDirectoryInformation"
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
  if (status == kNoSuchFile || status == kNoMoreFiles) return 0;
  if (status != kSuccess) return -1;
  if (entry->has_id) {
    const auto* found = reinterpret_cast<const FILE_ID_BOTH_DIR_INFORMATION*>(entry->data);
    entry->attributes = found->FileAttributes;
    entry->id = found->FileId.QuadPart;
    entry->has_id = IsFileId(entry->id);
    entry->name.Buffer = const_cast<PWSTR>(found->FileName);
    entry->name.Length = static_cast<USHORT>(found->FileNameLength);
  } else {
    const auto* found = reinterpret_cast<const FILE_BOTH_DIR_INFORMATION*>(entry->data);
    entry->attributes = found->FileAttributes;
    entry->name.Buffer = const_cast<PWSTR>(found->FileName);
    entry->name.Length = static_cast<USHORT>(found->FileNameLength);
  }
  entry->name.MaximumLength = entry->name.Length;
  return 1;
}

// A handle's path on its volume, as NtQueryInformationFile names it.
struct OpenedName {
  ULONG bytes;
  WCHAR text[kPathRoom];
};

int NameOf(HANDLE file, OpenedName* name) {
  IO_STATUS_BLOCK io;
  return SeamStatus("NtQueryInformationFile FileNameInformation") == kSuccess &&
         NtQueryInformationFile(file, &io, name, sizeof *name,
                                static_cast<FILE_INFORMATION_CLASS>(9)) == kSuccess;
}

UNICODE_STRING Part(const wchar_t* text, size_t units) {
  UNICODE_STRING part;
  part.Buffer = const_cast<PWSTR>(text);
  part.Length = static_cast<USHORT>(units * sizeof(wchar_t));
  part.MaximumLength = part.Length;
  return part;
}

// The one identity check for every name below the base, which Wine needs:
// it opens a host's symbolic link as its target even with
// FILE_OPEN_REPARSE_POINT, shows no reparse point on the handle or, for a
// file, in the listing, and deletes the target through it. It does name
// the handle by the target's path. So |file|, opened as |name| in
// |folder|, is taken only when its path is the folder's and |name|, and
// neither it nor the listing's entry is a reparse point, with the file ID
// of |file| where the listing has IDs: a swap before the open or between
// the open and the listing is seen either way. On Windows the open already
// takes a link as itself. |*info| is then the file's.
int IsEntryOpened(HANDLE folder, const wchar_t* name, HANDLE file,
                  BY_HANDLE_FILE_INFORMATION* info) {
  OpenedName in;
  OpenedName opened;
  Entry entry;
  if (!NameOf(folder, &in) || !NameOf(file, &opened) || !InfoOf(file, info) ||
      IsRedirection(info->dwFileAttributes) || FindEntry(folder, name, &entry) != 1 ||
      IsRedirection(entry.attributes)) {
    return 0;
  }
  size_t units = in.bytes / sizeof(WCHAR);
  if (units > 0 && in.text[units - 1] == L'\\') --units;  // a drive's root
  size_t length = wcslen(name);
  UNICODE_STRING expected_folder = Part(in.text, units);
  UNICODE_STRING opened_folder = Part(opened.text, units);
  UNICODE_STRING expected_name = Part(name, length);
  UNICODE_STRING opened_name = Part(opened.text + units + 1, length);
  if (opened.bytes != (units + 1 + length) * sizeof(WCHAR) || opened.text[units] != L'\\' ||
      !RtlEqualUnicodeString(&expected_folder, &opened_folder, TRUE) ||
      !RtlEqualUnicodeString(&expected_name, &opened_name, TRUE)) {
    return 0;
  }
  LONGLONG id = static_cast<LONGLONG>((static_cast<ULONGLONG>(info->nFileIndexHigh) << 32) |
                                      info->nFileIndexLow);
  return !entry.has_id || !IsFileId(id) || entry.id == id;
}

// The one policy for holders. Antivirus and EDR products, search indexers,
// backup and sync clients (and the suite itself) open a file the moment it
// is written or closed, and hold it for moments; Windows refuses meanwhile
// what their sharing excludes. How long a refusal is worth waiting for:
enum Patience {
  kFinal,   // no wait ends it
  kBrief,   // a few short tries: it may be a scanner's
  kHolder,  // about two seconds, as careful Windows tools wait
};
enum Refused { kAnOpen, kClassicRename, kPosixRename };

// Judges the refusal |status| of |what| on |name| in |folder|. A sharing
// violation or a pending delete is a holder's. Access denied is final but
// for a rename: the classic rename answers it while anyone holds the target
// open, as do, for good, a folder or a read-only target, the target's ACL,
// and a running program (FILE_RENAME_INFORMATION's remarks). The listing's
// attributes come first, which no holder can refuse. An open of the target
// for deleting, shared with all, then tells a holder that does not share
// deleting (sharing violation) from the ACL (access denied). Where it
// opens, only a holder that shares deleting is left: it refuses the
// classic rename until it lets go, but not the POSIX one, which only an
// image section refuses (MmFlushImageSection): a scanner's mapped view goes
// soon, a running program's does not.
Patience PatienceFor(NTSTATUS status, Refused what, HANDLE folder, const wchar_t* name) {
  if (status == kSharingViolation || status == kDeletePending) return kHolder;
  if (status != kAccessDenied || what == kAnOpen) return kFinal;
  Entry entry;
  int found = FindEntry(folder, name, &entry);
  if (found == 0) return kHolder;  // gone now: the next try goes through
  if (found == 1 && (entry.attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY))) {
    return kFinal;
  }
  HANDLE target = INVALID_HANDLE_VALUE;
  NTSTATUS opened = OpenIn(folder, name, DELETE, kShareAll, FILE_OPEN, FILE_OPEN_REPARSE_POINT,
                           &target, "NtCreateFile the rename's target");
  if (opened != kSuccess) {
    return opened == kSharingViolation || opened == kDeletePending || opened == kObjectNameNotFound
               ? kHolder
               : kFinal;
  }
  CloseHandle(target);
  return what == kPosixRename ? kBrief : kHolder;
}

// Waits before the try after |attempt| of a call refused with |patience|;
// 0 when its time has run out.
int WaitedFor(Patience patience, int attempt) {
  static const DWORD kWaits[] = {5, 10, 20, 40, 80, 160, 250, 250, 250, 250, 250, 250, 250};
  const int kBriefTries = 3;
  int tries = patience == kHolder  ? static_cast<int>(sizeof kWaits / sizeof kWaits[0])
              : patience == kBrief ? kBriefTries
                                   : 0;
  if (attempt >= tries) return 0;
  Sleep(kWaits[attempt]);
  return 1;
}

// Makes |call| until it succeeds, or |judge| finds its refusal final, or the
// wait the refusal is worth has run out: the one loop that waits for
// holders, as Go's robustio has one retry.
template <typename Call, typename Judge>
NTSTATUS RetryWhileHeld(Call call, Judge judge) {
  NTSTATUS status = call();
  for (int attempt = 0; status != kSuccess && WaitedFor(judge(status), attempt); ++attempt) {
    status = call();
  }
  return status;
}

// NtSetInformationFile with a class beyond those the headers' enumeration
// holds (an enumeration passed as the ULONG it is).
NTSTATUS SetInformation(HANDLE file, void* data, ULONG size, ULONG kind) {
  typedef NTSTATUS(NTAPI * Set)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, ULONG);
  IO_STATUS_BLOCK io;
  return reinterpret_cast<Set>(&NtSetInformationFile)(file, &io, data, size, kind);
}

// What a system or file system answers for an information class or a flag
// it lacks (FileRenameInformationEx and its POSIX semantics,
// FileDispositionInformationEx and its flags): older Windows, FAT, file
// servers, Wine.
int IsUnknownClass(NTSTATUS status) {
  return status == kInvalidInfoClass || status == kNotImplemented || status == kNotSupported ||
         status == kInvalidParameter || status == kInvalidDeviceRequest;
}

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
const ULONG kRenamePosixSemantics = 0x2;
const ULONG kFileRenameInformationEx = 65;

// Renames the open |file| to |name| in |folder|, replacing what is there:
// with POSIX semantics where the system has them (|*posix| is then left
// 1), which replace a target that others hold open sharing deleting; else
// with the classic rename, which fails while the target is open at all.
NTSTATUS Rename(HANDLE file, HANDLE folder, const wchar_t* name, int* posix) {
  RenameInformation rename;
  memset(&rename, 0, offsetof(RenameInformation, name));
  rename.root = folder;
  size_t length = wcslen(name);
  rename.length = static_cast<ULONG>(length * sizeof(WCHAR));
  memcpy(rename.name, name, (length + 1) * sizeof(WCHAR));
  ULONG size = static_cast<ULONG>(sizeof(FILE_RENAME_INFORMATION) + rename.length);
  if (*posix) {
    rename.flags = kReplaceIfExists | kRenamePosixSemantics;
    NTSTATUS status = SeamStatus("NtSetInformationFile FileRenameInformationEx");
    if (status == kSuccess) status = SetInformation(file, &rename, size, kFileRenameInformationEx);
    if (!IsUnknownClass(status)) return status;
    *posix = 0;
  }
  rename.flags = kReplaceIfExists;
  NTSTATUS status = SeamStatus("NtSetInformationFile FileRenameInformation");
  if (status != kSuccess) return status;
  return SetInformation(file, &rename, size, FileRenameInformation);
}

// Marks the open |file| for deletion on its close, the classic way.
void DeleteOnClose(HANDLE file) {
  FILE_DISPOSITION_INFORMATION gone;
  gone.DoDeleteFile = TRUE;
  if (SeamStatus("NtSetInformationFile FileDispositionInformation") == kSuccess) {
    SetInformation(file, &gone, sizeof gone, FileDispositionInformation);
  }
}

}  // namespace

size_t ToNative(const char* ansi, wchar_t* native, size_t room) {
  return static_cast<size_t>(WideFromAnsi(ansi, native, static_cast<int>(room)));
}

int StoreBase(wchar_t* base, const wchar_t** below) {
  // The wide API, not getenv: it sees what the process's environment holds
  // now, not the C runtime's copy taken at start-up. Windows 2000 and XP
  // set no LOCALAPPDATA: there the shell names the folder (shell32 5.0, in
  // Windows 2000, has SHGetFolderPathW), creating it for a new account.
  wchar_t named[MAX_PATH];
  DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", named, MAX_PATH);
  if (length >= MAX_PATH) return 0;
  if (length == 0 && SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr,
                                      SHGFP_TYPE_CURRENT, named) != S_OK) {
    return 0;
  }
  wchar_t full[MAX_PATH];
  length = GetFullPathNameW(named, MAX_PATH, full, nullptr);
  if (length == 0 || length >= MAX_PATH) return 0;
  // A drive's root keeps its backslash: \\?\Q: names the volume.
  if (full[length - 1] == L'\\' && (length != 3 || full[1] != L':')) full[--length] = L'\0';
  // The store stays within the ANSI code page's reach, as the caller's
  // paths are: a folder it cannot carry exactly has no store.
  char ansi[kPathRoom];
  if (AnsiFromWide(full, ansi, kPathRoom) == 0) return 0;
  // Given as a \\?\ path, the base may be longer than MAX_PATH below it.
  const wchar_t* prefix = L"\\\\?\\";
  const wchar_t* rest = full;
  if (wcsncmp(full, L"\\\\?\\", 4) == 0) {
    prefix = L"";
  } else if (full[0] == L'\\' && full[1] == L'\\') {
    prefix = L"\\\\?\\UNC\\";
    rest = full + 2;
  } else if (full[1] != L':' || full[2] != L'\\') {
    return 0;
  }
  size_t start = wcslen(prefix);
  memcpy(base, prefix, start * sizeof(wchar_t));
  memcpy(base + start, rest, (wcslen(rest) + 1) * sizeof(wchar_t));
  *below = L"pkgstage";
  return 1;
}

void MakeFolder(const wchar_t* path) {
  if (!SeamFails("CreateDirectoryW")) CreateDirectoryW(path, nullptr);
}

FileHandle OpenBase(const wchar_t* path) {
  if (SeamFails("CreateFileW")) return kNoFile;
  HANDLE folder = CreateFileW(path, GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  BY_HANDLE_FILE_INFORMATION info;
  if (folder != INVALID_HANDLE_VALUE &&
      (!InfoOf(folder, &info) || !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))) {
    CloseHandle(folder);
    return kNoFile;
  }
  return FromHandle(folder);
}

FileHandle OpenOrMakeFolder(FileHandle parent, const wchar_t* name) {
  // Without FILE_SHARE_DELETE: while it is held, no Windows program can
  // rename the folder away.
  HANDLE folder = INVALID_HANDLE_VALUE;
  BY_HANDLE_FILE_INFORMATION info;
  if (OpenIn(AsHandle(parent), name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN_IF,
             FILE_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT, &folder) == kSuccess &&
      !IsEntryOpened(AsHandle(parent), name, folder, &info)) {
    CloseHandle(folder);
    return kNoFile;
  }
  return FromHandle(folder);
}

int NamesAnother(FileHandle folder, const wchar_t* name) {
  UNICODE_STRING asked = Counted(name);
  Entry entry;
  // A listing that cannot be read proves nothing either way; the open that
  // follows fails as well or reaches the name itself.
  if (FindEntry(AsHandle(folder), name, &entry) != 1) return 0;
  return RtlEqualUnicodeString(&asked, &entry.name, TRUE) ? 0 : 1;
}

FileHandle OpenSource(const wchar_t* path) {
  if (SeamFails("CreateFileW")) return kNoFile;
  HANDLE file = CreateFileW(path, GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE &&
      (SeamFails("GetFileType") || GetFileType(file) != FILE_TYPE_DISK)) {
    CloseHandle(file);
    return kNoFile;
  }
  return FromHandle(file);
}

FileHandle OpenStaged(FileHandle folder, const wchar_t* name) {
  HANDLE file = INVALID_HANDLE_VALUE;
  BY_HANDLE_FILE_INFORMATION info;
  if (OpenIn(AsHandle(folder), name, GENERIC_READ, kShareAll, FILE_OPEN, kFileOptions, &file) ==
          kSuccess &&
      !IsEntryOpened(AsHandle(folder), name, file, &info)) {
    CloseHandle(file);
    return kNoFile;
  }
  return FromHandle(file);
}

int FileSize(FileHandle file, uint64_t* size) {
  LARGE_INTEGER value;
  if (SeamFails("GetFileSizeEx") || !GetFileSizeEx(AsHandle(file), &value)) return 0;
  *size = static_cast<uint64_t>(value.QuadPart);
  return 1;
}

long ReadSome(FileHandle file, void* buffer, size_t room) {
  DWORD got = 0;
  DWORD want = room > 0x40000000 ? 0x40000000 : static_cast<DWORD>(room);
  if (SeamFails("ReadFile") || !ReadFile(AsHandle(file), buffer, want, &got, nullptr)) return -1;
  return static_cast<long>(got);
}

int Rewind(FileHandle file) {
  LARGE_INTEGER start;
  start.QuadPart = 0;
  return !SeamFails("SetFilePointerEx") &&
         SetFilePointerEx(AsHandle(file), start, nullptr, FILE_BEGIN);
}

void CloseFile(FileHandle file) {
  if (file != kNoFile) CloseHandle(AsHandle(file));
}

FileHandle TakeLock(FileHandle folder, const wchar_t* name) {
  HANDLE in = AsHandle(folder);
  for (int tries = 0; tries < 3; ++tries) {
    // LockFileEx needs reading or writing; reading alone opens a read-only
    // lock file (planted, or restored by a tool that keeps attributes) as
    // it is, where writing would be refused for good.
    HANDLE file = INVALID_HANDLE_VALUE;
    NTSTATUS status = RetryWhileHeld(
        [&] {
          return OpenIn(in, name, GENERIC_READ, kShareAll, FILE_OPEN, kFileOptions, &file,
                        "NtCreateFile the lock");
        },
        [&](NTSTATUS refusal) { return PatienceFor(refusal, kAnOpen, in, name); });
    // Created new where missing: a create that would open an existing name
    // follows a host's link on some systems, and a new file never does.
    if (status == kObjectNameNotFound) {
      status = OpenIn(in, name, GENERIC_READ, kShareAll, FILE_CREATE, kFileOptions, &file);
    }
    if (status == kObjectNameCollision) continue;
    if (status != kSuccess) break;
    BY_HANDLE_FILE_INFORMATION info;
    int ours = IsEntryOpened(in, name, file, &info);
    if (ours && info.nNumberOfLinks > 1) {
      CloseHandle(file);
      RemoveName(folder, name);
      continue;
    }
    OVERLAPPED whole = {};
    if (ours && !SeamFails("LockFileEx") &&
        LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
      return FromHandle(file);
    }
    CloseHandle(file);
    break;
  }
  return kNoFile;
}

CopyEnd CopyToTemp(FileHandle source, FileHandle folder, const wchar_t* temp, FileHandle* copy) {
  // A leftover goes first: one that is read-only or hidden could not be
  // overwritten.
  RemoveName(folder, temp);
  // A new file, so no attribute of the source's comes with the copy: a
  // read-only copy could never be replaced. Shared with no one, and renamed
  // through this handle: nothing can hold it in between.
  HANDLE file = INVALID_HANDLE_VALUE;
  NTSTATUS created =
      OpenIn(AsHandle(folder), temp, GENERIC_WRITE | DELETE, 0, FILE_CREATE, kFileOptions, &file);
  if (created != kSuccess) {
    // The leftover stayed: a holder has it, or it is no file of the store's.
    return created == kObjectNameCollision ||
                   PatienceFor(created, kAnOpen, AsHandle(folder), temp) != kFinal
               ? kTempTaken
               : kCopyFailed;
  }
  CopyEnd end = kCopied;
  char buffer[65536];
  for (;;) {
    long got = ReadSome(source, buffer, sizeof buffer);
    if (got < 0) end = kSourceFailed;
    if (got <= 0) break;
    DWORD put = 0;
    if (SeamFails("WriteFile") ||
        !WriteFile(file, buffer, static_cast<DWORD>(got), &put, nullptr) ||
        put != static_cast<DWORD>(got)) {
      end = kCopyFailed;
      break;
    }
  }
  if (end == kCopied && (SeamFails("FlushFileBuffers") || !FlushFileBuffers(file))) {
    end = kCopyFailed;
  }
  if (end != kCopied) {
    DiscardCopy(folder, FromHandle(file), temp);
    return end;
  }
  *copy = FromHandle(file);
  return kCopied;
}

int RenameOver(FileHandle folder, FileHandle copy, const wchar_t* temp, const wchar_t* target) {
  HANDLE in = AsHandle(folder);
  int posix = 1;
  NTSTATUS status = RetryWhileHeld(
      [&] { return Rename(AsHandle(copy), in, target, &posix); },
      [&](NTSTATUS refusal) {
        return PatienceFor(refusal, posix ? kPosixRename : kClassicRename, in, target);
      });
  if (status != kSuccess) {
    DiscardCopy(folder, copy, temp);
    return 0;
  }
  // As MOVEFILE_WRITE_THROUGH does: the renamed file's metadata to the disk.
  // The bytes were flushed before the rename, which stands: what this says
  // cannot change what is staged.
  if (!SeamFails("FlushFileBuffers")) FlushFileBuffers(AsHandle(copy));
  CloseHandle(AsHandle(copy));
  return 1;
}

void DiscardCopy(FileHandle /*folder*/, FileHandle copy, const wchar_t* /*temp*/) {
  DeleteOnClose(AsHandle(copy));
  CloseHandle(AsHandle(copy));
}

void RemoveName(FileHandle folder, const wchar_t* name) {
  HANDLE file = INVALID_HANDLE_VALUE;
  if (OpenIn(AsHandle(folder), name, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
             kShareAll, FILE_OPEN, kFileOptions, &file) != kSuccess) {
    return;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (IsEntryOpened(AsHandle(folder), name, file, &info)) {
    // FileDispositionInformationEx (Windows 10 1607 on): with POSIX
    // semantics the name goes at once, though a scanner holds the file;
    // a read-only file goes as it is (Windows 10 1809 on), its attributes,
    // every link's, left alone.
    const ULONG kFileDispositionInformationEx = 64;
    ULONG flags = 0x1 | 0x2 | 0x10;  // DELETE | POSIX_SEMANTICS | IGNORE_READONLY_ATTRIBUTE
    NTSTATUS status = SeamStatus("NtSetInformationFile FileDispositionInformationEx");
    if (status == kSuccess) {
      status = SetInformation(file, &flags, sizeof flags, kFileDispositionInformationEx);
    }
    // A system without the class or the flag, or one that refuses the file
    // as read-only: the attribute is cleared first where this is the file's
    // only name, and it is deleted the classic way.
    if (IsUnknownClass(status) || status == kCannotDelete) {
      if (info.nNumberOfLinks == 1 &&
          (info.dwFileAttributes &
           (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM))) {
        FILE_BASIC_INFORMATION basic;
        memset(&basic, 0, sizeof basic);  // times of 0 are left as they are
        basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
        if (SeamStatus("NtSetInformationFile FileBasicInformation") == kSuccess) {
          SetInformation(file, &basic, sizeof basic, FileBasicInformation);
        }
      }
      DeleteOnClose(file);
    }
  }
  CloseHandle(file);
}
