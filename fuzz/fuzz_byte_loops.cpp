// The byte-loop exports on arbitrary file contents. The first input byte
// splits the rest into a data file and a key file. T2GMT must copy the data
// with every line feed turned into '#', makeBuffer must give its first line
// as fgets would, QCRYPT_decrypt must undo QCRYPT_encrypt with any key file,
// and the key-file exports must write one byte per pass.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "quillon.h"
#include "scratch_tree.h"

namespace {

void put(const std::string& path, const std::string& bytes) {
  qp::Handle h = qp::create_exclusive(path.c_str(), qp::kAttrNormal);
  if (!qp::is_valid(h)) std::abort();
  uint32_t done = 0;
  qp::write_file(h, bytes.data(), static_cast<uint32_t>(bytes.size()), &done);
  qp::close_handle(h);
}

std::string get(const std::string& path) {
  std::string bytes;
  qp::Handle h = qp::open_read_shared(path.c_str());
  if (!qp::is_valid(h)) return "<missing>";
  char buf[4096];
  uint32_t got = 0;
  while (qp::read_file(h, buf, sizeof buf, &got) && got > 0) bytes.append(buf, got);
  qp::close_handle(h);
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > (64u << 10)) return 0;
  const size_t split = (size - 1) * data[0] / 255;
  const std::string text(reinterpret_cast<const char*>(data + 1), split);
  const std::string key(reinterpret_cast<const char*>(data + 1 + split), size - 1 - split);
  const std::string& root = fuzzkit::scratch_root();
  const std::string d = root + "data", k = root + "key", t = root + "t2gmt", e = root + "enc", p = root + "dec",
                    k1 = root + "k1", k2 = root + "k2", c = root + "comb";
  put(d, text);
  put(k, key);

  std::string hashed = text;
  for (char& ch : hashed)
    if (ch == '\n') ch = '#';
  if (T2GMT(d.c_str(), t.c_str()) != 1 || get(t) != hashed) std::abort();

  // fgets with a capacity of the file's size: at most size - 1 bytes, up
  // to and including the first line feed, read as a text up to a zero byte.
  std::string line;
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    line.push_back(text[i]);
    if (text[i] == '\n') break;
  }
  const char* first = makeBuffer(d.c_str());
  if (first == nullptr || std::strcmp(first, line.c_str()) != 0) std::abort();

  if (QCRYPT_encrypt(d.c_str(), e.c_str(), k.c_str()) != 1) std::abort();
  if (get(e).size() != text.size()) std::abort();
  if (QCRYPT_decrypt(p.c_str(), e.c_str(), k.c_str()) != 1 || get(p) != text) std::abort();
  if (QCRYPT_encrypt2(d.c_str(), e.c_str(), k.c_str(), d.c_str()) != 1 || get(e).size() != text.size())
    std::abort();
  if (QCRYPT_combineKeys2(c.c_str(), d.c_str(), k.c_str()) != 1 || get(c).size() != text.size()) std::abort();

  const double passes = QCRYPT_makeKeys(d.c_str(), k1.c_str(), k2.c_str(), key.c_str());
  if (passes != double(text.size() + 1) || get(k1).size() != text.size() + 1 || get(k2).size() != text.size() + 1)
    std::abort();
  if (QCRYPT_combineKeys(c.c_str(), k1.c_str(), k.c_str(), "abcd") != double(text.size() + 2) ||
      get(c).size() != text.size() + 2)
    std::abort();
  return 0;
}
