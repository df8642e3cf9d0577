#include "extract_files.h"

#include <windows.h>

#include <stdlib.h>

#include "archive_decoder.h"

namespace {

// The longest path the wide file functions take; longer names fail the step
// rather than being cut short.
const size_t kPathCapacity = 32768;

struct WinSource {
  HANDLE file;
};

struct WinTarget {
  wchar_t* path;  // the folder (with its trailing separator) and room for a name
  size_t folderLength;
  wchar_t* reported;
  UnpackedFileCallback callback;
};

int readAt(void* context, uint64_t offset, void* buffer, size_t size) {
  WinSource* s = static_cast<WinSource*>(context);
  uint8_t* p = static_cast<uint8_t*>(buffer);
  while (size > 0) {
    DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    if (!ReadFile(s->file, p, chunk, &got, &at) || got == 0) return 0;
    p += got;
    offset += got;
    size -= got;
  }
  return 1;
}

uint32_t lastError() {
  DWORD e = GetLastError();
  return e != 0 ? e : ERROR_WRITE_FAULT;
}

// Puts folder + name into t->path; the name's length in units, or 0 when too long.
size_t buildPath(WinTarget* t, const uint16_t* name) {
  size_t n = 0;
  while (name[n] != 0) n++;
  if (n >= kPathCapacity - t->folderLength) return 0;
  for (size_t i = 0; i <= n; i++) t->path[t->folderLength + i] = static_cast<wchar_t>(name[i]);
  return n;
}

uint32_t createOneFolder(const wchar_t* path) {
  if (CreateDirectoryW(path, nullptr)) return 0;
  DWORD e = GetLastError();
  if (e != ERROR_ALREADY_EXISTS) return e;
  DWORD attributes = GetFileAttributesW(path);
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
    return ERROR_ALREADY_EXISTS;
  return 0;
}

// Creates every folder of t->path below the destination up to `end` (exclusive).
uint32_t createFolders(WinTarget* t, size_t end) {
  for (size_t i = t->folderLength; i <= end; i++) {
    if (i != end && t->path[i] != L'\\') continue;
    wchar_t saved = t->path[i];
    t->path[i] = 0;
    uint32_t err = createOneFolder(t->path);
    t->path[i] = saved;
    if (err) return err;
  }
  return 0;
}

uint32_t makeFolder(void* context, const uint16_t* name) {
  WinTarget* t = static_cast<WinTarget*>(context);
  size_t n = buildPath(t, name);
  if (n == 0) return ERROR_FILENAME_EXCED_RANGE;
  return createFolders(t, t->folderLength + n);
}

uint32_t createFile(void* context, const uint16_t* name, void** file) {
  WinTarget* t = static_cast<WinTarget*>(context);
  size_t n = buildPath(t, name);
  if (n == 0) return ERROR_FILENAME_EXCED_RANGE;
  size_t lastSeparator = 0;
  for (size_t i = t->folderLength; i < t->folderLength + n; i++) {
    if (t->path[i] == L'\\') lastSeparator = i;
  }
  if (lastSeparator != 0) {
    uint32_t err = createFolders(t, lastSeparator);
    if (err) return err;
  }
  HANDLE h = CreateFileW(t->path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED) {
    // A read-only file of an earlier unpacking must still be replaced.
    DWORD attributes = GetFileAttributesW(t->path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
        !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
        SetFileAttributesW(t->path, attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY))) {
      h = CreateFileW(t->path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                      nullptr);
    }
  }
  if (h == INVALID_HANDLE_VALUE) return lastError();
  *file = h;
  return 0;
}

uint32_t writeFile(void*, void* file, const void* data, size_t size) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  while (size > 0) {
    DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(static_cast<HANDLE>(file), p, chunk, &written, nullptr) || written == 0)
      return lastError();
    p += written;
    size -= written;
  }
  return 0;
}

uint32_t closeFile(void* context, void* file, const uint16_t* name, int keep) {
  WinTarget* t = static_cast<WinTarget*>(context);
  uint32_t err = CloseHandle(static_cast<HANDLE>(file)) ? 0 : lastError();
  if (!keep && buildPath(t, name) != 0) DeleteFileW(t->path);
  return err;
}

uint32_t fileDone(void* context, const uint16_t* name) {
  WinTarget* t = static_cast<WinTarget*>(context);
  size_t i = 0;
  for (; name[i] != 0 && i + 1 < kPathCapacity; i++) t->reported[i] = static_cast<wchar_t>(name[i]);
  t->reported[i] = 0;
  t->callback(t->reported);
  return 0;
}

uint32_t extractPath(const wchar_t* archive, size_t length, UnpackedFileCallback callback,
                     wchar_t* path, wchar_t* reported) {
  WinSource source = {CreateFileW(archive, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr)};
  if (source.file == INVALID_HANDLE_VALUE) return lastError();
  LARGE_INTEGER size;
  uint32_t err = 0;
  if (!GetFileSizeEx(source.file, &size)) err = lastError();
  if (err == 0) {
    // The destination is the archive's folder: everything up to the last
    // separator, or a drive's "C:", or nothing for a bare file name.
    size_t folderLength = length;
    while (folderLength > 0 && archive[folderLength - 1] != L'\\' &&
           archive[folderLength - 1] != L'/' && archive[folderLength - 1] != L':')
      folderLength--;
    for (size_t i = 0; i < folderLength; i++) path[i] = archive[i];
    WinTarget target = {path, folderLength, reported, callback};
    ArchiveSource in = {&source, static_cast<uint64_t>(size.QuadPart), readAt};
    ExtractTarget out = {&target, makeFolder, createFile, writeFile, closeFile, fileDone};
    err = extractArchive(&in, &out);
  }
  CloseHandle(source.file);
  return err;
}

}  // namespace

extern "C" int __cdecl extractFiles(const char* archivePath, UnpackedFileCallback callback) {
  if (!archivePath || !callback) return ERROR_INVALID_PARAMETER;
  int length = MultiByteToWideChar(CP_ACP, 0, archivePath, -1, nullptr, 0);
  if (length <= 1 || static_cast<size_t>(length) >= kPathCapacity) return ERROR_BAD_PATHNAME;
  // One block for the archive path, the output path and the reported name.
  wchar_t* block = static_cast<wchar_t*>(malloc(3 * kPathCapacity * sizeof(wchar_t)));
  if (!block) return ERROR_NOT_ENOUGH_MEMORY;
  wchar_t* archive = block;
  uint32_t err = 0;
  if (MultiByteToWideChar(CP_ACP, 0, archivePath, -1, archive, length) != length) {
    err = ERROR_BAD_PATHNAME;
  } else {
    err = extractPath(archive, static_cast<size_t>(length - 1), callback, block + kPathCapacity,
                      block + 2 * kPathCapacity);
  }
  free(block);
  return static_cast<int>(err);
}
