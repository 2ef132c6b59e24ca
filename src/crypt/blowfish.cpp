#include "crypt/blowfish.h"

namespace quillon {

// The rounds run two at a time, so the halves trade places by naming rather
// than by moves; after 16 rounds the final exchange is already undone.
void Blowfish_Encrypt(const BLOWFISH_CTX* ctx, uint32_t* xl, uint32_t* xr) {
  uint32_t l = *xl;
  uint32_t r = *xr;
  for (int i = 0; i < 16; i += 2) {
    l ^= ctx->P[i];
    r ^= F(ctx, l);
    r ^= ctx->P[i + 1];
    l ^= F(ctx, r);
  }
  *xl = r ^ ctx->P[17];
  *xr = l ^ ctx->P[16];
}

void Blowfish_Decrypt(const BLOWFISH_CTX* ctx, uint32_t* xl, uint32_t* xr) {
  uint32_t l = *xl;
  uint32_t r = *xr;
  for (int i = 17; i > 1; i -= 2) {
    l ^= ctx->P[i];
    r ^= F(ctx, l);
    r ^= ctx->P[i - 1];
    l ^= F(ctx, r);
  }
  *xl = r ^ ctx->P[0];
  *xr = l ^ ctx->P[1];
}

namespace {

// The rounds of Blowfish_Encrypt (forward) or Blowfish_Decrypt on N blocks,
// lane by lane within each round.
template <int N, bool kForward>
inline void rounds(const BLOWFISH_CTX* ctx, uint32_t* xl, uint32_t* xr) {
  uint32_t l[N], r[N];
  for (int k = 0; k < N; ++k) {
    l[k] = xl[k];
    r[k] = xr[k];
  }
  for (int j = 0; j < 16; j += 2) {
    const uint32_t p0 = ctx->P[kForward ? j : 17 - j];
    const uint32_t p1 = ctx->P[kForward ? j + 1 : 16 - j];
#pragma GCC unroll 4
    for (int k = 0; k < N; ++k) {
      l[k] ^= p0;
      r[k] ^= F(ctx, l[k]);
    }
#pragma GCC unroll 4
    for (int k = 0; k < N; ++k) {
      r[k] ^= p1;
      l[k] ^= F(ctx, r[k]);
    }
  }
  const uint32_t last_l = ctx->P[kForward ? 17 : 0], last_r = ctx->P[kForward ? 16 : 1];
  for (int k = 0; k < N; ++k) {
    xl[k] = r[k] ^ last_l;
    xr[k] = l[k] ^ last_r;
  }
}

}  // namespace

void Blowfish_Encrypt4(const BLOWFISH_CTX* ctx, uint32_t xl[4], uint32_t xr[4]) { rounds<4, true>(ctx, xl, xr); }

void Blowfish_Decrypt4(const BLOWFISH_CTX* ctx, uint32_t xl[4], uint32_t xr[4]) { rounds<4, false>(ctx, xl, xr); }

void Blowfish_Init(BLOWFISH_CTX* ctx, const unsigned char* key, int key_len) {
  for (int s = 0; s < 4; ++s)
    for (int j = 0; j < 256; ++j) ctx->S[s][j] = ORIG_S[s][j];

  // Each subkey is mixed with the next four key bytes, first byte most
  // significant; the key repeats as often as needed.
  int k = 0;
  for (int i = 0; i < 16 + 2; ++i) {
    uint32_t word = 0;
    for (int b = 0; b < 4; ++b) {
      word = (word << 8) | key[k];
      if (++k >= key_len) k = 0;
    }
    ctx->P[i] = ORIG_P[i] ^ word;
  }

  // One chain of encipherments, starting from the zero block, replaces the
  // subkeys and then the S-boxes two words at a time.
  uint32_t l = 0, r = 0;
  for (int i = 0; i < 16 + 2; i += 2) {
    Blowfish_Encrypt(ctx, &l, &r);
    ctx->P[i] = l;
    ctx->P[i + 1] = r;
  }
  for (int s = 0; s < 4; ++s) {
    for (int j = 0; j < 256; j += 2) {
      Blowfish_Encrypt(ctx, &l, &r);
      ctx->S[s][j] = l;
      ctx->S[s][j + 1] = r;
    }
  }
}

}  // namespace quillon
