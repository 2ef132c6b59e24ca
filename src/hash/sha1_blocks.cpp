// The SHA-1 block compression.
//
// What: the function at the heart of SHA-1 (FIPS 180-4, section 6.1.2). It
// takes the five-word chaining state and one 64-byte block and returns the
// next state; sha1.cpp does the buffering, the length count and the
// padding around it. This file holds the portable code and the choice between
// it and the SHA instructions of x86 processors (sha1_ni.cpp), which compute
// the same function.
//
// How the portable code works: each block's sixteen big-endian words are
// expanded into a schedule of eighty, W[t] = rotl1(W[t-3] ^ W[t-8] ^ W[t-14]
// ^ W[t-16]), and eighty steps mix them into the working words a to e, twenty
// steps each with the choice, parity, majority and parity functions and their
// round constants. Two things make it fast. The schedule is kept in a rolling
// window of sixteen words and each word is computed just before its step
// needs it, so the working set stays in registers and the eighty-word array
// never exists. And the steps rename instead of move: every step changes
// only e (by the sum) and b (rotated by 30), so the next step is the same
// macro with its arguments rotated by one place; after five steps the names
// are back where they started. The choice function is written
// ((c ^ d) & b) ^ d and the majority (b & c) + ((b ^ c) & d): each is equal
// bit for bit to its textbook form (the two terms of the majority never share
// a bit), and each needs fewer operations after b, the last input to arrive.
//
// The path is chosen on the first call: the SHA instructions when the
// processor has them, otherwise the portable code. Tests and benchmarks can
// switch paths; both give the same words for every input.
#include <cstdint>

#include "hash/sha1.h"
#include "hash/sha1_paths.h"

namespace quillon {
namespace {

inline uint32_t rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

inline uint32_t load_be(const unsigned char* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

// 80 steps over a rolling window of 16 schedule words. Each step names its
// five working words instead of moving them.
#define W(t) w[(t) & 15]
#define EXPAND(t) (W(t) = rotl(W((t) + 13) ^ W((t) + 8) ^ W((t) + 2) ^ W(t), 1))
#define STEP(a, b, c, d, e, f, k, wt) \
  do {                                \
    e += rotl(a, 5) + (f) + (k) + (wt); \
    b = rotl(b, 30);                  \
  } while (0)
#define CH(b, c, d) (((c ^ d) & b) ^ d)
#define PARITY(b, c, d) (b ^ c ^ d)
#define MAJ(b, c, d) ((b & c) + ((b ^ c) & d))

#define R0(a, b, c, d, e, t) STEP(a, b, c, d, e, CH(b, c, d), 0x5A827999u, W(t) = load_be(data + 4 * (t)))
#define R1(a, b, c, d, e, t) STEP(a, b, c, d, e, CH(b, c, d), 0x5A827999u, EXPAND(t))
#define R2(a, b, c, d, e, t) STEP(a, b, c, d, e, PARITY(b, c, d), 0x6ED9EBA1u, EXPAND(t))
#define R3(a, b, c, d, e, t) STEP(a, b, c, d, e, MAJ(b, c, d), 0x8F1BBCDCu, EXPAND(t))
#define R4(a, b, c, d, e, t) STEP(a, b, c, d, e, PARITY(b, c, d), 0xCA62C1D6u, EXPAND(t))

#define FIVE(R, t)            \
  R(a, b, c, d, e, (t));      \
  R(e, a, b, c, d, (t) + 1);  \
  R(d, e, a, b, c, (t) + 2);  \
  R(c, d, e, a, b, (t) + 3);  \
  R(b, c, d, e, a, (t) + 4)

}  // namespace

namespace sha1_paths {

void portable(uint32_t h[5], const unsigned char* data, uint32_t blocks) {
  uint32_t w[16];
  for (; blocks > 0; --blocks, data += 64) {
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
    FIVE(R0, 0);
    FIVE(R0, 5);
    FIVE(R0, 10);
    R0(a, b, c, d, e, 15);
    R1(e, a, b, c, d, 16);
    R1(d, e, a, b, c, 17);
    R1(c, d, e, a, b, 18);
    R1(b, c, d, e, a, 19);
    FIVE(R2, 20);
    FIVE(R2, 25);
    FIVE(R2, 30);
    FIVE(R2, 35);
    FIVE(R3, 40);
    FIVE(R3, 45);
    FIVE(R3, 50);
    FIVE(R3, 55);
    FIVE(R4, 60);
    FIVE(R4, 65);
    FIVE(R4, 70);
    FIVE(R4, 75);
    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
    h[4] += e;
  }
}

}  // namespace sha1_paths

namespace {

using BlocksFn = void (*)(uint32_t*, const unsigned char*, uint32_t);

bool hardware_present() {
  static const bool present = sha1_paths::has_sha_ni();
  return present;
}

BlocksFn pick(bool use_hardware) {
  if (use_hardware && hardware_present()) return sha1_paths::sha_ni;
  return sha1_paths::portable;
}

// The first call chooses the path; the pointer starts at this function so
// that a digest taken before dynamic initialisation still works.
void blocks_first(uint32_t* h, const unsigned char* data, uint32_t blocks);
BlocksFn active = blocks_first;

void blocks_first(uint32_t* h, const unsigned char* data, uint32_t blocks) {
  active = pick(true);
  active(h, data, blocks);
}

}  // namespace

void sha1_blocks(uint32_t h[5], const unsigned char* data, uint32_t blocks) { active(h, data, blocks); }

bool sha1_hardware_available() { return hardware_present(); }

bool sha1_use_hardware(bool on) {
  active = pick(on);
  return active != sha1_paths::portable;
}

}  // namespace quillon
