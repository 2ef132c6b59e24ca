// Digests as lowercase hexadecimal text: the base class holds the procedure
// (reset, feed, finish, format); each engine plugs in through four virtual
// operations.
#pragma once
#include <string>

namespace quillon {

class HexDigest {
 public:
  // Finishes the digest of everything fed since the last reset.
  virtual std::string hashIt() = 0;
  // Formats digest bytes, two lowercase hex digits each.
  virtual std::string convToString(unsigned char* data) = 0;
  virtual void updateContext(unsigned char* data, unsigned int len) = 0;
  virtual void resetContext() = 0;
  virtual ~HexDigest() = default;

  // The digest of every byte of `text`, no character-set conversion.
  virtual std::string getHashFromString(std::string text);
  // The digest of a file's bytes. Throws HashError (kHashFileReadError) when
  // the file cannot be opened; a read error ends the input where it happened.
  virtual std::string getHashFromFile(std::string filename);

 protected:
  // n bytes as 2n lowercase hex digits.
  static std::string hex(const unsigned char* data, unsigned int n);
};

}  // namespace quillon
