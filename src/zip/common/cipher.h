// The traditional PKWARE stream cipher that protects an entry with a
// password. Each entry gets fresh keys from setup_keys; the 12-byte
// encryption header and then the entry's data pass through the same keys.
// The U names serve the reading side, the others the writing side.
#pragma once
#include <cstdint>

#include "zip/common/crc32.h"

namespace quillon {

namespace cipher_detail {

inline void update(uint32_t* keys, unsigned char plain) {
  keys[0] = crc_table[(keys[0] ^ plain) & 0xFF] ^ (keys[0] >> 8);
  keys[1] = (keys[1] + (keys[0] & 0xFF)) * 134775813u + 1u;
  keys[2] = crc_table[(keys[2] ^ (keys[1] >> 24)) & 0xFF] ^ (keys[2] >> 8);
}

inline unsigned char keystream(const uint32_t* keys) {
  const uint32_t t = (keys[2] & 0xFFFF) | 2;
  return static_cast<unsigned char>((t * (t ^ 1)) >> 8);
}

}  // namespace cipher_detail

// keys = the initial words, then one key update per password byte (up to
// its terminator). A null or empty password leaves the initial words.
inline void setup_keys(uint32_t* keys, const char* password) {
  keys[0] = 0x12345678u;
  keys[1] = 0x23456789u;
  keys[2] = 0x34567890u;
  if (password == nullptr) return;
  for (const char* p = password; *p; ++p) cipher_detail::update(keys, static_cast<unsigned char>(*p));
}

// Folds one plain byte into the keys.
inline void Uupdate_keys(uint32_t* keys, char c) { cipher_detail::update(keys, static_cast<unsigned char>(c)); }
inline void update_keys(uint32_t* keys, char c) { cipher_detail::update(keys, static_cast<unsigned char>(c)); }

// The next keystream byte; the keys do not change.
inline char Udecrypt_byte(const uint32_t* keys) { return static_cast<char>(cipher_detail::keystream(keys)); }
inline char decrypt_byte(const uint32_t* keys) { return static_cast<char>(cipher_detail::keystream(keys)); }

// Deciphers one byte and advances the keys with the plain byte.
inline char zdecode(uint32_t* keys, char c) {
  const unsigned char plain = static_cast<unsigned char>(c) ^ cipher_detail::keystream(keys);
  cipher_detail::update(keys, plain);
  return static_cast<char>(plain);
}

// Enciphers one byte and advances the keys with the plain byte.
inline char zencode(uint32_t* keys, char c) {
  const unsigned char key = cipher_detail::keystream(keys);
  cipher_detail::update(keys, static_cast<unsigned char>(c));
  return static_cast<char>(key ^ static_cast<unsigned char>(c));
}

}  // namespace quillon
