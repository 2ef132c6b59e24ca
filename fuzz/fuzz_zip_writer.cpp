// The archive writer on arbitrary names, sizes, passwords and block sizes:
// nothing may be written outside the memory block, and whenever the writer
// reports success the block must end in a consistent end record.
//
// Input: byte 0 options (bit 0 password), bytes 1-2 the block size, then
// items: a kind byte (folder when odd), a name length byte (doubled), the
// name, a two-byte data length and the data.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "zip/api/close_handle.h"
#include "zip/write/writer.h"

using namespace quillon;

namespace {

struct Reader {
  const uint8_t* p;
  size_t n;
  bool take(size_t k, const uint8_t** out) {
    if (k > n) return false;
    *out = p;
    p += k;
    n -= k;
    return true;
  }
};

uint32_t le(const char* b, int k) {
  uint32_t v = 0;
  for (int i = k - 1; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(b[i]);
  return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const bool password = data[0] & 1;
  const uint32_t block_size = (uint32_t(data[1]) | uint32_t(data[2]) << 8) + 1;
  Reader in{data + 3, size - 3};
  std::vector<char> block(block_size);
  HZIP hz = CreateZip(block.data(), block_size, password ? "fuzz" : nullptr);
  if (hz == nullptr) std::abort();
  unsigned added = 0;
  const uint8_t* b;
  while (in.take(2, &b)) {
    const bool folder = b[0] & 1;
    const size_t name_len = size_t(b[1]) * 2;
    const uint8_t* name_bytes;
    if (!in.take(name_len, &name_bytes)) break;
    std::string name(reinterpret_cast<const char*>(name_bytes), name_len);
    name = name.c_str();  // up to the first zero byte, as a C text
    ZIPRESULT r;
    if (folder) {
      r = ZipAddFolder(hz, name.c_str());
    } else {
      const uint8_t* len_bytes;
      if (!in.take(2, &len_bytes)) break;
      const size_t len = size_t(len_bytes[0]) | size_t(len_bytes[1]) << 8;
      const uint8_t* item;
      if (!in.take(len, &item)) break;
      r = ZipAdd(hz, name.c_str(), item, uint32_t(len));
    }
    if (r == ZIPR_OK) ++added;
  }
  void* p = nullptr;
  uint32_t n = 0;
  const ZIPRESULT r = ZipGetMemory(hz, &p, &n);
  if (p != block.data() || n >= block_size) std::abort();
  if (r == ZIPR_OK) {
    const char* end = block.data() + n - 22;
    if (n < 22 || le(end, 4) != 0x06054B50u || le(end + 8, 2) != (added & 0xFFFF) ||
        le(end + 12, 4) + le(end + 16, 4) != n - 22)
      std::abort();
  } else if (r != ZIPR_MEMORYFULL) {
    std::abort();
  }
  if (CloseZipZ(hz) != r) std::abort();
  return 0;
}
