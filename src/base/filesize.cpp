#include "base/filesize.h"

#include <cstdint>

namespace quillon {

int32_t filesize(FILE* stream) {
  std::fseek(stream, 0, SEEK_END);
  long position = std::ftell(stream);
  std::fseek(stream, 0, SEEK_SET);
  if (position < 0 || position > INT32_MAX) return -1;
  return static_cast<int32_t>(position);
}

}  // namespace quillon
