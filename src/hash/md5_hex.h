// MD5 digests as 32 lowercase hex digits.
#pragma once
#include "hash/hex_digest.h"
#include "hash/md5.h"

namespace quillon {

class Md5Hex : public HexDigest {
 public:
  // Leaves the context zeroed: a second hashIt without a reset does not
  // repeat the digest.
  std::string hashIt() override;
  std::string convToString(unsigned char* data) override;
  void updateContext(unsigned char* data, unsigned int len) override;
  void resetContext() override;

 private:
  Md5 core;
  MD5_CTX context;  // set up by resetContext, which every digest starts with
};

}  // namespace quillon
