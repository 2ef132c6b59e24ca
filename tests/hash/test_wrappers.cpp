#include <gtest/gtest.h>

#include <string>

#include "hash/hash_error.h"
#include "hash/md5_hex.h"
#include "hash/sha1_hex.h"
#include "quillon.h"
#include "support/testkit.h"

using quillon::HexDigest;
using quillon::HashError;
using quillon::Md5Hex;
using quillon::Sha1Hex;
using testkit::ScratchDir;
using testkit::write_file;

TEST(HashExports, DigestsOfTextsAsLowercaseHex) {
  EXPECT_STREQ(HASHmd5(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_STREQ(HASHsha1(""), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
  EXPECT_STREQ(HASHmd5("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_STREQ(HASHsha1("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
  // Bytes of 0x80 and above count as they are, with no conversion.
  EXPECT_STREQ(HASHmd5("\xff\xfe\x80"), "45a6eeda47eb0845d0095f2f0576e2f7");
  EXPECT_STREQ(HASHsha1("\xff\xfe\x80"), "c0898e5b8b4f129798f4495c472cf60befecc483");
  // Each export keeps its own text until its next call; no call depends on
  // an earlier one.
  const char* m = HASHmd5("abc");
  const char* s = HASHsha1("message digest");
  EXPECT_STREQ(m, "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_STREQ(HASHmd5("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_STREQ(s, "c12252ceda8be8994d5fa0290a47231c1d16aae3");
  // A null pointer is no text: a null result, not a crash.
  EXPECT_EQ(HASHmd5(nullptr), nullptr);
  EXPECT_EQ(HASHsha1(nullptr), nullptr);
}

TEST(Wrappers, StringsKeepEveryByteIncludingZero) {
  Md5Hex md5;
  Sha1Hex sha1;
  HexDigest& m = md5;
  HexDigest& s = sha1;
  EXPECT_EQ(m.getHashFromString(std::string("a\0b", 3)), "70350f6027bce3713f6b76473084309b");
  EXPECT_EQ(s.getHashFromString(std::string("a\0b", 3)), "4a3dec2d1f8245280855c42db0ee4239f917fdb8");
}

TEST(Wrappers, FilesOfEverySizeAroundTheChunk) {
  ScratchDir dir;
  Md5Hex md5;
  Sha1Hex sha1;
  for (size_t n : {0, 1, 1023, 1024, 1025, 2048, 100000}) {
    std::string data(n, '\0');
    for (size_t i = 0; i < n; ++i) data[i] = static_cast<char>(i * 131 + (i >> 8));
    write_file(dir / "f", data);
    EXPECT_EQ(md5.getHashFromFile(dir / "f"), md5.getHashFromString(data)) << n;
    EXPECT_EQ(sha1.getHashFromFile(dir / "f"), sha1.getHashFromString(data)) << n;
  }
  write_file(dir / "e", "");
  EXPECT_EQ(md5.getHashFromFile(dir / "e"), "d41d8cd98f00b204e9800998ecf8427e");
}

TEST(Wrappers, UnreadableFileThrowsWithTheNameAsGiven) {
  ScratchDir dir;
  const std::string name = dir / "does not exist.txt";
  for (bool use_md5 : {true, false}) {
    Md5Hex md5;
    Sha1Hex sha1;
    HexDigest& w = use_md5 ? static_cast<HexDigest&>(md5) : sha1;
    try {
      w.getHashFromFile(name);
      ADD_FAILURE() << "no exception";
    } catch (const HashError& e) {
      EXPECT_EQ(e.code, quillon::kHashFileReadError);
      EXPECT_EQ(e.code, 1);
      EXPECT_EQ(e.message, "Cannot read file \"" + name + "\".");
    }
    EXPECT_THROW(w.getHashFromFile(dir.path()), HashError);  // a folder
  }
}

// hashIt without a reset: MD5 wiped its context, SHA-1 keeps its digest.
TEST(Wrappers, SecondHashItWithoutReset) {
  Md5Hex md5;
  Sha1Hex sha1;
  const std::string m = md5.getHashFromString("abc");
  EXPECT_NE(md5.hashIt(), m);
  const std::string s = sha1.getHashFromString("abc");
  EXPECT_EQ(sha1.hashIt(), s);
  EXPECT_EQ(md5.getHashFromString("abc"), m);
}
