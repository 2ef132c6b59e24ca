// SHA-1 digests as 40 lowercase hex digits.
#pragma once
#include "hash/hex_digest.h"
#include "hash/sha1.h"

namespace quillon {

class Sha1Hex : public HexDigest {
 public:
  // A second hashIt without a reset repeats the digest.
  std::string hashIt() override;
  std::string convToString(unsigned char* data) override;
  void updateContext(unsigned char* data, unsigned int len) override;
  void resetContext() override;

 private:
  Sha1 core;
  SHA1_CTX context;  // set up by resetContext, which every digest starts with
};

}  // namespace quillon
