// CRC-32 of ZIP entries (reflected polynomial 0xEDB88320, inverted in and out)
// and its table, which the traditional cipher shares.
#pragma once
#include <cstddef>
#include <cstdint>

namespace quillon {

// Entry n is the CRC of the single byte n, without the inversions.
extern const uint32_t crc_table[256];

// Folds `count` bytes into a running CRC and returns the new one. The CRC of
// no bytes is 0, and calls chain. A null pointer gives 0, whatever `crc` was.
uint32_t crc32(uint32_t crc, const unsigned char* bytes, size_t count);

}  // namespace quillon
