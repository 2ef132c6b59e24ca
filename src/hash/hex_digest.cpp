#include "hash/hex_digest.h"

#include <cstdio>
#include <vector>

#include "hash/hash_error.h"
#include "platform/stream.h"

namespace quillon {

std::string HexDigest::getHashFromString(std::string text) {
  resetContext();
  updateContext(reinterpret_cast<unsigned char*>(&text[0]), static_cast<unsigned int>(text.length()));
  return hashIt();
}

std::string HexDigest::getHashFromFile(std::string filename) {
  resetContext();
  // A large stream buffer: the small chunks below then cost a copy each,
  // not a system call every few of them. It outlives the stream.
  std::vector<char> stream_buffer(1 << 18);
  qp::Stream file(qp::open_stream(filename.c_str(), "rb"));
  if (!file) throw HashError(kHashFileReadError, "Cannot read file \"" + filename + "\".");
  std::setvbuf(file.get(), stream_buffer.data(), _IOFBF, stream_buffer.size());
  unsigned char buffer[1024];
  for (;;) {
    const size_t n = std::fread(buffer, 1, sizeof buffer, file.get());
    if (n == 0) break;
    updateContext(buffer, static_cast<unsigned int>(n));
  }
  return hashIt();
}

std::string HexDigest::hex(const unsigned char* data, unsigned int n) {
  static const char digits[] = "0123456789abcdef";
  std::string out(2 * static_cast<size_t>(n), '0');
  for (unsigned int i = 0; i < n; ++i) {
    out[2 * i] = digits[data[i] >> 4];
    out[2 * i + 1] = digits[data[i] & 15];
  }
  return out;
}

}  // namespace quillon
