// The runtime's pseudo-random generator as the Windows C runtime has it
// (rand and srand): 15-bit values from its linear-congruential step, so every
// build draws the same sequence from one seed. Key files and archive
// encryption headers take their bytes from it. One portable implementation
// (random.cpp) serves every system.
#pragma once
#include <cstdint>

namespace qp {

// Starts a new sequence. The generator starts as if seeded with 1.
void seed_random(uint32_t seed);

// The next value, 0 to 32767.
int next_random();

}  // namespace qp
