#include "hash/sha1_hex.h"

namespace quillon {

sha1wrapper::sha1wrapper() : core(new SHA1) {}
sha1wrapper::~sha1wrapper() = default;

// The engine's result codes are not examined: after a reset and input that
// fits in memory they are always 0.
std::string sha1wrapper::hashIt() {
  unsigned char digest[20];
  core->SHA1Result(&context, digest);
  return convToString(digest);
}

std::string sha1wrapper::convToString(unsigned char* data) { return hex(data, 20); }

void sha1wrapper::updateContext(unsigned char* data, unsigned int len) { core->SHA1Input(&context, data, len); }

void sha1wrapper::resetContext() { core->SHA1Reset(&context); }

}  // namespace quillon
