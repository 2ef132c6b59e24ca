#include "zip/common/crc32.h"

#include <array>

#include "zip/common/crc32_paths.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <emmintrin.h>
#include <wmmintrin.h>
#define QUILLON_CRC_CLMUL 1
#endif

namespace quillon {
namespace {

using Table = std::array<uint32_t, 256>;

// Eight tables: table k gives the CRC contribution of a byte followed by k
// zero bytes, so eight bytes fold in with eight independent lookups.
constexpr std::array<Table, 8> make_tables() {
  std::array<Table, 8> t{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    t[0][n] = c;
  }
  for (uint32_t n = 0; n < 256; ++n)
    for (int k = 1; k < 8; ++k) t[k][n] = t[0][t[k - 1][n] & 0xFF] ^ (t[k - 1][n] >> 8);
  return t;
}

constexpr std::array<Table, 8> kTables = make_tables();

inline uint32_t load_le32(const unsigned char* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// The table path without the inversions: folds bytes into a raw state.
uint32_t raw_update(uint32_t crc, const unsigned char* p, size_t n) {
  while (n >= 8) {
    const uint32_t one = load_le32(p) ^ crc;
    const uint32_t two = load_le32(p + 4);
    crc = kTables[7][one & 0xFF] ^ kTables[6][(one >> 8) & 0xFF] ^ kTables[5][(one >> 16) & 0xFF] ^
          kTables[4][one >> 24] ^ kTables[3][two & 0xFF] ^ kTables[2][(two >> 8) & 0xFF] ^
          kTables[1][(two >> 16) & 0xFF] ^ kTables[0][two >> 24];
    p += 8;
    n -= 8;
  }
  while (n--) crc = kTables[0][(crc ^ *p++) & 0xFF] ^ (crc >> 8);
  return crc;
}

#if defined(QUILLON_CRC_CLMUL)

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

// Folds 64 bytes at a time in four lanes, then the lanes and the remaining
// 16-byte blocks into one block; the block and the last bytes go through the
// table. Congruent steps modulo P throughout, so the CRC is the table's.
__attribute__((target("pclmul,sse2"))) uint32_t clmul_update(uint32_t crc, const unsigned char* p, size_t n) {
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

bool detect_clmul() {
  unsigned a, b, c, d;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
  return (c & bit_PCLMUL) != 0 && (d & bit_SSE2) != 0;
}

#endif

uint32_t crc_update(uint32_t crc, const unsigned char* p, size_t n) {
  if (p == nullptr) return 0;
#if defined(QUILLON_CRC_CLMUL)
  static const bool fast = detect_clmul();
  if (fast) return ~clmul_update(~crc, p, n);
#endif
  return ~raw_update(~crc, p, n);
}

}  // namespace

const uint32_t crc_table[256] = {
#define Q_ROW(i) kTables[0][i], kTables[0][i + 1], kTables[0][i + 2], kTables[0][i + 3]
#define Q_ROW16(i) Q_ROW(i), Q_ROW(i + 4), Q_ROW(i + 8), Q_ROW(i + 12)
    Q_ROW16(0),   Q_ROW16(16),  Q_ROW16(32),  Q_ROW16(48),  Q_ROW16(64),  Q_ROW16(80),
    Q_ROW16(96),  Q_ROW16(112), Q_ROW16(128), Q_ROW16(144), Q_ROW16(160), Q_ROW16(176),
    Q_ROW16(192), Q_ROW16(208), Q_ROW16(224), Q_ROW16(240),
#undef Q_ROW16
#undef Q_ROW
};

uint32_t ucrc32(uint32_t crc, const unsigned char* bytes, size_t count) { return crc_update(crc, bytes, count); }

uint32_t crc32(uint32_t crc, const unsigned char* bytes, size_t count) { return crc_update(crc, bytes, count); }

namespace crc_paths {

uint32_t portable(uint32_t crc, const unsigned char* bytes, size_t count) {
  return bytes == nullptr ? 0 : ~raw_update(~crc, bytes, count);
}

bool has_clmul() {
#if defined(QUILLON_CRC_CLMUL)
  return detect_clmul();
#else
  return false;
#endif
}

uint32_t clmul(uint32_t crc, const unsigned char* bytes, size_t count) {
#if defined(QUILLON_CRC_CLMUL)
  return bytes == nullptr ? 0 : ~clmul_update(~crc, bytes, count);
#else
  return portable(crc, bytes, count);
#endif
}

}  // namespace crc_paths

}  // namespace quillon
