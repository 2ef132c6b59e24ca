// The two ways ucrc32 and crc32 compute: the portable table path, and
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

}  // namespace crc_paths
}  // namespace quillon
