#include "hash/md5_hex.h"

namespace quillon {

std::string Md5Hex::hashIt() {
  unsigned char digest[16];
  core.MD5Final(digest, &context);
  return convToString(digest);
}

std::string Md5Hex::convToString(unsigned char* data) { return hex(data, 16); }

void Md5Hex::updateContext(unsigned char* data, unsigned int len) { core.MD5Update(&context, data, len); }

void Md5Hex::resetContext() { core.MD5Init(&context); }

}  // namespace quillon
