// Tour step: a key pair from a source file, then a file encrypted and
// decrypted with one of the keys.
#include <cstdio>

#include "demo.h"

namespace host {
namespace {

std::string hex_head(const std::string& bytes, size_t n = 16) {
  std::string out;
  char b[4];
  for (size_t i = 0; i < bytes.size() && i < n; ++i) {
    std::snprintf(b, sizeof b, "%02x", static_cast<unsigned char>(bytes[i]));
    out += b;
  }
  if (bytes.size() > n) out += "...";
  return out + " (" + std::to_string(bytes.size()) + " bytes)";
}

DemoRegistration reg(20, "key files and file encryption", [](DemoContext& c) {
  const std::string seed = c.dir + "seed.txt", key1 = c.dir + "key1.bin", key2 = c.dir + "key2.bin",
                    joined = c.dir + "joined.bin";
  write_file(seed, "Any file makes a pair of key files: one byte more than it has.");
  double n = c.lib.number("QCRYPT_makeKeys", {txt(seed), txt(key1), txt(key2), txt("Kiwi")});
  show("QCRYPT_makeKeys(seed.txt, key1, key2, \"Kiwi\")", format_number(n));
  show("key file 1", hex_head(read_file(key1)));
  show("key file 2", hex_head(read_file(key2)));
  n = c.lib.number("QCRYPT_combineKeys", {txt(joined), txt(key1), txt(key2), txt("Kiwi")});
  show("QCRYPT_combineKeys(joined, key1, key2, \"Kiwi\")", format_number(n) + ", " + hex_head(read_file(joined)));

  const std::string plain = c.dir + "letter.txt", sealed = c.dir + "letter.enc", opened = c.dir + "letter.dec";
  const std::string text = "Meet me at the old mill at noon.";
  write_file(plain, text);
  show("letter.txt", "\"" + text + "\"");
  n = c.lib.number("QCRYPT_encrypt", {txt(plain), txt(sealed), txt(key1)});
  show("QCRYPT_encrypt(letter.txt, letter.enc, key1)", format_number(n) + ", " + hex_head(read_file(sealed)));
  n = c.lib.number("QCRYPT_decrypt", {txt(opened), txt(sealed), txt(key1)});
  const std::string back = read_file(opened);
  show("QCRYPT_decrypt(letter.dec, letter.enc, key1)", format_number(n) + ", \"" + back + "\"");
  show("round trip", back == text ? "identical" : "DIFFERENT");
  n = c.lib.number("QCRYPT_encrypt", {txt(plain), txt(plain), txt(key1)});
  show("QCRYPT_encrypt with the source as destination", format_number(n) + " (refused; letter.txt " +
                                                            (read_file(plain) == text ? "untouched)" : "CHANGED)"));
});

}  // namespace
}  // namespace host
