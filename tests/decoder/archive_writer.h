// A minimal 7z writer for tests: one Copy folder, a plain header. It writes
// archives the 7z tool refuses to make, such as entries with unsafe names.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

struct WriterEntry {
  std::wstring name;  // stored as given, separators included
  std::string data;   // empty with isDir false: an empty file
  bool isDir;
};

// The archive's bytes. When wrongCrc is set, the first file with data carries a
// CRC that does not match it.
std::string writeCopyArchive(const std::vector<WriterEntry>& entries, bool wrongCrc);

uint32_t testCrc32(const std::string& data);
