// The stand-in's file system operations on Windows, through the ANSI API.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "pkgstage.h"
#include "store.h"

const char kSeparator = '\\';

int IsSeparator(char c) {
  // "C:name" names a file relative to drive C's current folder.
  return c == '\\' || c == '/' || c == ':';
}

namespace {

HANDLE AsHandle(FileHandle file) {
  return reinterpret_cast<HANDLE>(file);
}

FileHandle FromHandle(HANDLE handle) {
  return handle == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<FileHandle>(handle);
}

int IsFolder(const char* path, int allow_redirect) {
  DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return 0;
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return 0;
  return allow_redirect || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

}  // namespace

int StoreFolder(char* out, size_t room) {
  // GetEnvironmentVariableA, not getenv: it sees what the process's
  // environment holds now, not the C runtime's copy taken at start-up.
  char base[kPathRoom];
  DWORD length = GetEnvironmentVariableA("LOCALAPPDATA", base, sizeof base);
  if (length == 0 || length >= sizeof base) return 0;
  int written = snprintf(out, room, "%s\\pkgstage", base);
  return written > 0 && static_cast<size_t>(written) < room;
}

int MakeFolders(const char* path) {
  char partial[kPathRoom];
  size_t length = strlen(path);
  if (length == 0 || length >= sizeof partial) return 0;
  memcpy(partial, path, length + 1);
  // Prefixes such as "C:" or "\\server" fail harmlessly; only the end counts.
  for (size_t i = 1; i < length; ++i) {
    if (partial[i] != '\\' && partial[i] != '/') continue;
    char kept = partial[i];
    partial[i] = '\0';
    CreateDirectoryA(partial, nullptr);
    partial[i] = kept;
  }
  CreateDirectoryA(partial, nullptr);
  return IsFolder(path, 1);
}

int MakeOwnFolder(const char* path) {
  CreateDirectoryA(path, nullptr);
  return IsFolder(path, 0);
}

FileHandle OpenForRead(const char* path) {
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
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
  HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE,
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
  // CopyFileA copies in the system, in constant memory. It also copies the
  // source's attributes, and a read-only copy could never be replaced later.
  if (!CopyFileA(source_path, temp, FALSE)) {
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return kSourceUnreadable;
    return kStoreFailed;
  }
  if (!SetFileAttributesA(temp, FILE_ATTRIBUTE_NORMAL)) return kStoreFailed;
  HANDLE copy = CreateFileA(temp, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (copy == INVALID_HANDLE_VALUE) return kStoreFailed;
  BOOL flushed = FlushFileBuffers(copy);
  CloseHandle(copy);
  return flushed ? kInstalled : kStoreFailed;
}

int ReplaceWith(const char* temp, const char* target) {
  return MoveFileExA(temp, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ? 1 : 0;
}

void RemoveFile(const char* path) {
  DeleteFileA(path);
}
