#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "crypt/blowfish.h"

using quillon::BLOWFISH_CTX;

namespace {

std::vector<unsigned char> bytes(const std::string& hex) {
  std::vector<unsigned char> out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<unsigned char>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return out;
}

uint32_t word(const std::string& hex, size_t at) { return static_cast<uint32_t>(std::stoul(hex.substr(at, 8), nullptr, 16)); }

// Enciphers the 16-digit block under the key and checks both directions.
void expect_vector(const std::string& key_hex, const std::string& plain, const std::string& cipher) {
  SCOPED_TRACE("key " + key_hex + ", plaintext " + plain);
  std::vector<unsigned char> key = bytes(key_hex);
  static BLOWFISH_CTX ctx;
  quillon::Blowfish_Init(&ctx, key.data(), static_cast<int>(key.size()));
  uint32_t l = word(plain, 0), r = word(plain, 8);
  quillon::Blowfish_Encrypt(&ctx, &l, &r);
  EXPECT_EQ(l, word(cipher, 0));
  EXPECT_EQ(r, word(cipher, 8));
  quillon::Blowfish_Decrypt(&ctx, &l, &r);
  EXPECT_EQ(l, word(plain, 0));
  EXPECT_EQ(r, word(plain, 8));
}

}  // namespace

TEST(Blowfish, InitialTablesAreTheDigitsOfPi) {
  EXPECT_EQ(quillon::ORIG_P[0], 0x243F6A88u);
  EXPECT_EQ(quillon::ORIG_P[17], 0x8979FB1Bu);
  EXPECT_EQ(quillon::ORIG_S[0][0], 0xD1310BA6u);
  EXPECT_EQ(quillon::ORIG_S[3][255], 0x3AC372E6u);
}

TEST(Blowfish, StandardEcbVectors) {
  const char* v[][3] = {
      {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
      {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
      {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
      {"1111111111111111", "1111111111111111", "2466DD878B963C9D"},
      {"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
      {"1111111111111111", "0123456789ABCDEF", "7D0CC630AFDA1EC7"},
      {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
      {"7CA110454A1A6E57", "01A1D6D039776742", "59C68245EB05282B"},
      {"0131D9619DC1376E", "5CD54CA83DEF57DA", "B1B8CC0B250F09A0"},
      {"07A1133E4A0B2686", "0248D43806F67172", "1730E5778BEA1DA4"},
      {"3849674C2602319E", "51454B582DDF440A", "A25E7856CF2651EB"},
      {"04B915BA43FEB5B6", "42FD443059577FA2", "353882B109CE8F1A"},
      {"0113B970FD34F2CE", "059B5E0851CF143A", "48F4D0884C379918"},
      {"0170F175468FB5E6", "0756D8E0774761D2", "432193B78951FC98"},
      {"43297FAD38E373FE", "762514B829BF486A", "13F04154D69D1AE5"},
      {"07A7137045DA2A16", "3BDD119049372802", "2EEDDA93FFD39C79"},
      {"04689104C2FD3B2F", "26955F6835AF609A", "D887E0393C2DA6E3"},
      {"37D06BB516CB7546", "164D5E404F275232", "5F99D04F5B163969"},
      {"1F08260D1AC2465E", "6B056E18759F5CCA", "4A057A3B24D3977B"},
      {"584023641ABA6176", "004BD6EF09176062", "452031C1E4FADA8E"},
      {"025816164629B007", "480D39006EE762F2", "7555AE39F59B87BD"},
      {"49793EBC79B3258F", "437540C8698F3CFA", "53C55F9CB49FC019"},
      {"4FB05E1515AB73A7", "072D43A077075292", "7A8E7BFA937E89A3"},
      {"49E95D6D4CA229BF", "02FE55778117F12A", "CF9C5D7A4986ADB5"},
      {"018310DC409B26D6", "1D9D5C5018F728C2", "D1ABB290658BC778"},
      {"1C587F1C13924FEF", "305532286D6F295A", "55CB3774D13EF201"},
      {"0101010101010101", "0123456789ABCDEF", "FA34EC4847B268B2"},
      {"1F1F1F1F0E0E0E0E", "0123456789ABCDEF", "A790795108EA3CAE"},
      {"E0FEE0FEF1FEF1FE", "0123456789ABCDEF", "C39E072D9FAC631D"},
      {"0000000000000000", "FFFFFFFFFFFFFFFF", "014933E0CDAFF6E4"},
      {"FFFFFFFFFFFFFFFF", "0000000000000000", "F21E9A77B71C49BC"},
      {"0123456789ABCDEF", "0000000000000000", "245946885754369A"},
      {"FEDCBA9876543210", "FFFFFFFFFFFFFFFF", "6B5C5A9C5D9E0A5A"},
  };
  for (auto& t : v) expect_vector(t[0], t[1], t[2]);
}

// Keys of 1 to 24 bytes, each a prefix of one long key.
TEST(Blowfish, VariableKeyVectors) {
  const std::string key = "F0E1D2C3B4A5968778695A4B3C2D1E0F0011223344556677";
  const char* cipher[] = {
      "F9AD597C49DB005E", "E91D21C1D961A6D6", "E9C2B70A1BC65CF3", "BE1E639408640F05", "B39E44481BDB1E6E",
      "9457AA83B1928C0D", "8BB77032F960629D", "E87A244E2CC85E82", "15750E7A4F4EC577", "122BA70B3AB64AE0",
      "3A833C9AFFC537F6", "9409DA87A90F6BF2", "884F80625060B8B4", "1F85031C19E11968", "79D9373A714CA34F",
      "93142887EE3BE15C", "03429E838CE2D14B", "A4299E27469FF67B", "AFD5AED1C1BC96A8", "10851C0E3858DA9F",
      "E6F51ED79B9DB21F", "64A6E14AFD36B46F", "80C7D7D45A5479AD", "05044B62FA52D080",
  };
  for (size_t n = 1; n <= 24; ++n) expect_vector(key.substr(0, 2 * n), "FEDCBA9876543210", cipher[n - 1]);
}

// Four-byte keys (as the key files use) and a one-byte key of 255, which
// must count as 255 in every position, never sign-extended. Reference values
// from an independent implementation given the key repeated to 16 bytes,
// which mixes the same words into every subkey.
TEST(Blowfish, ShortKeysRepeatCyclically) {
  expect_vector("41424344", "0000000000000000", "0F6B69A766672BF6");
  expect_vector("41424344", "0123456789ABCDEF", "3DAFB8205455DFF5");
  expect_vector("61620000", "0000000000000000", "A4A9641F4C6370B3");
  expect_vector("61620000", "0123456789ABCDEF", "BBD9226D847A9C43");
  expect_vector("FF", "0000000000000000", "F21E9A77B71C49BC");
  expect_vector("FF", "0123456789ABCDEF", "0B13DEBC7B8635CD");
}

TEST(Blowfish, DecryptUndoesEncryptOnRandomBlocks) {
  std::mt19937 gen(7);
  static BLOWFISH_CTX ctx;
  for (int k = 0; k < 20; ++k) {
    unsigned char key[56];
    const int len = 1 + static_cast<int>(gen() % 56);
    for (int i = 0; i < len; ++i) key[i] = static_cast<unsigned char>(gen());
    quillon::Blowfish_Init(&ctx, key, len);
    std::vector<std::pair<uint32_t, uint32_t>> blocks = {{0, 0}, {0xFFFFFFFF, 0xFFFFFFFF}};
    for (int i = 0; i < 200; ++i) blocks.push_back({static_cast<uint32_t>(gen()), static_cast<uint32_t>(gen())});
    // Four blocks side by side give what one at a time gives.
    for (size_t i = 0; i + 4 <= blocks.size(); i += 4) {
      uint32_t l4[4], r4[4];
      for (int k = 0; k < 4; ++k) {
        l4[k] = blocks[i + k].first;
        r4[k] = blocks[i + k].second;
      }
      quillon::Blowfish_Encrypt4(&ctx, l4, r4);
      for (int k = 0; k < 4; ++k) {
        uint32_t l = blocks[i + k].first, r = blocks[i + k].second;
        quillon::Blowfish_Encrypt(&ctx, &l, &r);
        ASSERT_EQ(l4[k], l);
        ASSERT_EQ(r4[k], r);
      }
      quillon::Blowfish_Decrypt4(&ctx, l4, r4);
      for (int k = 0; k < 4; ++k) {
        ASSERT_EQ(l4[k], blocks[i + k].first);
        ASSERT_EQ(r4[k], blocks[i + k].second);
      }
    }
    for (auto [l0, r0] : blocks) {
      uint32_t l = l0, r = r0;
      quillon::Blowfish_Encrypt(&ctx, &l, &r);
      EXPECT_FALSE(l == l0 && r == r0);
      quillon::Blowfish_Decrypt(&ctx, &l, &r);
      ASSERT_EQ(l, l0);
      ASSERT_EQ(r, r0);
    }
  }
}
