// platform/environment.h on POSIX systems: the C library's environment.
#include "platform/environment.h"

#include <stdlib.h>

namespace qp {

bool environment_value(const char* name, std::string* value) {
  const char* v = getenv(name);
  if (v == nullptr) return false;
  *value = v;
  return true;
}

}  // namespace qp
