// platform/pathname.h on POSIX systems, where no file name is a device and names differ byte by byte.
#include "platform/pathname.h"

#include <limits.h>

namespace qp {

bool is_device_name(const char*, size_t) { return false; }

bool is_dot_step(const char* step, size_t len) {
  return (len == 1 && step[0] == '.') || (len == 2 && step[0] == '.' && step[1] == '.');
}

size_t drive_prefix_length(const char*, size_t) { return 0; }

void use_system_separators(std::string* path) {
  for (char& c : *path)
    if (c == '\\') c = '/';
}

size_t longest_path() { return PATH_MAX - 1; }

size_t longest_step() { return NAME_MAX; }

size_t path_length(const char*, size_t n, bool) { return n; }

}  // namespace qp

namespace qp {

std::string step_identity(const char* step, size_t len) { return std::string(step, len); }

bool step_may_be_alias(const char*, size_t) { return false; }

}  // namespace qp
