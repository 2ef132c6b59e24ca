// The traditional PKWARE encryption of ZIP entries.
//
// What: the stream cipher of APPNOTE section 6.1 that protects an entry with
// a password. Its state is three 32-bit keys. They start as fixed words and
// absorb the password byte by byte (setup_keys); after that, each byte of the
// entry is enciphered by an exclusive or with a keystream byte drawn from the
// third key, and then the plain byte is absorbed into the keys, so the
// keystream depends on everything enciphered before it. Both sides absorb
// the plain byte, which is why encoding and decoding are mirror images.
//
// The 12-byte encryption header that precedes each encrypted entry goes
// through the same keys first (APPNOTE 6.1.3 to 6.1.6): eleven bytes of
// noise and a last byte that must equal the high byte of the entry's CRC (or
// of its time, when a data descriptor follows). The reader deciphers the
// header and compares that byte to reject a wrong password early, with a one
// in 256 chance of a false accept; the CRC at the end catches the rest.
//
// How the keys advance: key 0 is a CRC-32 register fed the plain byte, key 1
// adds the low byte of key 0 and steps a linear congruential generator
// (multiplier 134775813, increment 1), and key 2 is a CRC-32 register fed the
// top byte of key 1. The keystream byte is the middle byte of t * (t ^ 1),
// with t the low 16 bits of key 2 with bit 1 set. The CRC steps use the same
// table as the entries' CRC-32 (crc32.h).
//
// Why it is here and how far to trust it: every ZIP program reads this
// format, so it is the one password protection the archives can carry. It
// is weak by today's standards (a known-plaintext attack recovers the keys
// from a dozen bytes), and nothing in the library presents it as more.
//
// Each entry gets fresh keys. Everything is inline: the functions run once
// per byte of every encrypted entry. The U names serve the reading side, the
// others the writing side; they are the same code.
#pragma once
#include <cstdint>

#include "zip/format/crc32.h"

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
inline void update_keys(uint32_t* keys, char c) { cipher_detail::update(keys, static_cast<unsigned char>(c)); }

// The next keystream byte; the keys do not change.
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
