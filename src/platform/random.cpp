// platform/random.h on every system: the generator needs no system call.
#include "platform/random.h"

namespace qp {
namespace {
uint32_t state = 1;
}

void seed_random(uint32_t seed) { state = seed; }

int next_random() {
  state = state * 214013u + 2531011u;
  return static_cast<int>((state >> 16) & 0x7FFF);
}

}  // namespace qp
