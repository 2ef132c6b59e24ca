// The SHA-1 block compression: portable code, and the x86 SHA instructions
// where the processor has them.
#include <cstdint>

#include "hash/hl_sha1.h"

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#define QUILLON_SHA_NI 1
#include <cpuid.h>
#include <immintrin.h>
#endif

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

void blocks_portable(uint32_t h[5], const unsigned char* data, uint32_t blocks) {
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

#if defined(QUILLON_SHA_NI)

// Four steps per instruction. Message words travel four to a register, the
// first of them in the highest lane, which is what the SHA instructions
// expect; so does the state (A in the highest lane, E alone in another).
__attribute__((target("sha,sse4.1,ssse3"))) void blocks_sha_ni(uint32_t h[5], const unsigned char* data,
                                                                uint32_t blocks) {
  const __m128i reverse = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
  __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(h)), 0x1B);
  __m128i e0 = _mm_set_epi32(static_cast<int>(h[4]), 0, 0, 0);

  for (; blocks > 0; --blocks, data += 64) {
    const __m128i abcd_saved = abcd;
    const __m128i e_saved = e0;
    __m128i m0 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data)), reverse);
    __m128i m1 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16)), reverse);
    __m128i m2 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 32)), reverse);
    __m128i m3 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 48)), reverse);

    // Steps 0-3: E joins the first four words by a plain add.
    __m128i e1;
    __m128i e = _mm_add_epi32(e0, m0);
    __m128i prev = abcd;
    abcd = _mm_sha1rnds4_epu32(abcd, e, 0);

    // Then each group of four: E from the state before the previous group,
    // words m[i] = msg2(msg1(m[i-4], m[i-3]) ^ m[i-2], m[i-1]).
#define GROUP(m, func)                      \
  e1 = _mm_sha1nexte_epu32(prev, m);        \
  prev = abcd;                              \
  abcd = _mm_sha1rnds4_epu32(abcd, e1, func)
#define NEXT(m4, m3_, m2_, m1_) \
  m4 = _mm_sha1msg2_epu32(_mm_xor_si128(_mm_sha1msg1_epu32(m4, m3_), m2_), m1_)

    GROUP(m1, 0);  // steps 4-7
    GROUP(m2, 0);
    GROUP(m3, 0);
    NEXT(m0, m1, m2, m3);  // words 16-19
    GROUP(m0, 0);
    NEXT(m1, m2, m3, m0);
    GROUP(m1, 1);  // steps 20-23
    NEXT(m2, m3, m0, m1);
    GROUP(m2, 1);
    NEXT(m3, m0, m1, m2);
    GROUP(m3, 1);
    NEXT(m0, m1, m2, m3);
    GROUP(m0, 1);
    NEXT(m1, m2, m3, m0);
    GROUP(m1, 1);
    NEXT(m2, m3, m0, m1);
    GROUP(m2, 2);  // steps 40-43
    NEXT(m3, m0, m1, m2);
    GROUP(m3, 2);
    NEXT(m0, m1, m2, m3);
    GROUP(m0, 2);
    NEXT(m1, m2, m3, m0);
    GROUP(m1, 2);
    NEXT(m2, m3, m0, m1);
    GROUP(m2, 2);
    NEXT(m3, m0, m1, m2);
    GROUP(m3, 3);  // steps 60-63
    NEXT(m0, m1, m2, m3);
    GROUP(m0, 3);
    NEXT(m1, m2, m3, m0);
    GROUP(m1, 3);
    NEXT(m2, m3, m0, m1);
    GROUP(m2, 3);
    NEXT(m3, m0, m1, m2);
    GROUP(m3, 3);  // steps 76-79
#undef GROUP
#undef NEXT

    // E after 80 steps comes from the state before the last group.
    e0 = _mm_sha1nexte_epu32(prev, e_saved);
    abcd = _mm_add_epi32(abcd, abcd_saved);
  }

  _mm_storeu_si128(reinterpret_cast<__m128i*>(h), _mm_shuffle_epi32(abcd, 0x1B));
  h[4] = static_cast<uint32_t>(_mm_extract_epi32(e0, 3));
}

bool detect_sha_ni() {
  unsigned a, b, c, d;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
  const bool ssse3 = c & (1u << 9), sse41 = c & (1u << 19);
  if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
  const bool sha = b & (1u << 29);
  return ssse3 && sse41 && sha;
}

#else

bool detect_sha_ni() { return false; }

#endif

using BlocksFn = void (*)(uint32_t*, const unsigned char*, uint32_t);

bool hardware_present() {
  static const bool present = detect_sha_ni();
  return present;
}

BlocksFn pick(bool use_hardware) {
#if defined(QUILLON_SHA_NI)
  if (use_hardware && hardware_present()) return blocks_sha_ni;
#else
  (void)use_hardware;
#endif
  return blocks_portable;
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
  return active != blocks_portable;
}

}  // namespace quillon
