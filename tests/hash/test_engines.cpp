#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "hash/md5.h"
#include "hash/sha1.h"

using quillon::Md5;
using quillon::MD5_CTX;
using quillon::Sha1;
using quillon::SHA1_CTX;

namespace {

std::string hex(const unsigned char* p, size_t n) {
  static const char d[] = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) s += {d[p[i] >> 4], d[p[i] & 15]};
  return s;
}

const unsigned char* u(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); }

// Feeds `msg` in pieces whose sizes cycle through `pieces` (0: all at once).
std::string md5(const std::string& msg, const std::vector<size_t>& pieces = {0}) {
  Md5 e;
  MD5_CTX c;
  e.MD5Init(&c);
  for (size_t at = 0, k = 0; at < msg.size(); ++k) {
    size_t n = pieces[k % pieces.size()];
    n = n == 0 ? msg.size() - at : std::min(n, msg.size() - at);
    e.MD5Update(&c, u(msg) + at, static_cast<unsigned>(n));
    at += n;
  }
  unsigned char d[16];
  e.MD5Final(d, &c);
  return hex(d, 16);
}

std::string sha1(const std::string& msg, const std::vector<size_t>& pieces = {0}) {
  Sha1 e;
  SHA1_CTX c;
  EXPECT_EQ(e.SHA1Reset(&c), 0);
  for (size_t at = 0, k = 0; at < msg.size(); ++k) {
    size_t n = pieces[k % pieces.size()];
    n = n == 0 ? msg.size() - at : std::min(n, msg.size() - at);
    EXPECT_EQ(e.SHA1Input(&c, u(msg) + at, static_cast<unsigned>(n)), 0);
    at += n;
  }
  unsigned char d[20];
  EXPECT_EQ(e.SHA1Result(&c, d), 0);
  return hex(d, 20);
}

const std::vector<std::vector<size_t>> kFeeds = {{0}, {1}, {3, 61, 64, 1, 200}, {63}, {64}, {65}, {1000}, {4097}};

// Runs the body once per SHA-1 block path this processor has.
template <typename Body>
void for_each_sha1_path(Body body) {
  for (bool hardware : {false, true}) {
    if (hardware && !quillon::sha1_hardware_available()) continue;
    SCOPED_TRACE(hardware ? "SHA instructions" : "portable");
    EXPECT_EQ(quillon::sha1_use_hardware(hardware), hardware);
    body();
  }
  quillon::sha1_use_hardware(true);
}

}  // namespace

TEST(Md5, Rfc1321TestSuite) {
  const char* v[][2] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (auto& t : v)
    for (auto& feed : kFeeds) EXPECT_EQ(md5(t[0], feed), t[1]) << t[0];
  const std::string million(1000000, 'a');
  for (auto& feed : kFeeds) EXPECT_EQ(md5(million, feed), "7707d6ae4e027c70eea2a935c2296f21");
}

TEST(Sha1, Fips180TestSuite) {
  for_each_sha1_path([] {
    const std::string two_blocks = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    const std::string million(1000000, 'a');
    std::string repeated;
    for (int i = 0; i < 10; ++i) repeated += "0123456701234567012345670123456701234567012345670123456701234567";
    for (auto& feed : kFeeds) {
      EXPECT_EQ(sha1("", feed), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
      EXPECT_EQ(sha1("abc", feed), "a9993e364706816aba3e25717850c26c9cd0d89d");
      EXPECT_EQ(sha1(two_blocks, feed), "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
      EXPECT_EQ(sha1(million, feed), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
      EXPECT_EQ(sha1(repeated, feed), "dea356a2cddd90c7a7ecedc5ebb563934f460452");
    }
  });
}

// Blocks taken straight from the caller's bytes leave the context exactly as
// feeding one byte at a time does.
TEST(Sha1, ContextIsTheSameWhateverTheFeed) {
  std::string msg(1000, 'q');
  Sha1 e;
  SHA1_CTX whole, bytewise;
  std::memset(&whole, 0, sizeof whole);
  std::memset(&bytewise, 0, sizeof bytewise);
  e.SHA1Reset(&whole);
  e.SHA1Reset(&bytewise);
  e.SHA1Input(&whole, u(msg), 1000);
  for (size_t i = 0; i < msg.size(); ++i) e.SHA1Input(&bytewise, u(msg) + i, 1);
  EXPECT_EQ(std::memcmp(&whole, &bytewise, sizeof whole), 0);
}

TEST(Sha1, ResultCodesAndStates) {
  Sha1 e;
  SHA1_CTX c;
  unsigned char d1[20], d2[20];
  EXPECT_EQ(e.SHA1Reset(nullptr), 1);
  EXPECT_EQ(e.SHA1Input(nullptr, nullptr, 0), 0);
  ASSERT_EQ(e.SHA1Reset(&c), 0);
  EXPECT_EQ(e.SHA1Input(&c, nullptr, 5), 1);
  EXPECT_EQ(e.SHA1Input(nullptr, u("abc"), 3), 1);
  EXPECT_EQ(e.SHA1Input(&c, u("abc"), 3), 0);
  EXPECT_EQ(e.SHA1Result(&c, nullptr), 1);
  EXPECT_EQ(e.SHA1Result(&c, d1), 0);
  EXPECT_EQ(e.SHA1Result(&c, d2), 0);
  EXPECT_EQ(std::memcmp(d1, d2, 20), 0);
  EXPECT_EQ(hex(d1, 20), "a9993e364706816aba3e25717850c26c9cd0d89d");

  // Input after the digest corrupts the context until the next reset.
  EXPECT_EQ(e.SHA1Input(&c, u("x"), 1), 3);
  std::memset(d2, 0xEE, sizeof d2);
  EXPECT_EQ(e.SHA1Result(&c, d2), 3);
  EXPECT_EQ(hex(d2, 20), std::string(40, 'e'));
  EXPECT_EQ(e.SHA1Input(&c, u("x"), 1), 3);
  ASSERT_EQ(e.SHA1Reset(&c), 0);
  EXPECT_EQ(e.SHA1Input(&c, u("abc"), 3), 0);
  EXPECT_EQ(e.SHA1Result(&c, d2), 0);
  EXPECT_EQ(std::memcmp(d1, d2, 20), 0);
}

// A 64-bit bit count that wraps corrupts the context at the byte that
// wraps it; that call still returns 0, every later one returns 1.
TEST(Sha1, LengthOverflowCorrupts) {
  Sha1 e;
  SHA1_CTX c;
  e.SHA1Reset(&c);
  c.lengthHigh = 0xFFFFFFFF;
  c.lengthLow = 0xFFFFFFF0;
  std::string msg(200, 'z');
  EXPECT_EQ(e.SHA1Input(&c, u(msg), 200), 0);
  EXPECT_EQ(c.corrupted, 1);
  EXPECT_EQ(c.messageBlockIndex, 2);
  EXPECT_EQ(c.lengthLow, 0u);
  EXPECT_EQ(c.lengthHigh, 0u);
  unsigned char d[20];
  EXPECT_EQ(e.SHA1Result(&c, d), 1);
  EXPECT_EQ(e.SHA1Input(&c, u(msg), 1), 1);

  // A low word that wraps while the high one does not just carries.
  e.SHA1Reset(&c);
  c.lengthLow = 0xFFFFFF00;
  EXPECT_EQ(e.SHA1Input(&c, u(msg), 200), 0);
  EXPECT_EQ(c.corrupted, 0);
  EXPECT_EQ(c.lengthHigh, 1u);
  EXPECT_EQ(c.lengthLow, 0xFFFFFF00u + 1600u);
}

TEST(Md5, FinalWipesTheContextAndCountsCarry) {
  Md5 e;
  MD5_CTX c;
  e.MD5Init(&c);
  e.MD5Update(&c, u("abc"), 3);
  unsigned char d[16];
  e.MD5Final(d, &c);
  MD5_CTX zero;
  std::memset(&zero, 0, sizeof zero);
  EXPECT_EQ(std::memcmp(&c, &zero, sizeof c), 0);

  e.MD5Init(&c);
  c.count[0] = 0xFFFFFE00;
  e.MD5Update(&c, u(std::string(64, 'm')), 64);
  EXPECT_EQ(c.count[0], 0u);
  EXPECT_EQ(c.count[1], 1u);
  e.MD5Update(&c, nullptr, 0);
  EXPECT_EQ(c.count[0], 0u);
}
