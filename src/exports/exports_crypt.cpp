// The key-file and file-encryption exports.
#include "crypt/qcrypt.h"
#include "exports/export.h"

QUILLON_ENTRY double QUILLON_CALL QCRYPT_makeKeys(const char* source, const char* key1, const char* key2,
                                                  const char* key_text) {
  return quillon::guarded(0.0, [&] { return quillon::make_keys(source, key1, key2, key_text); });
}

QUILLON_ENTRY double QUILLON_CALL QCRYPT_combineKeys(const char* output, const char* key1, const char* key2,
                                                     const char* key_text) {
  return quillon::guarded(0.0, [&] { return quillon::combine_keys(output, key1, key2, key_text); });
}

QUILLON_ENTRY double QUILLON_CALL QCRYPT_combineKeys2(const char* output, const char* first, const char* second) {
  return quillon::guarded(0.0, [&] { return quillon::combine_keys2(output, first, second); });
}

QUILLON_ENTRY double QUILLON_CALL QCRYPT_encrypt(const char* source, const char* destination, const char* key) {
  return quillon::guarded(0.0, [&] { return quillon::encrypt(source, destination, key); });
}

QUILLON_ENTRY double QUILLON_CALL QCRYPT_encrypt2(const char* source, const char* destination, const char* key1,
                                                  const char* key2) {
  return quillon::guarded(0.0, [&] { return quillon::encrypt2(source, destination, key1, key2); });
}

QUILLON_ENTRY double QUILLON_CALL QCRYPT_decrypt(const char* destination, const char* source, const char* key) {
  return quillon::guarded(0.0, [&] { return quillon::decrypt(destination, source, key); });
}
