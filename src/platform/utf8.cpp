// platform/text.h on every system: the UTF-8 checks, which need no system call.
#include <cstdint>

#include "platform/text.h"

namespace qp {

namespace {

// Length of the well-formed sequence at s (n bytes available), 0 when the
// bytes there are not one.
size_t sequence_length(const unsigned char* s, size_t n) {
  const unsigned char c = s[0];
  if (c < 0x80) return 1;
  size_t len;
  uint32_t lo = 0x80, hi = 0xBF;  // the allowed range of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    len = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    len = 3;
    if (c == 0xE0) lo = 0xA0;  // no overlong forms
    if (c == 0xED) hi = 0x9F;  // no surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    len = 4;
    if (c == 0xF0) lo = 0x90;  // no overlong forms
    if (c == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
  } else {
    return 0;
  }
  if (n < len) return 0;
  if (s[1] < lo || s[1] > hi) return 0;
  for (size_t i = 2; i < len; ++i)
    if (s[i] < 0x80 || s[i] > 0xBF) return 0;
  return len;
}

}  // namespace

bool is_valid_utf8(const char* s, size_t n) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(s);
  size_t i = 0;
  while (i < n) {
    const size_t len = sequence_length(p + i, n - i);
    if (len == 0) return false;
    i += len;
  }
  return true;
}

size_t utf16_length(const char* utf8, size_t n) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(utf8);
  size_t units = 0;
  for (size_t i = 0; i < n; ++i) {
    if ((p[i] & 0xC0) != 0x80) units += 1;  // a lead byte starts a character
    if (p[i] >= 0xF0) units += 1;           // four-byte forms take a surrogate pair
  }
  return units;
}

}  // namespace qp
