#pragma once
#include <cstdint>
#include <cstdio>

namespace quillon {

// Byte size of an open stream, which is left at its first byte. -1 when the
// position cannot be taken (a pipe) or does not fit a 32-bit signed count.
int32_t filesize(FILE* stream);

}  // namespace quillon
