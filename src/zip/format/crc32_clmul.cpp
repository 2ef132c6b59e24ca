// CRC-32 by carry-less multiplication, for x86 processors that have it.
//
// What: the same CRC as the table path in crc32.cpp (reflected generator
// 0xEDB88320), bit for bit, over long buffers at several times its speed.
//
// Why: the table path is bound by its lookups, about a byte per cycle at
// best. PCLMULQDQ multiplies two 64-bit polynomials over GF(2) in one
// instruction, which lets the register be advanced over 64 bytes at a time.
//
// How: a CRC is the remainder modulo P of the message polynomial, and
// remainders can be taken early. Take the message 16 bytes at a time as
// 128-bit blocks. A block that lies d bits before the rest of the message
// contributes (block * x^d) mod P; so a running 128-bit accumulator can be
// "folded" forward over the next d bits by multiplying each of its two
// 64-bit halves by a constant (x^k mod P, with k fixed by d and by which
// half it is) and adding (exclusive-or) the two products to the block found
// d bits on. The products are no longer than 128 bits, so the accumulator
// never grows: it stays congruent to the message read so far, moved to the
// current position. Four accumulators, 64 bytes apart, keep the multiplier
// busy while each product is in flight; at the end they are folded into one
// by 128-bit steps, the remaining whole 16-byte blocks follow the same way,
// and the last accumulator and the final bytes go through the table path,
// which takes any congruent state to the true remainder. Every step is a
// congruence modulo P, so the result is exactly the table path's.
//
// The constants are x^k mod P, 32-bit polynomials in the reflected bit order
// placed in the upper half of a 64-bit operand; where they are defined, a
// comment says how k follows from the folding distance.
//
// Only inputs of 128 bytes or more take this path; below that the set-up
// does not pay for itself. The processor is asked once (CPUID) whether it has
// PCLMULQDQ and SSE2; the functions that use them are compiled for those
// instructions alone, so the rest of the library still runs on processors
// without them.
#include <cstddef>
#include <cstdint>

#include "zip/format/crc32_paths.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <emmintrin.h>
#include <wmmintrin.h>
#define QUILLON_CRC_CLMUL 1
#endif

namespace quillon {
namespace crc_paths {

#if defined(QUILLON_CRC_CLMUL)

namespace {

// Folding constants: x^k mod P for the reflected polynomial, bit-reversed
// into 64 bits, with k chosen so that a carry-less product of a 64-bit half
// of a 128-bit block lands where the block's contribution lies `distance`
// bits further on: k = distance + 63 for the half that comes first in the
// message (the register's low half), distance - 1 for the other.
constexpr uint64_t kFold512First = 0x653d982200000000ULL;   // x^575
constexpr uint64_t kFold512Second = 0xcad38e8f00000000ULL;  // x^511
constexpr uint64_t kFold128First = 0x65673b4600000000ULL;   // x^191
constexpr uint64_t kFold128Second = 0x9ba54c6f00000000ULL;  // x^127

__attribute__((target("pclmul,sse2"))) inline __m128i fold(__m128i a, __m128i k) {
  return _mm_xor_si128(_mm_clmulepi64_si128(a, k, 0x00), _mm_clmulepi64_si128(a, k, 0x11));
}

__attribute__((target("pclmul,sse2"))) inline __m128i load(const unsigned char* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

}  // namespace

// Folds 64 bytes at a time in four lanes, then the lanes and the remaining
// 16-byte blocks into one block; the block and the last bytes go through the
// table. Congruent steps modulo P throughout, so the CRC is the table's.
__attribute__((target("pclmul,sse2"))) uint32_t clmul_raw(uint32_t crc, const unsigned char* p, size_t n) {
  if (n < 128) return raw_update(crc, p, n);
  const __m128i k512 = _mm_set_epi64x(static_cast<long long>(kFold512Second), static_cast<long long>(kFold512First));
  const __m128i k128 = _mm_set_epi64x(static_cast<long long>(kFold128Second), static_cast<long long>(kFold128First));
  __m128i x0 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(static_cast<int>(crc)));
  __m128i x1 = load(p + 16), x2 = load(p + 32), x3 = load(p + 48);
  p += 64;
  n -= 64;
  while (n >= 64) {
    x0 = _mm_xor_si128(fold(x0, k512), load(p));
    x1 = _mm_xor_si128(fold(x1, k512), load(p + 16));
    x2 = _mm_xor_si128(fold(x2, k512), load(p + 32));
    x3 = _mm_xor_si128(fold(x3, k512), load(p + 48));
    p += 64;
    n -= 64;
  }
  x1 = _mm_xor_si128(fold(x0, k128), x1);
  x2 = _mm_xor_si128(fold(x1, k128), x2);
  x3 = _mm_xor_si128(fold(x2, k128), x3);
  while (n >= 16) {
    x3 = _mm_xor_si128(fold(x3, k128), load(p));
    p += 16;
    n -= 16;
  }
  unsigned char block[16];
  _mm_storeu_si128(reinterpret_cast<__m128i*>(block), x3);
  return raw_update(raw_update(0, block, 16), p, n);
}

bool has_clmul() {
  unsigned a, b, c, d;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
  return (c & bit_PCLMUL) != 0 && (d & bit_SSE2) != 0;
}

#else

bool has_clmul() { return false; }

uint32_t clmul_raw(uint32_t state, const unsigned char* bytes, size_t count) {
  return raw_update(state, bytes, count);
}

#endif

}  // namespace crc_paths
}  // namespace quillon
