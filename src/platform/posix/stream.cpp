#include "platform/stream.h"

#include <errno.h>
#include <sys/stat.h>

namespace qp {

FILE* open_stream(const char* path, const char* mode) {
  if (path == nullptr || mode == nullptr) return nullptr;
  FILE* f = std::fopen(path, mode);
  if (f == nullptr) return nullptr;
  struct stat st;
  if (fstat(fileno(f), &st) == 0 && S_ISDIR(st.st_mode)) {
    std::fclose(f);
    errno = EISDIR;
    return nullptr;
  }
  return f;
}

}  // namespace qp
