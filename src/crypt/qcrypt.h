// Key files and byte-wise file encryption behind the QCRYPT_* exports.
//
// Every file is read and written one byte at a time through buffered
// streams. A byte read past the end of a file takes part in the arithmetic
// as -1, and every output byte is the low 8 bits of its value.
#pragma once
#include "crypt/blowfish.h"

namespace quillon {

// Builds the key schedule of make_keys and combine_keys from the first four
// bytes of `key_text`; a shorter text is padded with zero bytes after its
// terminator. Each call builds its own schedule, so no call depends on one
// before it.
void init_key_text(BLOWFISH_CTX* ctx, const char* key_text);

// Each function returns what its export returns: 0 when a path or the key
// text is null, when a file cannot be opened, or when an output names a file
// the same call reads (or the other output), which is refused before any file
// is touched. The byte-wise operations return 1 when every byte of the file
// that drives them was processed, and the number of bytes written when that
// file shrank (or failed to read) during the call.

// Writes two key files from a source of n bytes, n + 1 bytes each, every byte
// the low byte of one word of a Blowfish block made from a source byte and
// two pseudo-random draws. Returns n + 1.
double make_keys(const char* source, const char* key1, const char* key2, const char* key_text);

// Writes the low byte of the deciphered right word of each block (key1 byte,
// key2 byte), for key1's n bytes and one more block. Returns n + 1.
double combine_keys(const char* output, const char* key1, const char* key2, const char* key_text);

// output[i] = first[i] + second[i] + 5, for every byte of `first`.
double combine_keys2(const char* output, const char* first, const char* second);

// destination[i] = source[i] + key[i] + 1, for every byte of `source`.
double encrypt(const char* source, const char* destination, const char* key);

// destination[i] = source[i] + key1[i] - key2[i] - 4.
double encrypt2(const char* source, const char* destination, const char* key1, const char* key2);

// destination[i] = source[i] - key[i] - 1: undoes encrypt with the same key.
double decrypt(const char* destination, const char* source, const char* key);

}  // namespace quillon
