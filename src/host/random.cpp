#include "host/random.h"

namespace quillon {
namespace {
uint32_t state = 1;
}

void srand(uint32_t seed) { state = seed; }

int rand() {
  state = state * 214013u + 2531011u;
  return static_cast<int>((state >> 16) & 0x7FFF);
}

}  // namespace quillon
