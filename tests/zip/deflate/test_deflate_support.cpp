#include "test_deflate_support.h"

#include <cstring>
#include <memory>
#include <set>

namespace deflate_test {

namespace {

struct Source {
  const Bytes* input;
  std::size_t pos;
  unsigned chunk;
  Result* result;
  int ok_calls;
  bool partial;
};

unsigned read_cb(quillon::DeflateState& state, char* buf, unsigned size) {
  Source* src = static_cast<Source*>(state.context);
  std::size_t left = src->input->size() - src->pos;
  std::size_t n = size < left ? size : left;
  if (src->chunk != 0 && n > src->chunk) n = src->chunk;
  std::memcpy(buf, src->input->data() + src->pos, n);
  src->pos += n;
  return static_cast<unsigned>(n);
}

unsigned flush_cb(void* context, const char* buf, unsigned* size) {
  if (*size == 0) return 0;
  Source* src = static_cast<Source*>(context);
  if (src->ok_calls == 0) {
    src->result->sink_refusals++;
    if (!src->partial) return 0;
    src->result->stream.append(buf, 1);
    *size = 0;
    return 1;
  }
  if (src->ok_calls > 0) src->ok_calls--;
  src->result->stream.append(buf, *size);
  unsigned n = *size;
  *size = 0;
  return n;
}

const char kGuard = '\x5A';
const std::size_t kGuardBytes = 32;

}  // namespace

Result compress(quillon::DeflateState& state, const Bytes& input, const Options& options) {
  Result r;
  Source src{&input, 0, options.read_chunk, &r, options.sink_ok_calls, options.sink_partial};
  // The output buffer, with guard bytes on both sides.
  std::vector<char> area(options.out_size + 2 * kGuardBytes, kGuard);
  char* out = area.data() + kGuardBytes;
  r.attr = options.attr;
  quillon::DeflateItem item;
  item.context = &src;
  item.read_input = read_cb;
  item.flush_output = flush_cb;
  item.level = options.level;
  item.out_buf = out;
  item.out_size = options.out_size;
  item.flush_when_full = options.flush_when_full;
  item.window_bytes = options.window_bytes;
  item.attr = &r.attr;
  item.flags = &r.flags;
  quillon::start_item(state, item);
  r.returned = quillon::deflate(state);
  if (!options.flush_when_full) r.stream.append(out, state.bs.out_used);
  r.failed_check = state.failed_check;
  for (std::size_t i = 0; i < kGuardBytes; i++)
    r.guards_intact = r.guards_intact && area[i] == kGuard && area[area.size() - 1 - i] == kGuard;
  r.guards_intact = r.guards_intact && state.bs.out_used <= options.out_size;
  return r;
}

Result compress(const Bytes& input, const Options& options) {
  auto state = std::make_unique<quillon::DeflateState>();
  return compress(*state, input, options);
}

// ---------------------------------------------------------------------------
// A small decoder that keeps the block structure (RFC 1951).

namespace {

class BitReader {
 public:
  explicit BitReader(const Bytes& s) : s_(s) {}
  bool bits(int n, unsigned* v) {
    unsigned r = 0;
    for (int i = 0; i < n; i++) {
      if (pos_ >= s_.size() * 8) return false;
      unsigned bit = (static_cast<unsigned char>(s_[pos_ >> 3]) >> (pos_ & 7)) & 1;
      r |= bit << i;
      pos_++;
    }
    *v = r;
    return true;
  }
  void align() { pos_ = (pos_ + 7) & ~static_cast<std::size_t>(7); }

 private:
  const Bytes& s_;
  std::size_t pos_ = 0;
};

// Canonical Huffman decoding table: codes by length.
struct Huffman {
  std::vector<int> count, symbols;
  bool build(const std::vector<int>& lengths) {
    count.assign(16, 0);
    for (int l : lengths) count[l]++;
    count[0] = 0;
    std::vector<int> offs(16, 0);
    for (int l = 1; l < 15; l++) offs[l + 1] = offs[l] + count[l];
    symbols.assign(lengths.size(), 0);
    for (std::size_t s = 0; s < lengths.size(); s++)
      if (lengths[s]) symbols[offs[lengths[s]]++] = static_cast<int>(s);
    return true;
  }
  bool decode(BitReader& br, int* sym) const {
    int code = 0, first = 0, index = 0;
    for (int l = 1; l < 16; l++) {
      unsigned b;
      if (!br.bits(1, &b)) return false;
      code |= static_cast<int>(b);
      int c = count[l];
      if (code - c < first) {
        *sym = symbols[index + (code - first)];
        return true;
      }
      index += c;
      first += c;
      first <<= 1;
      code <<= 1;
    }
    return false;
  }
};

const int kLenBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                          31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const int kLenExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const int kDistBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,    65,    97,    129,
                           193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
const int kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
const int kClOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

}  // namespace

bool trace_blocks(const Bytes& stream, std::vector<Block>* blocks, Bytes* out) {
  BitReader br(stream);
  Bytes data;
  blocks->clear();
  for (;;) {
    Block b;
    unsigned v;
    if (!br.bits(1, &v)) return false;
    b.last = v != 0;
    if (!br.bits(2, &v)) return false;
    b.type = static_cast<int>(v);
    if (b.type == 3) return false;
    if (b.type == 0) {
      br.align();
      unsigned len, nlen;
      if (!br.bits(16, &len) || !br.bits(16, &nlen) || (len ^ 0xFFFF) != nlen) return false;
      b.stored_len = len;
      for (unsigned i = 0; i < len; i++) {
        if (!br.bits(8, &v)) return false;
        data.push_back(static_cast<char>(v));
      }
    } else {
      Huffman lit, dist;
      if (b.type == 1) {
        std::vector<int> l(288);
        for (int i = 0; i < 288; i++) l[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
        lit.build(l);
        dist.build(std::vector<int>(30, 5));
      } else {
        unsigned hlit, hdist, hclen;
        if (!br.bits(5, &hlit) || !br.bits(5, &hdist) || !br.bits(4, &hclen)) return false;
        b.hlit = static_cast<int>(hlit) + 257;
        b.hdist = static_cast<int>(hdist) + 1;
        b.hclen = static_cast<int>(hclen) + 4;
        std::vector<int> cl(19, 0);
        for (int i = 0; i < b.hclen; i++) {
          if (!br.bits(3, &v)) return false;
          cl[kClOrder[i]] = static_cast<int>(v);
        }
        Huffman clh;
        clh.build(cl);
        std::vector<int> lengths;
        while (static_cast<int>(lengths.size()) < b.hlit + b.hdist) {
          int sym;
          if (!clh.decode(br, &sym)) return false;
          if (sym < 16) {
            lengths.push_back(sym);
          } else if (sym == 16) {
            if (lengths.empty() || !br.bits(2, &v)) return false;
            int prev = lengths.back();
            for (unsigned i = 0; i < v + 3; i++) lengths.push_back(prev);
          } else if (sym == 17) {
            if (!br.bits(3, &v)) return false;
            for (unsigned i = 0; i < v + 3; i++) lengths.push_back(0);
          } else {
            if (!br.bits(7, &v)) return false;
            for (unsigned i = 0; i < v + 11; i++) lengths.push_back(0);
          }
        }
        if (static_cast<int>(lengths.size()) != b.hlit + b.hdist) return false;
        lit.build(std::vector<int>(lengths.begin(), lengths.begin() + b.hlit));
        dist.build(std::vector<int>(lengths.begin() + b.hlit, lengths.end()));
      }
      for (;;) {
        int sym;
        if (!lit.decode(br, &sym)) return false;
        if (sym == 256) break;
        Symbol s;
        if (sym < 256) {
          s.literal = static_cast<unsigned>(sym);
          data.push_back(static_cast<char>(sym));
        } else {
          sym -= 257;
          if (sym >= 29 || !br.bits(kLenExtra[sym], &v)) return false;
          s.length = static_cast<unsigned>(kLenBase[sym]) + (kLenExtra[sym] ? v : 0);
          int d;
          if (!dist.decode(br, &d) || d >= 30) return false;
          if (!br.bits(kDistExtra[d], &v)) return false;
          s.distance = static_cast<unsigned>(kDistBase[d]) + (kDistExtra[d] ? v : 0);
          if (s.distance > data.size()) return false;
          for (unsigned i = 0; i < s.length; i++) data.push_back(data[data.size() - s.distance]);
        }
        b.symbols.push_back(s);
      }
    }
    blocks->push_back(b);
    if (b.last) break;
  }
  if (out) *out = data;
  return true;
}

// ---------------------------------------------------------------------------
// Test data

namespace {
struct Rng {
  uint32_t x;
  explicit Rng(uint32_t seed) : x(seed * 2654435761u + 0x9E3779B9u) {}
  uint32_t next() {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    return x;
  }
};
}  // namespace

Bytes random_bytes(std::size_t n, uint32_t seed) {
  Rng r(seed);
  Bytes b(n, '\0');
  for (auto& c : b) c = static_cast<char>(r.next() >> 24);
  return b;
}

Bytes low_entropy_bytes(std::size_t n, uint32_t seed) {
  Rng r(seed);
  Bytes b;
  b.reserve(n);
  static const char* words[] = {"alpha ", "beta ", "gamma\n", "delta, ", "epsilon ", "zeta; "};
  while (b.size() < n) {
    uint32_t k = r.next();
    switch (k % 5) {
      case 0:  // a run
        b.append(1 + (k >> 8) % 300, static_cast<char>(k >> 16));
        break;
      case 1:  // a copy of earlier bytes, near or far
        if (!b.empty()) {
          std::size_t dist = 1 + (k >> 4) % (b.size() < 40000 ? b.size() : 40000);
          std::size_t len = 3 + (k >> 20) % 300;
          for (std::size_t i = 0; i < len; i++) b.push_back(b[b.size() - dist]);
        }
        break;
      case 2:  // a few random bytes
        for (unsigned i = 0; i < 1 + (k >> 8) % 8; i++) b.push_back(static_cast<char>(r.next() >> 24));
        break;
      default:
        b.append(words[(k >> 8) % 6]);
    }
  }
  b.resize(n);
  return b;
}

Bytes no_repeat_bytes(std::size_t n, unsigned first, unsigned alphabet, uint32_t seed) {
  Rng r(seed);
  std::set<uint32_t> seen;
  Bytes b;
  int misses = 0;
  while (b.size() < n && misses < 10000) {
    unsigned c = first + r.next() % alphabet;
    if (b.size() >= 2) {
      uint32_t tri = (static_cast<uint8_t>(b[b.size() - 2]) << 16) | (static_cast<uint8_t>(b.back()) << 8) | c;
      if (seen.count(tri)) {
        misses++;
        continue;
      }
      seen.insert(tri);
    }
    b.push_back(static_cast<char>(c));
  }
  return b;
}

}  // namespace deflate_test
