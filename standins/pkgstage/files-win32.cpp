// The stand-in's file operations on Windows: below the base, opened and
// renamed relative to a held folder through ntdll (NtCreateFile,
// NtSetInformationFile), which kernel32 has no way to do.
// clang-format off: the Windows headers' own order for ntstatus.h's names
#define WIN32_NO_STATUS
#include <windows.h>
#undef WIN32_NO_STATUS
#include <ntstatus.h>
#include <shlobj.h>
#include <stddef.h>
#include <string.h>
#include <winternl.h>
// clang-format on

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

// The status the seam (seam.h) fails |call| with, or STATUS_SUCCESS.
NTSTATUS SeamStatus(const char* call) {
  return static_cast<NTSTATUS>(kFaultCodes[FaultFor(call)].status);
}

// For kernel32's calls: 1 when the seam fails |call|, with the last error
// set as that fault sets it.
int SeamFailsWin32(const char* call) {
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

UNICODE_STRING Counted(const wchar_t* text, size_t units) {
  UNICODE_STRING counted;
  counted.Buffer = const_cast<PWSTR>(text);
  counted.Length = static_cast<USHORT>(units * sizeof(wchar_t));
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
  UNICODE_STRING text = Counted(name, wcslen(name));
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, folder, nullptr);
  IO_STATUS_BLOCK io;
  *file = INVALID_HANDLE_VALUE;
  NTSTATUS status = SeamStatus(call);
  if (status == STATUS_SUCCESS) {
    status =
        NtCreateFile(file, access | SYNCHRONIZE, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL,
                     share, disposition, options | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
  }
  if (status != STATUS_SUCCESS) *file = INVALID_HANDLE_VALUE;
  return status;
}

int InfoOf(HANDLE file, BY_HANDLE_FILE_INFORMATION* info) {
  return !SeamFailsWin32("GetFileInformationByHandle") && GetFileInformationByHandle(file, info);
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

// Looks |name| up in the listing of |folder|, by an entry's long or short
// name: 1 when found, 0 when there is none, -1 when the listing cannot be
// read. A listing takes its mask at a handle's first read only, so each
// look-up opens its own. File systems without file IDs in listings say so
// in several ways (STATUS_INVALID_INFO_CLASS, STATUS_NOT_SUPPORTED,
// STATUS_INVALID_LEVEL, STATUS_INVALID_PARAMETER): any failure but "no such
// entry" is asked again without IDs.
int FindEntry(HANDLE folder, const wchar_t* name, Entry* entry) {
  UNICODE_STRING mask = Counted(name, wcslen(name));
  NTSTATUS status = STATUS_NO_SUCH_FILE;
  for (int with_id = 1; with_id >= 0; --with_id) {
    HANDLE listing = INVALID_HANDLE_VALUE;
    if (OpenIn(folder, L"", FILE_LIST_DIRECTORY, kShareAll, FILE_OPEN, FILE_DIRECTORY_FILE,
               &listing) != STATUS_SUCCESS) {
      return -1;
    }
    IO_STATUS_BLOCK io;
    status = SeamStatus(with_id ? "NtQueryDirectoryFile FileIdBothDirectoryInformation"
                                : "NtQueryDirectoryFile FileBothDirectoryInformation");
    if (status == STATUS_SUCCESS) {
      status = NtQueryDirectoryFile(
          listing, nullptr, nullptr, nullptr, &io, entry->data, sizeof entry->data,
          with_id ? FileIdBothDirectoryInformation : FileBothDirectoryInformation, TRUE, &mask,
          TRUE);
    }
    CloseHandle(listing);
    entry->has_id = with_id;
    if (status == STATUS_SUCCESS || status == STATUS_NO_SUCH_FILE ||
        status == STATUS_NO_MORE_FILES) {
      break;
    }
  }
  if (status == STATUS_NO_SUCH_FILE || status == STATUS_NO_MORE_FILES) return 0;
  if (status != STATUS_SUCCESS) return -1;
  // The two layouts differ from the short name on: the ID, then the name.
  const auto* both = reinterpret_cast<const FILE_BOTH_DIR_INFORMATION*>(entry->data);
  const auto* with_id = reinterpret_cast<const FILE_ID_BOTH_DIR_INFORMATION*>(entry->data);
  entry->attributes = both->FileAttributes;
  entry->id = entry->has_id ? with_id->FileId.QuadPart : 0;
  entry->name = Counted(entry->has_id ? with_id->FileName : both->FileName,
                        both->FileNameLength / sizeof(WCHAR));
  entry->has_id = IsFileId(entry->id);
  return 1;
}

// A handle's path on its volume, as NtQueryInformationFile names it.
struct OpenedName {
  ULONG bytes;
  WCHAR text[kPathRoom];
};

int NameOf(HANDLE file, OpenedName* name) {
  IO_STATUS_BLOCK io;
  return SeamStatus("NtQueryInformationFile FileNameInformation") == STATUS_SUCCESS &&
         NtQueryInformationFile(file, &io, name, sizeof *name,
                                static_cast<FILE_INFORMATION_CLASS>(9)) == STATUS_SUCCESS;
}

// Wine opens a host's symbolic link as its target even with
// FILE_OPEN_REPARSE_POINT, shows no reparse point for a file's, in the
// handle or the listing, and deletes the target through the handle. It
// does name the handle by the target's whole path. So under Wine, |file|
// opened as |name| in |folder| is a host's link unless named as the
// folder's path and |name|. Windows opens a link as itself, which its
// attributes show, and does not promise a whole path in FILE_NAME_INFORMATION:
// there this returns 0 at once.
int IsWineHostLink(HANDLE folder, const wchar_t* name, HANDLE file) {
  if (GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") == nullptr) return 0;
  OpenedName in;
  OpenedName opened;
  if (!NameOf(folder, &in) || !NameOf(file, &opened)) return 1;
  size_t units = in.bytes / sizeof(WCHAR);
  if (units > 0 && in.text[units - 1] == L'\\') --units;  // a drive's root
  size_t length = wcslen(name);
  UNICODE_STRING expected_folder = Counted(in.text, units);
  UNICODE_STRING opened_folder = Counted(opened.text, units);
  UNICODE_STRING expected_name = Counted(name, length);
  UNICODE_STRING opened_name = Counted(opened.text + units + 1, length);
  return opened.bytes != (units + 1 + length) * sizeof(WCHAR) || opened.text[units] != L'\\' ||
         !RtlEqualUnicodeString(&expected_folder, &opened_folder, TRUE) ||
         !RtlEqualUnicodeString(&expected_name, &opened_name, TRUE);
}

// The one identity check for every name below the base: |file|, opened as
// |name| in |folder|, is taken only when neither it nor its entry in the
// listing is a reparse point, the entry has its file ID where the listing
// has IDs (a swap between the open and the listing), and it is no host's
// link under Wine. Fills |*info| with the file's.
int IsEntryOpened(HANDLE folder, const wchar_t* name, HANDLE file,
                  BY_HANDLE_FILE_INFORMATION* info) {
  Entry entry;
  if (!InfoOf(file, info) || IsRedirection(info->dwFileAttributes) ||
      FindEntry(folder, name, &entry) != 1 || IsRedirection(entry.attributes) ||
      IsWineHostLink(folder, name, file)) {
    return 0;
  }
  LONGLONG id = static_cast<LONGLONG>((static_cast<ULONGLONG>(info->nFileIndexHigh) << 32) |
                                      info->nFileIndexLow);
  return !entry.has_id || !IsFileId(id) || entry.id == id;
}

// Opens |name| in |folder| for reading, when IsEntryOpened holds of it.
FileHandle OpenEntry(FileHandle folder, const wchar_t* name, ULONG share, ULONG disposition,
                     ULONG options) {
  HANDLE file = INVALID_HANDLE_VALUE;
  BY_HANDLE_FILE_INFORMATION info;
  if (OpenIn(AsHandle(folder), name, GENERIC_READ, share, disposition, options, &file) ==
          STATUS_SUCCESS &&
      !IsEntryOpened(AsHandle(folder), name, file, &info)) {
    CloseHandle(file);
    return kNoFile;
  }
  return FromHandle(file);
}

// The one policy for holders. Scanners, indexers, backup and sync clients
// open a file the moment it is written or closed and hold it for moments,
// and Windows refuses what their sharing excludes. What a refusal is worth:
enum Patience {
  kFinal,   // no wait ends it
  kBrief,   // a few short tries: it may be a scanner's
  kHolder,  // about two seconds, as careful Windows tools wait
};
enum Refused { kAnOpen, kClassicRename, kPosixRename };

// Judges the refusal |status| of |what| on |name| in |folder|. A sharing
// violation or a pending delete is a holder's. Access denied is final but
// for a rename, where the classic rename answers it while anyone holds the
// target open, and a folder or read-only target, the target's ACL or a
// running program answer it for good (FILE_RENAME_INFORMATION's remarks).
// The listing's attributes come first, which no holder refuses; then an
// open for deleting, shared with all, tells a holder that does not share
// deleting from the ACL. Where it opens, a holder that shares deleting is
// left: it refuses the classic rename until it lets go; the POSIX rename
// only an image section refuses (MmFlushImageSection), a scanner's mapped
// view for moments, a running program's for good.
Patience PatienceFor(NTSTATUS status, Refused what, HANDLE folder, const wchar_t* name) {
  if (status == STATUS_SHARING_VIOLATION || status == STATUS_DELETE_PENDING) return kHolder;
  if (status != STATUS_ACCESS_DENIED || what == kAnOpen) return kFinal;
  Entry entry;
  int found = FindEntry(folder, name, &entry);
  if (found == 0) return kHolder;  // gone now: the next try goes through
  if (found == 1 && (entry.attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY))) {
    return kFinal;
  }
  HANDLE target = INVALID_HANDLE_VALUE;
  NTSTATUS opened = OpenIn(folder, name, DELETE, kShareAll, FILE_OPEN, FILE_OPEN_REPARSE_POINT,
                           &target, "NtCreateFile the rename's target");
  if (opened != STATUS_SUCCESS) {
    return opened == STATUS_SHARING_VIOLATION || opened == STATUS_DELETE_PENDING ||
                   opened == STATUS_OBJECT_NAME_NOT_FOUND
               ? kHolder
               : kFinal;
  }
  CloseHandle(target);
  return what == kPosixRename ? kBrief : kHolder;
}

// Waits before the next try; 0 when the time |patience| gives has run out.
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

// Makes |call| until it succeeds or the wait its refusal is worth (|judge|)
// has run out: the one loop that waits for holders.
template <typename Call, typename Judge>
NTSTATUS RetryWhileHeld(Call call, Judge judge) {
  NTSTATUS status = call();
  for (int attempt = 0; status != STATUS_SUCCESS && WaitedFor(judge(status), attempt); ++attempt) {
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

// What older Windows, FAT, file servers and Wine answer for an information
// class or a flag they lack.
int IsUnknownClass(NTSTATUS status) {
  return status == STATUS_INVALID_INFO_CLASS || status == STATUS_NOT_IMPLEMENTED ||
         status == STATUS_NOT_SUPPORTED || status == STATUS_INVALID_PARAMETER ||
         status == STATUS_INVALID_DEVICE_REQUEST;
}

// FileRenameInformationEx's structure, whose Flags (Windows 10 1607 on)
// hold ReplaceIfExists in their low byte, so it serves both classes. The
// name has room for a NUL, which some file systems read past the length.
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
// with POSIX semantics where the system has them (|*posix| stays 1), which
// replace a target held open sharing deleting; else the classic way.
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
    if (status == STATUS_SUCCESS) {
      status = SetInformation(file, &rename, size, kFileRenameInformationEx);
    }
    if (!IsUnknownClass(status)) return status;
    *posix = 0;
  }
  rename.flags = kReplaceIfExists;
  NTSTATUS status = SeamStatus("NtSetInformationFile FileRenameInformation");
  if (status != STATUS_SUCCESS) return status;
  return SetInformation(file, &rename, size, FileRenameInformation);
}

// Marks the open |file| for deletion on its close, the classic way.
void DeleteOnClose(HANDLE file) {
  FILE_DISPOSITION_INFORMATION gone;
  gone.DoDeleteFile = TRUE;
  if (SeamStatus("NtSetInformationFile FileDispositionInformation") == STATUS_SUCCESS) {
    SetInformation(file, &gone, sizeof gone, FileDispositionInformation);
  }
}

}  // namespace

size_t ToNative(const char* ansi, wchar_t* native, size_t room) {
  return static_cast<size_t>(WideFromAnsi(ansi, native, static_cast<int>(room)));
}

int StoreBase(wchar_t* base, const wchar_t** below) {
  // The environment as it is now, not the C runtime's copy. Windows 2000
  // and XP set no LOCALAPPDATA: there the shell names (and makes) it.
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
  // A folder the ANSI code page cannot carry, as no caller's path can, has
  // no store.
  char ansi[kPathRoom];
  if (AnsiFromWide(full, ansi, kPathRoom) == 0) return 0;
  // Given as a \\?\ path, the base may be longer than MAX_PATH below it.
  const wchar_t* prefix = L"\\\\?\\";
  const wchar_t* rest = full;
  if (full[0] == L'\\' && full[1] == L'\\' && full[2] == L'?' && full[3] == L'\\') {
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
  if (!SeamFailsWin32("CreateDirectoryW")) CreateDirectoryW(path, nullptr);
}

FileHandle OpenBase(const wchar_t* path) {
  if (SeamFailsWin32("CreateFileW")) return kNoFile;
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
  // Not shared for deleting: no one can rename the folder away meanwhile.
  return OpenEntry(parent, name, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN_IF,
                   FILE_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT);
}

int NamesAnother(FileHandle folder, const wchar_t* name) {
  UNICODE_STRING asked = Counted(name, wcslen(name));
  Entry entry;
  // An unreadable listing proves nothing; the open that follows will tell.
  if (FindEntry(AsHandle(folder), name, &entry) != 1) return 0;
  return RtlEqualUnicodeString(&asked, &entry.name, TRUE) ? 0 : 1;
}

FileHandle OpenSource(const wchar_t* path) {
  if (SeamFailsWin32("CreateFileW")) return kNoFile;
  HANDLE file = CreateFileW(path, GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE &&
      (SeamFailsWin32("GetFileType") || GetFileType(file) != FILE_TYPE_DISK)) {
    CloseHandle(file);
    return kNoFile;
  }
  return FromHandle(file);
}

FileHandle OpenStaged(FileHandle folder, const wchar_t* name) {
  return OpenEntry(folder, name, kShareAll, FILE_OPEN, kFileOptions);
}

int FileSize(FileHandle file, uint64_t* size) {
  LARGE_INTEGER value;
  if (SeamFailsWin32("GetFileSizeEx") || !GetFileSizeEx(AsHandle(file), &value)) return 0;
  *size = static_cast<uint64_t>(value.QuadPart);
  return 1;
}

long ReadSome(FileHandle file, void* buffer, size_t room) {
  DWORD got = 0;
  DWORD want = room > 0x40000000 ? 0x40000000 : static_cast<DWORD>(room);
  if (SeamFailsWin32("ReadFile") || !ReadFile(AsHandle(file), buffer, want, &got, nullptr))
    return -1;
  return static_cast<long>(got);
}

int Rewind(FileHandle file) {
  LARGE_INTEGER start;
  start.QuadPart = 0;
  return !SeamFailsWin32("SetFilePointerEx") &&
         SetFilePointerEx(AsHandle(file), start, nullptr, FILE_BEGIN);
}

void CloseFile(FileHandle file) {
  if (file != kNoFile) CloseHandle(AsHandle(file));
}

FileHandle TakeLock(FileHandle folder, const wchar_t* name) {
  HANDLE in = AsHandle(folder);
  for (int tries = 0; tries < 3; ++tries) {
    // LockFileEx needs reading or writing; reading opens a read-only lock
    // file as it is.
    HANDLE file = INVALID_HANDLE_VALUE;
    NTSTATUS status = RetryWhileHeld(
        [&] {
          return OpenIn(in, name, GENERIC_READ, kShareAll, FILE_OPEN, kFileOptions, &file,
                        "NtCreateFile the lock");
        },
        [&](NTSTATUS refusal) { return PatienceFor(refusal, kAnOpen, in, name); });
    // Created new where missing: FILE_CREATE never follows a host's link.
    if (status == STATUS_OBJECT_NAME_NOT_FOUND) {
      status = OpenIn(in, name, GENERIC_READ, kShareAll, FILE_CREATE, kFileOptions, &file);
    }
    if (status == STATUS_OBJECT_NAME_COLLISION) continue;
    if (status != STATUS_SUCCESS) break;
    BY_HANDLE_FILE_INFORMATION info;
    int ours = IsEntryOpened(in, name, file, &info);
    if (ours && info.nNumberOfLinks > 1) {
      CloseHandle(file);
      RemoveName(folder, name);
      continue;
    }
    OVERLAPPED whole = {};
    if (ours && !SeamFailsWin32("LockFileEx") &&
        LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
      return FromHandle(file);
    }
    CloseHandle(file);
    break;
  }
  return kNoFile;
}

CopyEnd CopyToTemp(FileHandle source, FileHandle folder, const wchar_t* temp, FileHandle* copy) {
  // A leftover goes first (a read-only one could not be overwritten), and
  // the copy is a new file, with none of the source's attributes.
  RemoveName(folder, temp);
  HANDLE file = INVALID_HANDLE_VALUE;
  NTSTATUS created =
      OpenIn(AsHandle(folder), temp, GENERIC_WRITE | DELETE, 0, FILE_CREATE, kFileOptions, &file);
  if (created != STATUS_SUCCESS) {
    // The leftover stayed: a holder has it, or it is no file of the store's.
    return created == STATUS_OBJECT_NAME_COLLISION ||
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
    if (SeamFailsWin32("WriteFile") ||
        !WriteFile(file, buffer, static_cast<DWORD>(got), &put, nullptr) ||
        put != static_cast<DWORD>(got)) {
      end = kCopyFailed;
      break;
    }
  }
  if (end == kCopied && (SeamFailsWin32("FlushFileBuffers") || !FlushFileBuffers(file))) {
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
  if (status != STATUS_SUCCESS) {
    DiscardCopy(folder, copy, temp);
    return 0;
  }
  // The renamed file's metadata to the disk, as MOVEFILE_WRITE_THROUGH
  // does; the rename stands whatever this says.
  if (!SeamFailsWin32("FlushFileBuffers")) FlushFileBuffers(AsHandle(copy));
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
             kShareAll, FILE_OPEN, kFileOptions, &file) != STATUS_SUCCESS) {
    return;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (IsEntryOpened(AsHandle(folder), name, file, &info)) {
    // FileDispositionInformationEx (Windows 10 1607 on): with POSIX
    // semantics the name goes at once though a scanner holds the file, and
    // a read-only file as it is (1809 on), its attributes, every link's,
    // left alone.
    const ULONG kFileDispositionInformationEx = 64;
    ULONG flags = 0x1 | 0x2 | 0x10;  // DELETE | POSIX_SEMANTICS | IGNORE_READONLY_ATTRIBUTE
    NTSTATUS status = SeamStatus("NtSetInformationFile FileDispositionInformationEx");
    if (status == STATUS_SUCCESS) {
      status = SetInformation(file, &flags, sizeof flags, kFileDispositionInformationEx);
    }
    // Without the class or the flag, or refused as read-only: the classic
    // way, the attribute cleared first where this is the file's one name.
    if (IsUnknownClass(status) || status == STATUS_CANNOT_DELETE) {
      if (info.nNumberOfLinks == 1 &&
          (info.dwFileAttributes &
           (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM))) {
        FILE_BASIC_INFORMATION basic;
        memset(&basic, 0, sizeof basic);  // times of 0 are left as they are
        basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
        if (SeamStatus("NtSetInformationFile FileBasicInformation") == STATUS_SUCCESS) {
          SetInformation(file, &basic, sizeof basic, FileBasicInformation);
        }
      }
      DeleteOnClose(file);
    }
  }
  CloseHandle(file);
}
