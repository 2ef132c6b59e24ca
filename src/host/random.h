// The library's pseudo-random generator behind key files and archive
// encryption headers: 15-bit values from the linear-congruential step of the
// Windows C runtime, so every build draws the same sequence from one seed.
#pragma once
#include <cstdint>

namespace quillon {

// Starts a new sequence. The generator starts as if seeded with 1.
void srand(uint32_t seed);

// The next value, 0 to 32767.
int rand();

}  // namespace quillon
