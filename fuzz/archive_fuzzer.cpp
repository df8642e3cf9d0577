// libFuzzer target for the 7z archive reader: any input must end in a result,
// never a crash, a hang or an unbounded allocation. Entries go nowhere; the
// decoding and every CRC check still run.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "archive_decoder.h"
#include "crc32.h"

namespace {

struct MemorySource {
  const uint8_t* data;
  size_t size;
};

int readAt(void* context, uint64_t offset, void* buffer, size_t size) {
  const MemorySource* m = static_cast<const MemorySource*>(context);
  if (offset > m->size || size > m->size - offset) return 0;
  memcpy(buffer, m->data + offset, size);
  return 1;
}

uint32_t makeFolder(void*, const uint16_t*) { return 0; }

uint32_t createFile(void* context, const uint16_t*, void** file) {
  *file = context;
  return 0;
}

uint32_t writeFile(void*, void*, const void*, size_t) { return 0; }

uint32_t closeFile(void*, void*, const uint16_t*, int) { return 0; }

uint32_t fileDone(void*, const uint16_t*) { return 0; }

void putLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; i++) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint64_t getLe64(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; i--) v = v << 8 | p[i];
  return v;
}

// A mutated header almost never keeps a matching CRC, which would stop nearly
// every input at the first check. Unless the minor version byte has its top bit
// set, the header CRCs are made to match so that the parser itself is explored.
void fixHeaderCrcs(uint8_t* data, size_t size) {
  if (size < 32 || (data[7] & 0x80)) return;
  uint64_t offset = getLe64(data + 12);
  uint64_t length = getLe64(data + 20);
  if (offset <= size - 32 && length <= size - 32 - offset)
    putLe32(data + 28, crc32Update(0, data + 32 + offset, static_cast<size_t>(length)));
  putLe32(data + 8, crc32Update(0, data + 12, 20));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
  uint8_t* data = static_cast<uint8_t*>(malloc(size == 0 ? 1 : size));
  if (!data) return 0;
  memcpy(data, input, size);
  fixHeaderCrcs(data, size);
  MemorySource memory = {data, size};
  int sink = 0;
  ArchiveSource source = {&memory, size, readAt};
  ExtractTarget target = {&sink, makeFolder, createFile, writeFile, closeFile, fileDone};
  extractArchive(&source, &target);
  free(data);
  return 0;
}
