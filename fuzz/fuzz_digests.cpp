// Digests of arbitrary input fed in arbitrary pieces: MD5 and SHA-1 must give
// the same digest as one whole feed, and SHA-1's two block paths must agree.
// The first bytes of the input choose the piece sizes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "hash/md5.h"
#include "hash/sha1.h"

namespace {

void md5(const uint8_t* data, size_t size, const std::vector<size_t>& pieces, unsigned char out[16]) {
  quillon::Md5 e;
  quillon::MD5_CTX c;
  e.MD5Init(&c);
  for (size_t at = 0, k = 0; at < size; ++k) {
    const size_t n = std::min(pieces[k % pieces.size()], size - at);
    e.MD5Update(&c, data + at, static_cast<unsigned>(n));
    at += n;
  }
  e.MD5Final(out, &c);
}

void sha1(const uint8_t* data, size_t size, const std::vector<size_t>& pieces, unsigned char out[20]) {
  quillon::Sha1 e;
  quillon::SHA1_CTX c;
  e.SHA1Reset(&c);
  for (size_t at = 0, k = 0; at < size; ++k) {
    const size_t n = std::min(pieces[k % pieces.size()], size - at);
    if (e.SHA1Input(&c, data + at, static_cast<unsigned>(n)) != 0) std::abort();
    at += n;
  }
  if (e.SHA1Result(&c, out) != 0) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<size_t> pieces;
  while (size > 0 && pieces.size() < 4) {
    pieces.push_back(1 + data[0] % 130);
    ++data;
    --size;
  }
  if (pieces.empty()) pieces.push_back(1);
  const std::vector<size_t> whole = {size ? size : 1};

  unsigned char a[20], b[20];
  md5(data, size, whole, a);
  md5(data, size, pieces, b);
  if (std::memcmp(a, b, 16) != 0) std::abort();

  quillon::sha1_use_hardware(true);
  sha1(data, size, whole, a);
  sha1(data, size, pieces, b);
  if (std::memcmp(a, b, 20) != 0) std::abort();
  quillon::sha1_use_hardware(false);
  sha1(data, size, pieces, b);
  if (std::memcmp(a, b, 20) != 0) std::abort();
  return 0;
}
