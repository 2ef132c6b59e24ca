// The SHA-1 message digest: buffering, length count and padding.
//
// What: the 160-bit digest of FIPS 180-4, in the interface of the reference
// code of RFC 3174 (SHA1Reset, SHA1Input, SHA1Result on a context, with
// result codes). The message is padded with a one bit, zeros and its length
// in bits as a 64-bit big-endian number to a multiple of 64 bytes; each block
// goes through the compression function of sha1_blocks.cpp; the five state
// words, big-endian, are the digest. As with MD5, the library offers it as
// hex text for comparing data, not as protection against forged collisions.
//
// Why this shape: the wrapper classes and the tests were written against the
// reference interface, including its error behaviour: input after the digest
// was taken marks the context with a state error, and a message longer than
// 2^64 - 1 bits marks it corrupted. Those outcomes are kept exactly.
//
// How it is fast: the reference takes input one byte at a time, counting
// bits and testing for a full block after each byte. SHA1Input instead takes
// runs: when the block buffer is empty it hands every whole block straight
// from the caller's memory to the compression, several at a time, and
// otherwise it copies as much as fits into the buffer at once. A run never
// spans the moment the 32-bit low half of the length count wraps, so that
// byte still goes through the byte-wise step and carries into the high half
// exactly as before; the context ends every call in the state the byte-wise
// code would leave.
#include "hash/sha1.h"

#include <cstring>

namespace quillon {

void Sha1::SHA1ProcessMessageBlock(SHA1_CTX* context) {
  sha1_blocks(context->intermediateHash, context->messageBlock, 1);
  context->messageBlockIndex = 0;
}

int Sha1::SHA1Reset(SHA1_CTX* context) {
  if (context == nullptr) return shaNull;
  context->lengthLow = 0;
  context->lengthHigh = 0;
  context->messageBlockIndex = 0;
  context->intermediateHash[0] = 0x67452301;
  context->intermediateHash[1] = 0xEFCDAB89;
  context->intermediateHash[2] = 0x98BADCFE;
  context->intermediateHash[3] = 0x10325476;
  context->intermediateHash[4] = 0xC3D2E1F0;
  context->computed = 0;
  context->corrupted = 0;
  return shaSuccess;
}

// Byte by byte, the length counter grows by 8 per byte and the context turns
// corrupted when the 64-bit count wraps to zero. Runs of bytes during which
// the low word cannot wrap are taken at once: a run that fills the block
// from its start is compressed straight from the caller's bytes, and the
// context ends exactly as the byte-wise steps would leave it.
int Sha1::SHA1Input(SHA1_CTX* context, const unsigned char* message, unsigned int length) {
  if (length == 0) return shaSuccess;
  if (context == nullptr || message == nullptr) return shaNull;
  if (context->computed) {
    context->corrupted = shaStateError;
    return shaStateError;
  }
  if (context->corrupted) return context->corrupted;

  while (length > 0 && !context->corrupted) {
    const uint32_t index = static_cast<uint32_t>(context->messageBlockIndex);
    const uint32_t room = 64 - index;
    // How many bytes the low word can count without wrapping.
    const uint32_t headroom = (0xFFFFFFFFu - context->lengthLow) / 8;

    if (index == 0 && length >= 64 && headroom >= 64) {
      uint32_t blocks = length / 64;
      if (blocks > headroom / 64) blocks = headroom / 64;
      sha1_blocks(context->intermediateHash, message, blocks);
      const uint32_t n = blocks * 64;
      // The block buffer holds the last block, as the byte-wise steps leave it.
      std::memcpy(context->messageBlock, message + n - 64, 64);
      context->lengthLow += n * 8;
      message += n;
      length -= n;
      continue;
    }

    uint32_t run = room < length ? room : length;
    if (run > headroom) run = headroom;
    if (run > 0) {
      std::memcpy(context->messageBlock + index, message, run);
      context->messageBlockIndex = static_cast<int16_t>(index + run);
      context->lengthLow += run * 8;
      message += run;
      length -= run;
    } else {
      // The next byte wraps the low word.
      context->messageBlock[context->messageBlockIndex++] = *message++;
      --length;
      context->lengthLow += 8;
      if (context->lengthLow == 0) {
        context->lengthHigh++;
        if (context->lengthHigh == 0) context->corrupted = shaNull;
      }
    }
    if (context->messageBlockIndex == 64) SHA1ProcessMessageBlock(context);
  }
  return shaSuccess;
}

void Sha1::SHA1PadMessage(SHA1_CTX* context) {
  if (context->messageBlockIndex > 55) {
    context->messageBlock[context->messageBlockIndex++] = 0x80;
    while (context->messageBlockIndex < 64) context->messageBlock[context->messageBlockIndex++] = 0;
    SHA1ProcessMessageBlock(context);
    while (context->messageBlockIndex < 56) context->messageBlock[context->messageBlockIndex++] = 0;
  } else {
    context->messageBlock[context->messageBlockIndex++] = 0x80;
    while (context->messageBlockIndex < 56) context->messageBlock[context->messageBlockIndex++] = 0;
  }
  for (int i = 0; i < 4; ++i) {
    context->messageBlock[56 + i] = static_cast<unsigned char>(context->lengthHigh >> (24 - 8 * i));
    context->messageBlock[60 + i] = static_cast<unsigned char>(context->lengthLow >> (24 - 8 * i));
  }
  SHA1ProcessMessageBlock(context);
}

int Sha1::SHA1Result(SHA1_CTX* context, unsigned char digest[20]) {
  if (context == nullptr || digest == nullptr) return shaNull;
  if (context->corrupted) return context->corrupted;
  if (!context->computed) {
    SHA1PadMessage(context);
    std::memset(context->messageBlock, 0, sizeof context->messageBlock);
    context->lengthLow = 0;
    context->lengthHigh = 0;
    context->computed = 1;
  }
  for (int i = 0; i < 20; ++i)
    digest[i] = static_cast<unsigned char>(context->intermediateHash[i >> 2] >> (8 * (3 - (i & 3))));
  return shaSuccess;
}

}  // namespace quillon
