#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

#include "crypt/blowfish.h"
#include "hash/md5_hex.h"
#include "platform/random.h"
#include "quillon.h"
#include "support/testkit.h"

using testkit::exists;
using testkit::read_file;
using testkit::ScratchDir;
using testkit::write_file;

namespace {

std::string bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s.push_back(static_cast<char>(v));
  return s;
}

std::string random_bytes(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(gen());
  return s;
}

std::string md5_of_file(const std::string& path) { return quillon::Md5Hex().getHashFromFile(path); }

// Paths of one scratch folder as C strings for the exports.
struct Files {
  ScratchDir dir;
  std::string p(const std::string& name) const { return dir / name; }
};

}  // namespace

TEST(Encrypt, AddsTheKeyByteAndOneAndDecryptSubtractsThem) {
  Files f;
  write_file(f.p("src"), bytes({200, 0, 255}));
  write_file(f.p("key"), bytes({100, 0, 255}));
  EXPECT_EQ(QCRYPT_encrypt(f.p("src").c_str(), f.p("enc").c_str(), f.p("key").c_str()), 1);
  EXPECT_EQ(read_file(f.p("enc")), bytes({45, 1, 255}));
  EXPECT_EQ(QCRYPT_decrypt(f.p("dec").c_str(), f.p("enc").c_str(), f.p("key").c_str()), 1);
  EXPECT_EQ(read_file(f.p("dec")), bytes({200, 0, 255}));
}

// Where the key file has ended, both directions see -1 and the bytes pass
// unchanged, so any key length round-trips.
TEST(Encrypt, RoundTripsWithKeysOfAnyLength) {
  Files f;
  const std::string plain = random_bytes(5000, 1);
  write_file(f.p("src"), plain);
  for (size_t key_len : {0, 1, 4999, 5000, 5001, 20000}) {
    SCOPED_TRACE(key_len);
    const std::string key = random_bytes(key_len, 2);
    write_file(f.p("key"), key);
    ASSERT_EQ(QCRYPT_encrypt(f.p("src").c_str(), f.p("enc").c_str(), f.p("key").c_str()), 1);
    const std::string enc = read_file(f.p("enc"));
    ASSERT_EQ(enc.size(), plain.size());
    if (key_len < plain.size()) {
      EXPECT_EQ(enc.substr(key_len), plain.substr(key_len));
    }
    ASSERT_EQ(QCRYPT_decrypt(f.p("dec").c_str(), f.p("enc").c_str(), f.p("key").c_str()), 1);
    EXPECT_EQ(read_file(f.p("dec")), plain);
  }
  write_file(f.p("empty"), "");
  EXPECT_EQ(QCRYPT_encrypt(f.p("empty").c_str(), f.p("enc").c_str(), f.p("key").c_str()), 1);
  EXPECT_TRUE(exists(f.p("enc")));
  EXPECT_EQ(read_file(f.p("enc")), "");
}

TEST(Encrypt, TwoKeyFilesAndCombiningTwoFiles) {
  Files f;
  write_file(f.p("src"), bytes({10, 10, 10}));
  write_file(f.p("k1"), bytes({0, 0}));
  write_file(f.p("k2"), bytes({0, 20}));
  EXPECT_EQ(QCRYPT_encrypt2(f.p("src").c_str(), f.p("enc").c_str(), f.p("k1").c_str(), f.p("k2").c_str()), 1);
  // The third byte meets -1 from both key files: 10 - 1 + 1 - 4.
  EXPECT_EQ(read_file(f.p("enc")), bytes({6, 242, 6}));

  write_file(f.p("first"), bytes({250, 1, 7}));
  write_file(f.p("second"), bytes({3}));
  EXPECT_EQ(QCRYPT_combineKeys2(f.p("out").c_str(), f.p("first").c_str(), f.p("second").c_str()), 1);
  EXPECT_EQ(read_file(f.p("out")), bytes({2, 5, 11}));
}

TEST(KeyFiles, MakeKeysWritesOneByteMoreThanTheSource) {
  Files f;
  write_file(f.p("empty"), "");
  EXPECT_EQ(QCRYPT_makeKeys(f.p("empty").c_str(), f.p("a").c_str(), f.p("b").c_str(), "key!"), 1);
  EXPECT_EQ(read_file(f.p("a")).size(), 1u);
  EXPECT_EQ(read_file(f.p("b")).size(), 1u);

  write_file(f.p("ten"), "0123456789");
  EXPECT_EQ(QCRYPT_makeKeys(f.p("ten").c_str(), f.p("a").c_str(), f.p("b").c_str(), "key!"), 11);
  // A fixed function of its files and the first four characters of the key.
  EXPECT_EQ(QCRYPT_combineKeys(f.p("c").c_str(), f.p("a").c_str(), f.p("b").c_str(), "key!"), 12);
  EXPECT_EQ(QCRYPT_combineKeys(f.p("c2").c_str(), f.p("a").c_str(), f.p("b").c_str(), "key!and more"), 12);
  EXPECT_EQ(read_file(f.p("c2")), read_file(f.p("c")));
  EXPECT_EQ(QCRYPT_combineKeys(f.p("c3").c_str(), f.p("empty").c_str(), f.p("empty").c_str(), "key!"), 1);
  EXPECT_EQ(read_file(f.p("c3")).size(), 1u);
}

// The key files of a seeded generator are the same on every build. The
// digests were checked against a model that enciphers the same blocks with
// an independent Blowfish (the 4-byte key repeated to 16 bytes).
TEST(KeyFiles, SeededKeyFilesAreTheSameEverywhere) {
  Files f;
  std::string source;
  for (int i = 0; i < 1000; ++i) source.push_back(static_cast<char>(i * 7 + i / 256));
  write_file(f.p("src"), source);
  qp::seed_random(20240601);
  ASSERT_EQ(QCRYPT_makeKeys(f.p("src").c_str(), f.p("k1").c_str(), f.p("k2").c_str(), "Kiwi"), 1001);
  EXPECT_EQ(md5_of_file(f.p("k1")), "a7a320239d2d8f55458094d6dffc2d2b");
  EXPECT_EQ(md5_of_file(f.p("k2")), "237affcd3a3f0a3e49d24a63f50eb909");
  ASSERT_EQ(QCRYPT_combineKeys(f.p("c").c_str(), f.p("k1").c_str(), f.p("k2").c_str(), "Kiwi"), 1002);
  EXPECT_EQ(md5_of_file(f.p("c")), "e23e8cac45fa2d1234b8dc288abf9863");
}

// A short key text is padded with zero bytes: "ab" keys as {a, b, 0, 0}.
TEST(KeyFiles, ShortKeyTextIsPaddedWithZeroBytes) {
  Files f;
  write_file(f.p("k1"), bytes({1, 200}));
  write_file(f.p("k2"), bytes({255}));
  ASSERT_EQ(QCRYPT_combineKeys(f.p("out").c_str(), f.p("k1").c_str(), f.p("k2").c_str(), "ab"), 3);
  static quillon::BLOWFISH_CTX ctx;
  const unsigned char key[4] = {'a', 'b', 0, 0};
  quillon::Blowfish_Init(&ctx, key, 4);
  std::string expected;
  const uint32_t blocks[3][2] = {{1, 255}, {200, 0xFFFFFFFF}, {0xFFFFFFFF, 0xFFFFFFFF}};
  for (auto& b : blocks) {
    uint32_t l = b[0], r = b[1];
    quillon::Blowfish_Decrypt(&ctx, &l, &r);
    expected.push_back(static_cast<char>(r & 0xFF));
  }
  EXPECT_EQ(read_file(f.p("out")), expected);
  EXPECT_EQ(QCRYPT_combineKeys(f.p("empty-key").c_str(), f.p("k1").c_str(), f.p("k2").c_str(), ""), 3);
}

TEST(Failures, MissingFilesFollowTheOpeningOrder) {
  Files f;
  write_file(f.p("src"), "data");
  write_file(f.p("key"), "k");
  write_file(f.p("old"), "old contents");
  const std::string missing = f.p("missing");
  // decrypt opens the key, then the destination, then the source.
  EXPECT_EQ(QCRYPT_decrypt(f.p("old").c_str(), missing.c_str(), f.p("key").c_str()), 0);
  EXPECT_EQ(read_file(f.p("old")), "");
  write_file(f.p("old"), "old contents");
  EXPECT_EQ(QCRYPT_decrypt(f.p("old").c_str(), f.p("src").c_str(), missing.c_str()), 0);
  EXPECT_EQ(read_file(f.p("old")), "old contents");
  // encrypt opens both inputs before its destination.
  EXPECT_EQ(QCRYPT_encrypt(missing.c_str(), f.p("new").c_str(), f.p("key").c_str()), 0);
  EXPECT_FALSE(exists(f.p("new")));
  EXPECT_EQ(QCRYPT_encrypt2(f.p("src").c_str(), f.p("new").c_str(), f.p("key").c_str(), missing.c_str()), 0);
  EXPECT_EQ(QCRYPT_combineKeys2(f.p("new").c_str(), missing.c_str(), f.p("key").c_str()), 0);
  EXPECT_FALSE(exists(f.p("new")));
  // makeKeys has created key file 1 when key file 2 cannot be opened.
  EXPECT_EQ(QCRYPT_makeKeys(f.p("src").c_str(), f.p("k1").c_str(), f.p("no/such/k2").c_str(), "abcd"), 0);
  EXPECT_TRUE(exists(f.p("k1")));
  EXPECT_EQ(QCRYPT_combineKeys(f.p("c").c_str(), missing.c_str(), f.p("key").c_str(), "abcd"), 0);
  EXPECT_EQ(read_file(f.p("c")), "");
  // A folder is not a file to read.
  EXPECT_EQ(QCRYPT_encrypt(f.dir.path().c_str(), f.p("new").c_str(), f.p("key").c_str()), 0);
}

TEST(Failures, NullArgumentsFailAndTouchNothing) {
  Files f;
  write_file(f.p("src"), "data");
  const std::string src = f.p("src");
  const char* s = src.c_str();
  const std::string out = f.p("out");
  EXPECT_EQ(QCRYPT_makeKeys(s, out.c_str(), f.p("out2").c_str(), nullptr), 0);
  EXPECT_EQ(QCRYPT_makeKeys(nullptr, out.c_str(), f.p("out2").c_str(), "abcd"), 0);
  EXPECT_EQ(QCRYPT_combineKeys(out.c_str(), s, nullptr, "abcd"), 0);
  EXPECT_EQ(QCRYPT_combineKeys(out.c_str(), s, s, nullptr), 0);
  EXPECT_EQ(QCRYPT_combineKeys2(out.c_str(), nullptr, s), 0);
  EXPECT_EQ(QCRYPT_encrypt(s, out.c_str(), nullptr), 0);
  EXPECT_EQ(QCRYPT_encrypt2(s, nullptr, s, s), 0);
  EXPECT_EQ(QCRYPT_decrypt(out.c_str(), nullptr, s), 0);
  EXPECT_FALSE(exists(out));
  EXPECT_FALSE(exists(f.p("out2")));
}

// An output that is one of the call's inputs would be emptied before it is
// read; such calls are refused and every file stays as it was.
TEST(Failures, OutputNamingAnInputIsRefused) {
  Files f;
  write_file(f.p("src"), "secret data");
  write_file(f.p("key"), "key bytes");
  const std::string src = f.p("src"), key = f.p("key");
  const std::string src_again = f.dir.path() + "." + "/src";
  EXPECT_EQ(QCRYPT_encrypt(src.c_str(), src_again.c_str(), key.c_str()), 0);
  EXPECT_EQ(QCRYPT_encrypt(src.c_str(), key.c_str(), key.c_str()), 0);
  EXPECT_EQ(QCRYPT_decrypt(src.c_str(), src.c_str(), key.c_str()), 0);
  EXPECT_EQ(QCRYPT_decrypt(key.c_str(), src.c_str(), key.c_str()), 0);
  EXPECT_EQ(QCRYPT_encrypt2(src.c_str(), key.c_str(), src.c_str(), key.c_str()), 0);
  EXPECT_EQ(QCRYPT_combineKeys2(key.c_str(), src.c_str(), key.c_str()), 0);
  EXPECT_EQ(QCRYPT_combineKeys(src.c_str(), src.c_str(), key.c_str(), "abcd"), 0);
  EXPECT_EQ(QCRYPT_makeKeys(src.c_str(), f.p("k1").c_str(), src.c_str(), "abcd"), 0);
  EXPECT_FALSE(exists(f.p("k1")));
  EXPECT_EQ(read_file(src), "secret data");
  EXPECT_EQ(read_file(key), "key bytes");

  // Both key files under one name: refused whether or not it existed.
  write_file(f.p("k"), "old");
  EXPECT_EQ(QCRYPT_makeKeys(src.c_str(), f.p("k").c_str(), f.p("./k").c_str(), "abcd"), 0);
  EXPECT_EQ(read_file(f.p("k")), "old");
  EXPECT_EQ(QCRYPT_makeKeys(src.c_str(), f.p("new").c_str(), f.p("./new").c_str(), "abcd"), 0);
  // Inputs may name one file as often as they like.
  EXPECT_EQ(QCRYPT_encrypt2(src.c_str(), f.p("out").c_str(), src.c_str(), src.c_str()), 1);
  EXPECT_EQ(QCRYPT_combineKeys(f.p("out").c_str(), src.c_str(), src.c_str(), "abcd"), 12);

  // A device is not one file under two names: writing it empties nothing.
#ifdef _WIN32
  const char* device = "NUL";
#else
  const char* device = "/dev/null";
#endif
  EXPECT_EQ(QCRYPT_encrypt(device, device, key.c_str()), 1);
  EXPECT_EQ(QCRYPT_decrypt(device, device, device), 1);
}

#if defined(__linux__)
// A file whose reads fail ends every loop as if it had ended.
TEST(Failures, ReadErrorsEndTheLoops) {
  Files f;
  write_file(f.p("key"), "key");
  const char* failing = "/proc/self/mem";
  EXPECT_EQ(QCRYPT_makeKeys(failing, f.p("k1").c_str(), f.p("k2").c_str(), "abcd"), 1);
  EXPECT_EQ(read_file(f.p("k1")).size(), 1u);
  EXPECT_EQ(QCRYPT_combineKeys(f.p("c").c_str(), failing, failing, "abcd"), 1);
  const double r = QCRYPT_encrypt(failing, f.p("enc").c_str(), f.p("key").c_str());
  EXPECT_LE(read_file(f.p("enc")).size(), 1u);
  EXPECT_TRUE(r == 0 || r == 1);
}
#endif
