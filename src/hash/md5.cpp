// The MD5 message digest.
//
// What: Ron Rivest's digest of RFC 1321: any message to 128 bits. The
// message is padded (a one bit, zeros, and its length in bits as a 64-bit
// little-endian number, so that it ends on a 64-byte boundary) and cut into
// 64-byte blocks; each block is compressed into a state of four 32-bit words,
// and the final state, written little-endian, is the digest. The library
// offers it as lowercase hex text for hosts that compare files and texts;
// MD5 is long broken for collision resistance and is no protection against
// someone who forges input on purpose.
//
// How the compression goes: sixty-four steps in four rounds of sixteen, each
// step a = b + rotl(a + f(b, c, d) + X[k] + T[i], s), with a round function
// f (F, G, H, I), a message word X[k] in a round-specific order, a constant
// T[i] from the sine function and a rotation s. The four words change roles
// each step, which the step macros express by rotating their arguments
// rather than moving values.
//
// How it is fast: the round functions are written in forms equal to the
// RFC's bit for bit that need fewer operations after b arrives (b is the
// result of the previous step, c and d are older), so more of each step
// overlaps the one before. Message words are decoded straight from the
// caller's block as each step needs them: no sixteen-word copy, no alignment
// requirement, and the compiler makes each a single load where the processor
// allows it. MD5Update compresses whole blocks directly from the caller's
// buffer and copies only the partial block at either end.
//
// The class keeps the shape of the RFC's reference interface (MD5Init,
// MD5Update, MD5Final on a context) because the wrapper classes are written
// against it; MD5Final wipes the context, as the reference does.
#include "hash/md5.h"

namespace quillon {
namespace {

const unsigned char PADDING[64] = {0x80};

inline uint32_t rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

// Little-endian word k of the block, assembled byte by byte so the block
// needs no alignment; compilers make this one load where the processor
// allows it.
inline uint32_t word(const unsigned char* block, int k) {
  const unsigned char* p = block + 4 * k;
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

// The four round functions, written so that as much of each as possible
// depends only on c and d, which are ready a step before b: F and I need two
// operations after b arrives, G and H one. Each equals the RFC's form bit for
// bit (G's two terms never share a bit, so adding them is or-ing them).
#define MD5_F(b, c, d) ((((c) ^ (d)) & (b)) ^ (d))
#define MD5_H(b, c, d) ((b) ^ (c) ^ (d))
#define MD5_I(b, c, d) ((c) ^ ((b) | ~(d)))

#define STEP_F(a, b, c, d, k, s, t) a = b + rotl(a + (word(x, k) + t) + MD5_F(b, c, d), s)
#define STEP_G(a, b, c, d, k, s, t) a = b + rotl(a + (word(x, k) + t) + (c & ~d) + (b & d), s)
#define STEP_H(a, b, c, d, k, s, t) a = b + rotl(a + (word(x, k) + t) + MD5_H(b, c, d), s)
#define STEP_I(a, b, c, d, k, s, t) a = b + rotl(a + (word(x, k) + t) + MD5_I(b, c, d), s)

// The message words are decoded from the block as each step needs them,
// straight into the sums: no copy of the message stays behind in memory.
void compress(uint32_t state[4], const unsigned char* x) {
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];

  STEP_F(a, b, c, d, 0, 7, 0xd76aa478);
  STEP_F(d, a, b, c, 1, 12, 0xe8c7b756);
  STEP_F(c, d, a, b, 2, 17, 0x242070db);
  STEP_F(b, c, d, a, 3, 22, 0xc1bdceee);
  STEP_F(a, b, c, d, 4, 7, 0xf57c0faf);
  STEP_F(d, a, b, c, 5, 12, 0x4787c62a);
  STEP_F(c, d, a, b, 6, 17, 0xa8304613);
  STEP_F(b, c, d, a, 7, 22, 0xfd469501);
  STEP_F(a, b, c, d, 8, 7, 0x698098d8);
  STEP_F(d, a, b, c, 9, 12, 0x8b44f7af);
  STEP_F(c, d, a, b, 10, 17, 0xffff5bb1);
  STEP_F(b, c, d, a, 11, 22, 0x895cd7be);
  STEP_F(a, b, c, d, 12, 7, 0x6b901122);
  STEP_F(d, a, b, c, 13, 12, 0xfd987193);
  STEP_F(c, d, a, b, 14, 17, 0xa679438e);
  STEP_F(b, c, d, a, 15, 22, 0x49b40821);

  STEP_G(a, b, c, d, 1, 5, 0xf61e2562);
  STEP_G(d, a, b, c, 6, 9, 0xc040b340);
  STEP_G(c, d, a, b, 11, 14, 0x265e5a51);
  STEP_G(b, c, d, a, 0, 20, 0xe9b6c7aa);
  STEP_G(a, b, c, d, 5, 5, 0xd62f105d);
  STEP_G(d, a, b, c, 10, 9, 0x02441453);
  STEP_G(c, d, a, b, 15, 14, 0xd8a1e681);
  STEP_G(b, c, d, a, 4, 20, 0xe7d3fbc8);
  STEP_G(a, b, c, d, 9, 5, 0x21e1cde6);
  STEP_G(d, a, b, c, 14, 9, 0xc33707d6);
  STEP_G(c, d, a, b, 3, 14, 0xf4d50d87);
  STEP_G(b, c, d, a, 8, 20, 0x455a14ed);
  STEP_G(a, b, c, d, 13, 5, 0xa9e3e905);
  STEP_G(d, a, b, c, 2, 9, 0xfcefa3f8);
  STEP_G(c, d, a, b, 7, 14, 0x676f02d9);
  STEP_G(b, c, d, a, 12, 20, 0x8d2a4c8a);

  STEP_H(a, b, c, d, 5, 4, 0xfffa3942);
  STEP_H(d, a, b, c, 8, 11, 0x8771f681);
  STEP_H(c, d, a, b, 11, 16, 0x6d9d6122);
  STEP_H(b, c, d, a, 14, 23, 0xfde5380c);
  STEP_H(a, b, c, d, 1, 4, 0xa4beea44);
  STEP_H(d, a, b, c, 4, 11, 0x4bdecfa9);
  STEP_H(c, d, a, b, 7, 16, 0xf6bb4b60);
  STEP_H(b, c, d, a, 10, 23, 0xbebfbc70);
  STEP_H(a, b, c, d, 13, 4, 0x289b7ec6);
  STEP_H(d, a, b, c, 0, 11, 0xeaa127fa);
  STEP_H(c, d, a, b, 3, 16, 0xd4ef3085);
  STEP_H(b, c, d, a, 6, 23, 0x04881d05);
  STEP_H(a, b, c, d, 9, 4, 0xd9d4d039);
  STEP_H(d, a, b, c, 12, 11, 0xe6db99e5);
  STEP_H(c, d, a, b, 15, 16, 0x1fa27cf8);
  STEP_H(b, c, d, a, 2, 23, 0xc4ac5665);

  STEP_I(a, b, c, d, 0, 6, 0xf4292244);
  STEP_I(d, a, b, c, 7, 10, 0x432aff97);
  STEP_I(c, d, a, b, 14, 15, 0xab9423a7);
  STEP_I(b, c, d, a, 5, 21, 0xfc93a039);
  STEP_I(a, b, c, d, 12, 6, 0x655b59c3);
  STEP_I(d, a, b, c, 3, 10, 0x8f0ccc92);
  STEP_I(c, d, a, b, 10, 15, 0xffeff47d);
  STEP_I(b, c, d, a, 1, 21, 0x85845dd1);
  STEP_I(a, b, c, d, 8, 6, 0x6fa87e4f);
  STEP_I(d, a, b, c, 15, 10, 0xfe2ce6e0);
  STEP_I(c, d, a, b, 6, 15, 0xa3014314);
  STEP_I(b, c, d, a, 13, 21, 0x4e0811a1);
  STEP_I(a, b, c, d, 4, 6, 0xf7537e82);
  STEP_I(d, a, b, c, 11, 10, 0xbd3af235);
  STEP_I(c, d, a, b, 2, 15, 0x2ad7d2bb);
  STEP_I(b, c, d, a, 9, 21, 0xeb86d391);

  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
}

}  // namespace

void Md5::MD5Init(MD5_CTX* context) {
  context->count[0] = context->count[1] = 0;
  context->state[0] = 0x67452301;
  context->state[1] = 0xefcdab89;
  context->state[2] = 0x98badcfe;
  context->state[3] = 0x10325476;
}

void Md5::MD5Update(MD5_CTX* context, const unsigned char* input, unsigned int len) {
  unsigned int index = (context->count[0] >> 3) & 0x3F;

  const uint32_t bits = static_cast<uint32_t>(len) << 3;
  if ((context->count[0] += bits) < bits) context->count[1]++;
  context->count[1] += static_cast<uint32_t>(len) >> 29;

  const unsigned int part = 64 - index;
  unsigned int i;
  if (len >= part) {
    MD5_memcpy(&context->buffer[index], input, part);
    MD5Transform(context->state, context->buffer);
    // Whole blocks go straight from the caller's bytes.
    for (i = part; i + 63 < len; i += 64) MD5Transform(context->state, &input[i]);
    index = 0;
  } else {
    i = 0;
  }
  MD5_memcpy(&context->buffer[index], &input[i], len - i);
}

void Md5::MD5Final(unsigned char digest[16], MD5_CTX* context) {
  unsigned char bits[8];
  Encode(bits, context->count, 8);

  const unsigned int index = (context->count[0] >> 3) & 0x3F;
  const unsigned int pad = index < 56 ? 56 - index : 120 - index;
  MD5Update(context, PADDING, pad);
  MD5Update(context, bits, 8);

  Encode(digest, context->state, 16);
  MD5_memset(reinterpret_cast<unsigned char*>(context), 0, sizeof *context);
}

void Md5::MD5Transform(uint32_t state[4], const unsigned char block[64]) { compress(state, block); }

void Md5::Encode(unsigned char* output, const uint32_t* input, unsigned int len) {
  for (unsigned int i = 0, j = 0; j < len; i++, j += 4) {
    output[j] = static_cast<unsigned char>(input[i] & 0xFF);
    output[j + 1] = static_cast<unsigned char>((input[i] >> 8) & 0xFF);
    output[j + 2] = static_cast<unsigned char>((input[i] >> 16) & 0xFF);
    output[j + 3] = static_cast<unsigned char>((input[i] >> 24) & 0xFF);
  }
}

// Assembled byte by byte, so the input needs no alignment; compilers turn
// this into one load per word where the processor allows it.
void Md5::Decode(uint32_t* output, const unsigned char* input, unsigned int len) {
  for (unsigned int i = 0, j = 0; j < len; i++, j += 4)
    output[i] = static_cast<uint32_t>(input[j]) | (static_cast<uint32_t>(input[j + 1]) << 8) |
                (static_cast<uint32_t>(input[j + 2]) << 16) | (static_cast<uint32_t>(input[j + 3]) << 24);
}

void Md5::MD5_memcpy(unsigned char* output, const unsigned char* input, unsigned int len) {
  for (unsigned int i = 0; i < len; i++) output[i] = input[i];
}

void Md5::MD5_memset(unsigned char* output, int value, unsigned int len) {
  for (unsigned int i = 0; i < len; i++) output[i] = static_cast<unsigned char>(value);
}

}  // namespace quillon
