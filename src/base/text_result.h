// Library-owned storage for texts handed back to the host.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

namespace quillon {

// One slot per export that returns text. The text stays valid until the same
// slot is set again, which is at the export's next call at the earliest; the
// host copies it before then and never frees it.
class TextResult {
 public:
  // Copies n bytes and a terminating zero into the slot.
  char* set(const char* data, size_t n) {
    buffer_.resize(n + 1);
    if (n) std::char_traits<char>::copy(buffer_.data(), data, n);
    buffer_[n] = '\0';
    return buffer_.data();
  }
  char* set(const std::string& text) { return set(text.data(), text.size()); }

 private:
  std::vector<char> buffer_;
};

}  // namespace quillon
