#include "hash/md5_hex.h"

namespace quillon {

md5wrapper::md5wrapper() : core(new MD5) {}
md5wrapper::~md5wrapper() = default;

std::string md5wrapper::hashIt() {
  unsigned char digest[16];
  core->MD5Final(digest, &context);
  return convToString(digest);
}

std::string md5wrapper::convToString(unsigned char* data) { return hex(data, 16); }

void md5wrapper::updateContext(unsigned char* data, unsigned int len) { core->MD5Update(&context, data, len); }

void md5wrapper::resetContext() { core->MD5Init(&context); }

}  // namespace quillon
