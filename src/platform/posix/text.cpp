// platform/text.h on POSIX systems: names are bytes, so system texts and
// UTF-8 are the same texts.
#include <cstring>

#include "platform/text.h"

namespace qp {

bool system_text_is_utf8() { return true; }

std::string utf8_from_system(const char* text) { return text ? text : ""; }

bool system_from_utf8(const char* utf8, std::string* out, bool* exact) {
  out->clear();
  if (exact) *exact = true;
  if (utf8 == nullptr || !is_valid_utf8(utf8, std::strlen(utf8))) return false;
  *out = utf8;
  return true;
}

}  // namespace qp
