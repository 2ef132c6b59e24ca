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
