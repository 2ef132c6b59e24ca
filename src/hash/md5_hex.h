// MD5 digests as 32 lowercase hex digits.
#pragma once
#include <memory>

#include "hash/hex_digest.h"
#include "hash/md5.h"

namespace quillon {

class md5wrapper : public hashwrapper {
 public:
  md5wrapper();
  ~md5wrapper() override;

  // Leaves the context zeroed: a second hashIt without a reset does not
  // repeat the digest.
  std::string hashIt() override;
  std::string convToString(unsigned char* data) override;
  void updateContext(unsigned char* data, unsigned int len) override;
  void resetContext() override;

 private:
  std::unique_ptr<MD5> core;
  MD5_CTX context;  // set up by resetContext, which every digest starts with
};

}  // namespace quillon
