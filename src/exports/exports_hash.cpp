// The digest exports: MD5 and SHA-1 of a text, as lowercase hex text.
#include <string>

#include "hash/md5_hex.h"
#include "hash/sha1_hex.h"
#include "exports/export.h"
#include "base/text_result.h"

namespace {

// The digest of `text` through a wrapper of kind W made for this call; the
// result lives in `slot` until the same export is called again. A null text
// is no text at all: it has no digest and gives a null result.
template <typename W>
char* digest_text(const char* text, quillon::TextResult& slot) {
  if (text == nullptr) return nullptr;
  return quillon::guarded<char*>(nullptr, [&] {
    W wrapper;
    quillon::HexDigest& hasher = wrapper;
    return slot.set(hasher.getHashFromString(std::string(text)));
  });
}

}  // namespace

QUILLON_ENTRY char* QUILLON_CALL HASHmd5(const char* text) {
  static quillon::TextResult result;
  return digest_text<quillon::Md5Hex>(text, result);
}

QUILLON_ENTRY char* QUILLON_CALL HASHsha1(const char* text) {
  static quillon::TextResult result;
  return digest_text<quillon::Sha1Hex>(text, result);
}
