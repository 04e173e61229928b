// The stand-in's file calls on Windows: kernel32's wide functions, on
// \\?\ paths. Scanners, indexers, backup clients and the suite open a
// file the moment it is written or closed and hold it for moments, and
// Windows refuses what their sharing excludes: every call such a holder
// refuses goes through Retry.
// windows.h first, as the other Windows headers need.
// clang-format off
#include <windows.h>
#include <shlobj.h>
#include <winternl.h>
// clang-format on

#include "files.h"
#include "seam.h"
#include "text-win32.h"

extern "C" BOOLEAN NTAPI RtlEqualUnicodeString(const UNICODE_STRING* a, const UNICODE_STRING* b,
                                               BOOLEAN ignore_case);

namespace {

// 1 when the seam (seam.h) fails |call|, with the last error set as that
// fault sets it.
int Fails(const char* call) {
  Fault fault = FaultFor(call);
  if (fault != kNoFault) SetLastError(kFaultCodes[fault].win32_error);
  return fault != kNoFault;
}

const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// CreateFileW; |call| is the name the seam knows this open by.
FileHandle Open(const wchar_t* path, DWORD access, DWORD share, DWORD disposition, DWORD flags,
                const char* call) {
  HANDLE file = Fails(call)
                    ? INVALID_HANDLE_VALUE
                    : CreateFileW(path, access, share, nullptr, disposition, flags, nullptr);
  return file == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<FileHandle>(file);
}

HANDLE AsHandle(FileHandle file) {
  return reinterpret_cast<HANDLE>(file);
}

DWORD Attributes(const wchar_t* path) {
  return Fails("GetFileAttributesW") ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(path);
}

// The one policy for holders, in the manner of Go's robustio: makes |call|
// until it succeeds, fails other than by a sharing violation or a denied
// access, or about 2 s have passed. A denial that no wait ends, a read-only
// file or a folder at |path|, fails at once.
template <typename Call>
int Retry(const wchar_t* path, Call call) {
  static const DWORD kWaits[] = {10, 20, 40, 80, 160, 320, 500, 500, 500};
  for (size_t attempt = 0;; ++attempt) {
    if (call()) return 1;
    DWORD error = GetLastError();
    if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) return 0;
    DWORD attributes = error == ERROR_ACCESS_DENIED ? Attributes(path) : INVALID_FILE_ATTRIBUTES;
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
      return 0;
    }
    if (attempt == sizeof kWaits / sizeof kWaits[0]) return 0;
    Sleep(kWaits[attempt]);
  }
}

}  // namespace

size_t ToNative(const char* ansi, wchar_t* native, size_t room) {
  return static_cast<size_t>(WideFromAnsi(ansi, native, static_cast<int>(room)));
}

int StoreFolder(wchar_t* store) {
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
  // As a \\?\ path, the store may be longer than MAX_PATH below it; a
  // share's is \\?\UNC\server\share.
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
  size_t used = 0;
  for (const wchar_t* c = prefix; *c != L'\0'; ++c) store[used++] = *c;
  for (const wchar_t* c = rest; *c != L'\0'; ++c) store[used++] = *c;
  // A drive's root (Q:\) loses its backslash too: \\?\Q:\pkgstage.
  if (store[used - 1] == L'\\') --used;
  for (const wchar_t* c = L"\\pkgstage"; *c != L'\0'; ++c) store[used++] = *c;
  store[used] = L'\0';
  return 1;
}

void MakeFolder(const wchar_t* path) {
  if (!Fails("CreateDirectoryW")) CreateDirectoryW(path, nullptr);
}

int NamesAnother(const wchar_t* path) {
  WIN32_FIND_DATAW found;
  HANDLE listing = Fails("FindFirstFileW") ? INVALID_HANDLE_VALUE : FindFirstFileW(path, &found);
  // Nothing there, or nothing to tell: the calls that follow will tell.
  if (listing == INVALID_HANDLE_VALUE) return 0;
  FindClose(listing);
  const wchar_t* name = path;
  for (const wchar_t* c = path; *c != L'\0'; ++c) {
    if (*c == L'\\') name = c + 1;
  }
  UNICODE_STRING asked;
  UNICODE_STRING entry;
  RtlInitUnicodeString(&asked, name);
  RtlInitUnicodeString(&entry, found.cFileName);
  // Case as the file system folds it.
  return RtlEqualUnicodeString(&asked, &entry, TRUE) ? 0 : 1;
}

FileHandle OpenForReading(const wchar_t* path) {
  FileHandle file =
      Open(path, GENERIC_READ, kShareAll, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, "CreateFileW read");
  if (file != kNoFile && (Fails("GetFileType") || GetFileType(AsHandle(file)) != FILE_TYPE_DISK)) {
    CloseFile(file);
    return kNoFile;
  }
  return file;
}

int FileSize(FileHandle file, uint64_t* size) {
  LARGE_INTEGER value;
  if (Fails("GetFileSizeEx") || !GetFileSizeEx(AsHandle(file), &value)) return 0;
  *size = static_cast<uint64_t>(value.QuadPart);
  return 1;
}

long ReadSome(FileHandle file, void* buffer, size_t room) {
  DWORD got = 0;
  DWORD want = room > 0x40000000 ? 0x40000000 : static_cast<DWORD>(room);
  if (Fails("ReadFile") || !ReadFile(AsHandle(file), buffer, want, &got, nullptr)) return -1;
  return static_cast<long>(got);
}

int Rewind(FileHandle file) {
  LARGE_INTEGER start;
  start.QuadPart = 0;
  return !Fails("SetFilePointerEx") && SetFilePointerEx(AsHandle(file), start, nullptr, FILE_BEGIN);
}

void CloseFile(FileHandle file) {
  if (file != kNoFile) CloseHandle(AsHandle(file));
}

FileHandle TakeLock(const wchar_t* path) {
  // LockFileEx needs reading or writing; reading opens a read-only lock
  // file as it is. A link there is opened as itself.
  FileHandle lock = kNoFile;
  Retry(path, [&] {
    lock = Open(path, GENERIC_READ, kShareAll, OPEN_ALWAYS,
                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, "CreateFileW lock");
    return lock != kNoFile;
  });
  OVERLAPPED whole = {};
  if (lock != kNoFile &&
      (Fails("LockFileEx") ||
       !LockFileEx(AsHandle(lock), LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole))) {
    CloseFile(lock);
    return kNoFile;
  }
  return lock;
}

FileHandle CreateNew(const wchar_t* path) {
  // Shared with no one: no scanner reads the copy half-written.
  FileHandle file = kNoFile;
  Retry(path, [&] {
    file = Open(path, GENERIC_WRITE, 0, CREATE_NEW,
                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, "CreateFileW copy");
    return file != kNoFile;
  });
  return file;
}

int WriteAll(FileHandle file, const char* bytes, size_t count) {
  DWORD put = 0;
  return !Fails("WriteFile") &&
         WriteFile(AsHandle(file), bytes, static_cast<DWORD>(count), &put, nullptr) && put == count;
}

int Flush(FileHandle file) {
  return !Fails("FlushFileBuffers") && FlushFileBuffers(AsHandle(file));
}

int RenameOver(const wchar_t* /*folder*/, const wchar_t* temp, const wchar_t* target) {
  // MOVEFILE_WRITE_THROUGH returns once the rename is on the disk.
  return Retry(target, [&] {
    return !Fails("MoveFileExW") &&
           MoveFileExW(temp, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  });
}

void RemoveName(const wchar_t* path) {
  DWORD attributes = Attributes(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  // A read-only leftover would refuse its delete for good.
  if ((attributes & FILE_ATTRIBUTE_READONLY) != 0 && !Fails("SetFileAttributesW")) {
    SetFileAttributesW(path, attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  }
  Retry(path, [&] { return !Fails("DeleteFileW") && DeleteFileW(path); });
}
