// The two ways crc32 computes: the portable table path, and
// carry-less multiplication (PCLMULQDQ) where the processor has it. They give
// the same results; the fast one is chosen once, at run time.
#pragma once
#include <cstddef>
#include <cstdint>

namespace quillon {
namespace crc_paths {

uint32_t portable(uint32_t crc, const unsigned char* bytes, size_t count);

// True when the processor multiplies carry-less and this build can use it.
bool has_clmul();
// Only where has_clmul() is true.
uint32_t clmul(uint32_t crc, const unsigned char* bytes, size_t count);

// The two paths on the raw register, without the inversions at the edges and
// without the null check. raw_update is the table path (crc32.cpp);
// clmul_raw is the carry-less path (crc32_clmul.cpp), which hands short
// inputs and its last bytes to raw_update, and is raw_update itself where the
// processor or the build has no carry-less multiply.
uint32_t raw_update(uint32_t state, const unsigned char* bytes, size_t count);
uint32_t clmul_raw(uint32_t state, const unsigned char* bytes, size_t count);

}  // namespace crc_paths
}  // namespace quillon
