#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>
#include <vector>

#include "zip/format/cipher.h"
#include "zip/format/crc32.h"

using namespace quillon;

namespace {
const unsigned char* bytes(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); }
}  // namespace

TEST(Crc32, StandardValuesAndChaining) {
  EXPECT_EQ(crc_table[1], 0x77073096u);
  EXPECT_EQ(quillon::crc32(0, bytes("123456789"), 9), 0xCBF43926u);
  EXPECT_EQ(quillon::crc32(0, bytes(""), 0), 0u);
  EXPECT_EQ(quillon::crc32(0x1234, bytes("x"), 0), 0x1234u);
  EXPECT_EQ(quillon::crc32(0xDEADBEEF, nullptr, 10), 0u);
  EXPECT_EQ(quillon::crc32(0xDEADBEEF, nullptr, 0), 0u);
  EXPECT_EQ(quillon::crc32(quillon::crc32(0, bytes("abc"), 3), bytes("def"), 3), quillon::crc32(0, bytes("abcdef"), 6));
}

TEST(Crc32, AgreesWithZlibOnEveryLengthAndAlignment) {
  std::mt19937 rng(7);
  std::vector<unsigned char> data(5000);
  for (auto& b : data) b = static_cast<unsigned char>(rng());
  for (size_t start = 0; start < 9; ++start) {
    for (size_t n = 0; n < 300; n += 1 + n / 17) {
      uLong expected = ::crc32(0L, data.data() + start, static_cast<uInt>(n));
      ASSERT_EQ(quillon::crc32(0, data.data() + start, n), expected) << start << " " << n;
    }
  }
  uLong running = ::crc32(0L, Z_NULL, 0);
  uint32_t ours = 0;
  for (size_t off = 0; off < data.size(); off += 777) {
    size_t n = std::min<size_t>(777, data.size() - off);
    running = ::crc32(running, data.data() + off, static_cast<uInt>(n));
    ours = quillon::crc32(ours, data.data() + off, n);
  }
  EXPECT_EQ(ours, running);
}

TEST(ZipCipher, EncodeThenDecodeRestoresEveryByte) {
  std::mt19937 rng(11);
  std::string plain(1000, '\0');
  for (char& c : plain) c = static_cast<char>(rng());
  const char* passwords[] = {"secret", "", nullptr, "\x80\xff\x01"};
  for (const char* pw : passwords) {
    uint32_t enc[3], dec[3];
    setup_keys(enc, pw);
    setup_keys(dec, pw);
    std::string cipher = plain;
    for (char& c : cipher) c = zencode(enc, c);
    EXPECT_NE(cipher, plain);
    for (char& c : cipher) c = zdecode(dec, c);
    EXPECT_EQ(cipher, plain);
  }
}

TEST(ZipCipher, KeySetupAndKeystream) {
  uint32_t keys[3];
  setup_keys(keys, nullptr);
  EXPECT_EQ(keys[0], 0x12345678u);
  EXPECT_EQ(keys[1], 0x23456789u);
  EXPECT_EQ(keys[2], 0x34567890u);
  uint32_t empty[3];
  setup_keys(empty, "");
  EXPECT_EQ(std::vector<uint32_t>(empty, empty + 3), std::vector<uint32_t>(keys, keys + 3));

  // A byte of 0x80 or more counts as its unsigned value.
  uint32_t high[3], manual[3];
  setup_keys(high, "\xe9");
  setup_keys(manual, nullptr);
  update_keys(manual, static_cast<char>(0xE9));
  EXPECT_EQ(std::vector<uint32_t>(high, high + 3), std::vector<uint32_t>(manual, manual + 3));
  update_keys(manual, 'a');
  update_keys(high, 'a');
  EXPECT_EQ(std::vector<uint32_t>(high, high + 3), std::vector<uint32_t>(manual, manual + 3));

  // The keystream byte depends on keys[2] only and leaves the keys alone.
  uint32_t k[3] = {1, 2, 0x0000FFFF};
  const uint32_t t = 0xFFFF;
  EXPECT_EQ(static_cast<unsigned char>(decrypt_byte(k)), static_cast<unsigned char>((t * (t ^ 1)) >> 8));
  EXPECT_EQ(decrypt_byte(k), decrypt_byte(k));
  EXPECT_EQ(k[2], 0x0000FFFFu);
}
