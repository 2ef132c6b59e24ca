#include "zip/common/crc32.h"

#include <array>

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

uint32_t crc_update(uint32_t crc, const unsigned char* p, size_t n) {
  if (p == nullptr) return 0;
  crc = ~crc;
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
  return ~crc;
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

}  // namespace quillon
