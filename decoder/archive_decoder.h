// Reads a 7z archive and writes its entries through a caller-supplied target.
// Portable: no platform calls here; the caller supplies file access.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Results are 0 for success or one of these failures; the values are those of
// the matching Windows system error codes, so a Windows caller can pass them on.
enum DecodeError : uint32_t {
  kDecodeOk = 0,
  kDecodeNoMemory = 8,        // ERROR_NOT_ENOUGH_MEMORY
  kDecodeBadArchive = 13,     // ERROR_INVALID_DATA: malformed, truncated or corrupt
  kDecodeCrcMismatch = 23,    // ERROR_CRC
  kDecodeReadFailed = 30,     // ERROR_READ_FAULT
  kDecodeUnsupported = 50,    // ERROR_NOT_SUPPORTED: method, encryption, feature
  kDecodeUnsafeName = 123,    // ERROR_INVALID_NAME: a name that could leave the folder
};

// The archive file: its size and a positional read.
struct ArchiveSource {
  void* context;
  uint64_t size;
  // Reads exactly `size` bytes at `offset`; 1 on success, 0 on any failure.
  int (*readAt)(void* context, uint64_t offset, void* buffer, size_t size);
};

// Where the entries go. Names are zero-terminated UTF-16, relative to the
// destination folder, elements separated by '\\', already checked to be safe.
// Each operation returns 0 or a system error code.
struct ExtractTarget {
  void* context;
  // Creates the folder and any missing parent folders.
  uint32_t (*makeFolder)(void* context, const uint16_t* name);
  // Creates or replaces the file (and its missing parent folders); *file receives its handle.
  uint32_t (*createFile)(void* context, const uint16_t* name, void** file);
  uint32_t (*writeFile)(void* context, void* file, const void* data, size_t size);
  // Closes the file; when keep is 0 the file is removed, because its content is wrong.
  uint32_t (*closeFile)(void* context, void* file, const uint16_t* name, int keep);
  // Called once a file is complete and its CRC matched, in archive order.
  uint32_t (*fileDone)(void* context, const uint16_t* name);
};

// Unpacks every entry of the archive in archive order. Every name is checked
// before anything is written; every CRC the archive carries is checked.
uint32_t extractArchive(const ArchiveSource* source, const ExtractTarget* target);
