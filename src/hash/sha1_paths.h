// The two implementations behind sha1_blocks: portable code (sha1_blocks.cpp)
// and the x86 SHA instructions (sha1_ni.cpp). Both compress `blocks`
// consecutive 64-byte blocks into `h` and give the same words.
#pragma once
#include <cstdint>

namespace quillon {
namespace sha1_paths {

void portable(uint32_t h[5], const unsigned char* data, uint32_t blocks);

// True when the processor has the SHA instructions (and SSSE3 and SSE4.1)
// and this build can use them.
bool has_sha_ni();
// Only where has_sha_ni() is true; elsewhere it is the portable code.
void sha_ni(uint32_t h[5], const unsigned char* data, uint32_t blocks);

}  // namespace sha1_paths
}  // namespace quillon
