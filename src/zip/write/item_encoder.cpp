// Item names and methods, the data bound, and the item encoder.
#include "zip/write/item_encoder.h"

#include <cctype>
#include <cstring>

#include "platform/text.h"
#include "zip/format/records.h"
#include "zip/deflate/deflate.h"

namespace quillon {

namespace {

bool plain_ascii(const std::string& s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

// The stored form of an item name: at most 259 characters (code points of
// a UTF-8 name, bytes otherwise), forward slashes. A backslash is never part
// of a UTF-8 sequence, so the replacement leaves the characters whole.
std::string stored_name(const std::string& given) {
  std::string name = given.substr(0, given.find('\0'));
  if (qp::is_valid_utf8(name.data(), name.size())) {
    size_t chars = 0, i = 0;
    for (; i < name.size(); ++i) {
      if ((static_cast<unsigned char>(name[i]) & 0xC0) == 0x80) continue;
      if (chars == kZipNameMax) break;
      ++chars;
    }
    name.resize(i);
  } else if (name.size() > kZipNameMax) {
    name.resize(kZipNameMax);
  }
  for (char& c : name)
    if (c == '\\') c = '/';
  return name;
}

}  // namespace

ItemName item_name(const std::string& given, bool is_folder) {
  ItemName name;
  name.name = stored_name(given);
  if (name.name.empty()) return name;
  if (is_folder && name.name.back() != '/') name.name += '/';
  name.flag = (!plain_ascii(name.name) && qp::is_valid_utf8(name.name.data(), name.name.size())) ? kFlagUtf8Name : 0;
  name.method = (is_folder || HasZipSuffix(name.name.c_str())) ? kMethodStored : kMethodDeflated;
  return name;
}

uint64_t item_data_bound(uint64_t size, uint16_t method) {
  return method == kMethodStored ? size : size + (size >> 7) + 1024;
}

int lustricmp(const char* a, const char* b) {
  for (;; ++a, ++b) {
    const int ca = std::tolower(static_cast<unsigned char>(*a));
    const int cb = std::tolower(static_cast<unsigned char>(*b));
    if (ca != cb) return ca < cb ? -1 : 1;
    if (ca == 0) return 0;
  }
}

bool HasZipSuffix(const char* name) {
  static const char* const kSuffixes[] = {".Z", ".zip", ".zoo", ".arc", ".lzh", ".arj", ".gz", ".tgz"};
  const char* dot = std::strrchr(name, '.');
  if (dot == nullptr) return false;
  for (const char* s : kSuffixes)
    if (lustricmp(dot, s) == 0) return true;
  return false;
}

// ---------------------------------------------------------------------------
// ItemEncoder

ItemEncoder::ItemEncoder() = default;
ItemEncoder::~ItemEncoder() = default;

unsigned ItemEncoder::read_input(DeflateState& state, char* bytes, unsigned n) {
  return static_cast<ItemEncoder*>(state.context)->in_.read(bytes, n);
}

// Hands the compressor's buffer to the sink; what the sink took counts
// toward the item's size, whole or not.
unsigned ItemEncoder::flush_output(void* context, const char* bytes, unsigned* n) {
  if (*n == 0) return 0;
  ItemEncoder* e = static_cast<ItemEncoder*>(context);
  const unsigned done = e->sink_(e->sink_context_, bytes, *n);
  e->taken_ += done;
  if (done) *n = 0;
  return done;
}

bool ItemEncoder::deflate_data(uint16_t* flag_bits) {
  if (deflater_ == nullptr) deflater_ = std::make_unique<DeflateState>();
  uint16_t text_attr = 0;  // not 0xFFFF: no text detection
  DeflateItem item;
  item.context = this;
  item.read_input = read_input;
  item.flush_output = flush_output;
  item.level = kDeflateLevel;
  item.out_buf = buf_.data();
  item.out_size = kItemChunk;
  item.attr = &text_attr;
  item.flags = flag_bits;
  start_item(*deflater_, item);
  deflate(*deflater_);
  return deflater_->failed_check == nullptr;
}

bool ItemEncoder::store_data() {
  for (;;) {
    const unsigned n = in_.read(buf_.data(), kItemChunk);
    if (n == 0) return true;
    const unsigned done = sink_(sink_context_, buf_.data(), n);
    taken_ += done;
    if (done != n) return false;
  }
}

ItemData ItemEncoder::encode(uint16_t method, ItemSink sink, void* context) {
  sink_ = sink;
  sink_context_ = context;
  taken_ = 0;
  ItemData d;
  if (in_.readable()) d.ok = method == kMethodDeflated ? deflate_data(&d.flag_bits) : store_data();
  d.size = taken_;
  d.crc = in_.crc();
  d.read = in_.read_total();
  d.read_failed = in_.failed();
  d.came_short = in_.facts().size >= 0 && d.read < uint64_t(in_.facts().size);
  in_.close();
  return d;
}

}  // namespace quillon
