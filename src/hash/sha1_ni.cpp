// The SHA-1 block compression on the SHA instructions of x86 processors.
//
// What: the same function as the portable code in sha1_blocks.cpp, on the
// instructions that Intel and AMD added for it (SHA1RNDS4, SHA1NEXTE,
// SHA1MSG1, SHA1MSG2), for processors that report them.
//
// Why: SHA-1 is a long chain of dependent 32-bit additions and rotations;
// the portable code is bound by that chain. SHA1RNDS4 does
// four steps in one instruction, and the message schedule is computed four
// words at a time beside it, which makes the compression several times
// faster.
//
// How: the state a to d lives in one register, a in the highest lane, and e
// in the highest lane of another, which is how the instructions expect them;
// the message words are loaded four to a register and byte-swapped to big
// endian with one shuffle. Each group of four steps takes its e from the
// state before the previous group (SHA1NEXTE rotates it and adds it to the
// four schedule words), and the schedule words for step 16 onwards come from
// SHA1MSG1 and SHA1MSG2 over the four registers of earlier words, so the
// sixteen-word window of the portable code turns into four registers that
// rotate. The last argument of SHA1RNDS4 selects the function and constant
// of steps 0-19, 20-39, 40-59 or 60-79.
//
// The processor is asked once (CPUID leaves 1 and 7) for SSSE3, SSE4.1 and
// SHA; the function is compiled for exactly those, so the rest of the
// library still runs where they are absent. Tests compare it with the
// portable path on many lengths and with known digests.
#include <cstdint>

#include "hash/sha1_paths.h"

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#define QUILLON_SHA_NI 1
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace quillon {
namespace sha1_paths {

#if defined(QUILLON_SHA_NI)

// Four steps per instruction. Message words travel four to a register, the
// first of them in the highest lane, which is what the SHA instructions
// expect; so does the state (A in the highest lane, E alone in another).
__attribute__((target("sha,sse4.1,ssse3"))) void sha_ni(uint32_t h[5], const unsigned char* data, uint32_t blocks) {
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

bool has_sha_ni() {
  unsigned a, b, c, d;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
  const bool ssse3 = c & (1u << 9), sse41 = c & (1u << 19);
  if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
  const bool sha = b & (1u << 29);
  return ssse3 && sse41 && sha;
}

#else

bool has_sha_ni() { return false; }

#endif

}  // namespace sha1_paths
}  // namespace quillon
