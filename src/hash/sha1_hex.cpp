#include "hash/sha1_hex.h"

namespace quillon {

// The engine's result codes are not examined: after a reset and input that
// fits in memory they are always 0.
std::string Sha1Hex::hashIt() {
  unsigned char digest[20];
  core.SHA1Result(&context, digest);
  return convToString(digest);
}

std::string Sha1Hex::convToString(unsigned char* data) { return hex(data, 20); }

void Sha1Hex::updateContext(unsigned char* data, unsigned int len) { core.SHA1Input(&context, data, len); }

void Sha1Hex::resetContext() { core.SHA1Reset(&context); }

}  // namespace quillon
