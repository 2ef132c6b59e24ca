// MD5 (RFC 1321) in the shape of the RFC's reference code: the caller owns
// the context and passes it to every call; the engine keeps nothing itself.
#pragma once
#include <cstdint>

namespace quillon {

struct MD5_CTX {
  uint32_t state[4];         // chaining words A, B, C, D
  uint32_t count[2];         // message length in bits, modulo 2^64; low word first
  unsigned char buffer[64];  // input not yet processed: (count[0] / 8) % 64 bytes
};

class Md5 {
 public:
  void MD5Init(MD5_CTX* context);
  // Appends `len` bytes (0 changes nothing).
  void MD5Update(MD5_CTX* context, const unsigned char* input, unsigned int len);
  // Writes the 16-byte digest, then zeroes the whole context; it needs
  // MD5Init before it is used again.
  void MD5Final(unsigned char digest[16], MD5_CTX* context);

  // One compression of a 64-byte block into the state words. The message
  // words are decoded as they are used and leave no copy behind.
  void MD5Transform(uint32_t state[4], const unsigned char block[64]);
  // Words to little-endian bytes and back; `len` counts bytes (a multiple of 4).
  void Encode(unsigned char* output, const uint32_t* input, unsigned int len);
  void Decode(uint32_t* output, const unsigned char* input, unsigned int len);
  void MD5_memcpy(unsigned char* output, const unsigned char* input, unsigned int len);
  void MD5_memset(unsigned char* output, int value, unsigned int len);
};

}  // namespace quillon
