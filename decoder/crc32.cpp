#include "crc32.h"

namespace {

// Four tables let the loop fold four bytes per step: the CRC of a 100 MB
// package is on the unpacking path, so a byte-at-a-time loop would show.
struct CrcTables {
  uint32_t table[4][256];
};

constexpr CrcTables makeTables() {
  CrcTables t = {};
  for (uint32_t i = 0; i < 256; i++) {
    uint32_t r = i;
    for (int k = 0; k < 8; k++) r = (r >> 1) ^ (0xEDB88320u & (0u - (r & 1)));
    t.table[0][i] = r;
  }
  for (uint32_t i = 0; i < 256; i++) {
    for (int k = 1; k < 4; k++) {
      uint32_t prev = t.table[k - 1][i];
      t.table[k][i] = (prev >> 8) ^ t.table[0][prev & 0xFF];
    }
  }
  return t;
}

constexpr CrcTables kTables = makeTables();

}  // namespace

uint32_t crc32Update(uint32_t crc, const void* data, size_t size) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  uint32_t c = ~crc;
  while (size >= 4) {
    c ^= static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
    c = kTables.table[3][c & 0xFF] ^ kTables.table[2][(c >> 8) & 0xFF] ^
        kTables.table[1][(c >> 16) & 0xFF] ^ kTables.table[0][c >> 24];
    p += 4;
    size -= 4;
  }
  while (size > 0) {
    c = kTables.table[0][(c ^ *p) & 0xFF] ^ (c >> 8);
    p++;
    size--;
  }
  return ~c;
}
