// Digests of the texts in the file named on the command line (written by
// make_text_vectors.py with Python's hashlib) through the two exports.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "quillon.h"

namespace {

const char* vectors_path = nullptr;

std::string unhex(const std::string& hex) {
  std::string out;
  if (hex == "-") return out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

}  // namespace

TEST(HashExports, AgreeWithHashlibOnRandomTexts) {
  ASSERT_NE(vectors_path, nullptr) << "usage: hash_text_vectors FILE";
  std::ifstream in(vectors_path);
  ASSERT_TRUE(in) << vectors_path;
  std::string hex, md5, sha1;
  int count = 0;
  while (in >> hex >> md5 >> sha1) {
    const std::string text = unhex(hex);
    ASSERT_STREQ(HASHmd5(text.c_str()), md5.c_str()) << hex;
    ASSERT_STREQ(HASHsha1(text.c_str()), sha1.c_str()) << hex;
    ++count;
  }
  EXPECT_EQ(count, 10000);
}

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (argc > 1) vectors_path = argv[1];
  return RUN_ALL_TESTS();
}
