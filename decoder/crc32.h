// CRC-32 (the IEEE polynomial, reflected) as 7z archives carry it.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Continues a CRC over more bytes; start with 0, the result is the CRC of all bytes so far.
uint32_t crc32Update(uint32_t crc, const void* data, size_t size);
