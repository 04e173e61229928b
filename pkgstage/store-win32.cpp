// The stand-in's file system operations on Windows.
//
// Paths arrive as ANSI text and are converted here, as the ANSI API would
// convert them, for the wide API: only that one accepts \\?\ paths longer
// than MAX_PATH.
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include "pkgstage.h"
#include "store.h"

const char kSeparator = '\\';

int IsSeparator(char c) {
  // "C:name" names a file relative to drive C's current folder.
  return c == '\\' || c == '/' || c == ':';
}

const char* NextChar(const char* c) {
  return IsDBCSLeadByte(static_cast<BYTE>(*c)) && c[1] != '\0' ? c + 2 : c + 1;
}

namespace {

HANDLE AsHandle(FileHandle file) {
  return reinterpret_cast<HANDLE>(file);
}

FileHandle FromHandle(HANDLE handle) {
  return handle == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<FileHandle>(handle);
}

// A path converted from the ANSI code page; empty when it does not convert.
struct WidePath {
  wchar_t text[kPathRoom];
};

WidePath Wide(const char* path) {
  WidePath wide;
  if (MultiByteToWideChar(CP_ACP, 0, path, -1, wide.text, kPathRoom) == 0) wide.text[0] = L'\0';
  return wide;
}

}  // namespace

int StoreFolder(char* out, size_t room) {
  // The wide API, not getenv: it sees what the process's environment holds
  // now, not the C runtime's copy taken at start-up, and it gives the folder
  // whole in any code page (Wine's GetEnvironmentVariableA cuts a value
  // holding double-byte characters short).
  wchar_t base[MAX_PATH];
  DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", base, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return 0;
  wchar_t wide[MAX_PATH];
  length = GetFullPathNameW(base, MAX_PATH, wide, nullptr);
  if (length == 0 || length >= MAX_PATH) return 0;
  if (wide[length - 1] == L'\\') wide[length - 1] = L'\0';
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
  // Paths below the store are given as \\?\ paths: they may then be longer
  // than MAX_PATH, and a user named like a device (NUL, CON) gets a folder
  // of that name instead of a write to the device.
  int written = -1;
  if (strncmp(full, "\\\\?\\", 4) == 0) {
    written = snprintf(out, room, "%s\\pkgstage", full);
  } else if (full[0] == '\\' && full[1] == '\\') {
    written = snprintf(out, room, "\\\\?\\UNC\\%s\\pkgstage", full + 2);
  } else if (full[1] == ':' && full[2] == '\\') {
    written = snprintf(out, room, "\\\\?\\%s\\pkgstage", full);
  }
  return written > 0 && static_cast<size_t>(written) < room;
}

void CreateFolder(const char* path) {
  CreateDirectoryW(Wide(path).text, nullptr);
}

int IsFolder(const char* path, int allow_redirect) {
  DWORD attributes = GetFileAttributesW(Wide(path).text);
  if (attributes == INVALID_FILE_ATTRIBUTES) return 0;
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return 0;
  return allow_redirect || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

FileHandle OpenForRead(const char* path) {
  HANDLE file = CreateFileW(Wide(path).text, GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return kNoFile;
  if (GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    return kNoFile;
  }
  return FromHandle(file);
}

int FileSize(FileHandle file, uint64_t* size) {
  LARGE_INTEGER value;
  if (!GetFileSizeEx(AsHandle(file), &value)) return 0;
  *size = static_cast<uint64_t>(value.QuadPart);
  return 1;
}

long ReadSome(FileHandle file, void* buffer, size_t room) {
  DWORD got = 0;
  DWORD want = room > 0x40000000 ? 0x40000000 : static_cast<DWORD>(room);
  if (!ReadFile(AsHandle(file), buffer, want, &got, nullptr)) return -1;
  return static_cast<long>(got);
}

int Rewind(FileHandle file) {
  LARGE_INTEGER start;
  start.QuadPart = 0;
  return SetFilePointerEx(AsHandle(file), start, nullptr, FILE_BEGIN) ? 1 : 0;
}

void CloseFile(FileHandle file) {
  if (file != kNoFile) CloseHandle(AsHandle(file));
}

FileHandle TakeLock(const char* path) {
  HANDLE file = CreateFileW(Wide(path).text, GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return kNoFile;
  OVERLAPPED whole;
  memset(&whole, 0, sizeof whole);
  if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
    CloseHandle(file);
    return kNoFile;
  }
  return FromHandle(file);
}

int CopyInto(FileHandle source, const char* source_path, const char* temp) {
  (void)source;
  // CopyFileW copies in the system, in constant memory. It also copies the
  // source's attributes, and a read-only copy could never be replaced later.
  if (!CopyFileW(Wide(source_path).text, Wide(temp).text, FALSE)) {
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return kSourceUnreadable;
    return kStoreFailed;
  }
  if (!SetFileAttributesW(Wide(temp).text, FILE_ATTRIBUTE_NORMAL)) return kStoreFailed;
  HANDLE copy = CreateFileW(Wide(temp).text, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (copy == INVALID_HANDLE_VALUE) return kStoreFailed;
  BOOL flushed = FlushFileBuffers(copy);
  CloseHandle(copy);
  return flushed ? kInstalled : kStoreFailed;
}

int ReplaceWith(const char* temp, const char* target) {
  return MoveFileExW(Wide(temp).text, Wide(target).text,
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
             ? 1
             : 0;
}

void RemoveFile(const char* path) {
  DeleteFileW(Wide(path).text);
}
