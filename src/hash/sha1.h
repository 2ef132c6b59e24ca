// SHA-1 (FIPS 180-1) in the shape of the reference code of RFC 3174: result
// codes, and a context that is computed once its digest was taken and
// corrupted once it was misused.
#pragma once
#include <cstdint>

namespace quillon {

enum {
  shaSuccess = 0,
  shaNull = 1,        // a null pointer; also the length counter overflowing
  shaStateError = 3,  // input after the digest was computed
};

struct SHA1_CTX {
  uint32_t intermediateHash[5];  // H0 to H4
  uint32_t lengthLow;            // message length in bits
  uint32_t lengthHigh;
  int16_t messageBlockIndex;  // bytes held in messageBlock
  unsigned char messageBlock[64];
  int computed;   // 1 once SHA1Result finished the digest
  int corrupted;  // 0, or the code that made the context unusable
};

class Sha1 {
 public:
  int SHA1Reset(SHA1_CTX* context);
  // Appends `length` bytes. 0 bytes: 0 at once, whatever the pointers.
  int SHA1Input(SHA1_CTX* context, const unsigned char* message, unsigned int length);
  // Finishes the message (once) and writes the 20-byte digest.
  int SHA1Result(SHA1_CTX* context, unsigned char digest[20]);

  void SHA1PadMessage(SHA1_CTX* context);
  void SHA1ProcessMessageBlock(SHA1_CTX* context);
};

// The block compression runs on the processor's SHA instructions where a
// run-time check finds them, otherwise on portable code; both give the same
// words. Compresses `blocks` consecutive 64-byte blocks into `h`.
void sha1_blocks(uint32_t h[5], const unsigned char* data, uint32_t blocks);

// For tests and benchmarks: whether the SHA instructions are there, and a
// switch between the two paths (false: portable). Returns the path in use.
bool sha1_hardware_available();
bool sha1_use_hardware(bool on);

}  // namespace quillon
