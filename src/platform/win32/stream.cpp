// platform/stream.h on Windows: the runtime's own fopen.
#include "platform/stream.h"

namespace qp {

FILE* open_stream(const char* path, const char* mode) {
  if (path == nullptr || mode == nullptr) return nullptr;
  return std::fopen(path, mode);
}

}  // namespace qp
