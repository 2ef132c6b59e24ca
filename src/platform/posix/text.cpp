#include "platform/text.h"

namespace qp {

std::string system_to_utf8(const char* text) { return text ? std::string(text) : std::string(); }

bool utf8_to_system(const char* utf8, std::string* out) {
  *out = utf8 ? utf8 : "";
  return true;
}

}  // namespace qp
