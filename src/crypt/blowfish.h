// The Blowfish block cipher: 64-bit blocks as two 32-bit words, 16 rounds,
// an 18-word subkey array and four key-dependent S-boxes. Only single-block
// operations: no chaining mode and no padding.
#pragma once
#include <cstdint>

namespace quillon {

struct BLOWFISH_CTX {
  uint32_t P[16 + 2];
  uint32_t S[4][256];
};

// The initial subkeys and S-boxes: the hexadecimal digits of pi.
extern const uint32_t ORIG_P[16 + 2];
extern const uint32_t ORIG_S[4][256];

// The Feistel function: ((S0[b3] + S1[b2]) ^ S2[b1]) + S3[b0].
inline uint32_t F(const BLOWFISH_CTX* ctx, uint32_t x) {
  uint32_t h = ctx->S[0][x >> 24] + ctx->S[1][(x >> 16) & 0xFF];
  return (h ^ ctx->S[2][(x >> 8) & 0xFF]) + ctx->S[3][x & 0xFF];
}

// Builds the whole schedule from key_len key bytes (at least 1; bytes past
// the 72nd take no part). Every word of ctx is overwritten.
void Blowfish_Init(BLOWFISH_CTX* ctx, const unsigned char* key, int key_len);

// Enciphers and deciphers the block (left, right) in place.
void Blowfish_Encrypt(const BLOWFISH_CTX* ctx, uint32_t* xl, uint32_t* xr);
void Blowfish_Decrypt(const BLOWFISH_CTX* ctx, uint32_t* xl, uint32_t* xr);

// The same for four independent blocks (xl[i], xr[i]) at once. One block is
// a chain of dependent table look-ups; four chains side by side keep the
// processor busy while each waits, so four cost little more than one.
void Blowfish_Encrypt4(const BLOWFISH_CTX* ctx, uint32_t xl[4], uint32_t xr[4]);
void Blowfish_Decrypt4(const BLOWFISH_CTX* ctx, uint32_t xl[4], uint32_t xr[4]);

}  // namespace quillon
