// Compresses the input at a level taken from its first byte (and an output
// buffer size, read size and repetition from the second), inflates the
// stream with zlib's raw inflate and checks that the bytes come back
// unchanged. Repeated inputs grow past 64 KiB, so the window slides.
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "zip/deflate/deflate.h"

namespace {

struct Run {
  const uint8_t* data;
  std::size_t size, pos;
  unsigned chunk;
  std::string out;
};

unsigned read_cb(quillon::DeflateState& s, char* buf, unsigned size) {
  Run* r = static_cast<Run*>(s.context);
  std::size_t n = r->size - r->pos;
  if (n > size) n = size;
  if (r->chunk && n > r->chunk) n = r->chunk;
  std::memcpy(buf, r->data + r->pos, n);
  r->pos += n;
  return static_cast<unsigned>(n);
}

unsigned flush_cb(void* context, const char* buf, unsigned* size) {
  if (*size == 0) return 0;
  Run* r = static_cast<Run*>(context);
  r->out.append(buf, *size);
  unsigned n = *size;
  *size = 0;
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  // One state for the whole fuzzing run, as the archive writer reuses one.
  static quillon::DeflateState* state = new quillon::DeflateState();
  if (size < 2) return 0;
  const int level = 1 + data[0] % 8;
  static const unsigned out_sizes[] = {16384, 2, 3, 61, 4096};
  static const unsigned chunks[] = {0, 1, 5, 300};
  const unsigned out_size = out_sizes[data[1] % 5];
  // Bit 6 of the second byte: repeat the rest, each copy marked by its
  // number, to about 150 KB.
  std::string input(reinterpret_cast<const char*>(data + 2), size - 2);
  if ((data[1] & 0x40) && !input.empty()) {
    std::string one = input;
    for (unsigned copy = 1; input.size() < 150000; copy++) {
      one[0] = static_cast<char>(one[0] ^ copy);
      input += one;
    }
  }
  Run run{reinterpret_cast<const uint8_t*>(input.data()), input.size(), 0, chunks[(data[1] / 5) % 4],
          std::string()};
  std::vector<char> buf(out_size);

  quillon::DeflateState& s = *state;
  uint16_t attr = (data[1] & 0x80) ? 0xFFFF : 0, flags = 0;
  quillon::DeflateItem item;
  item.context = &run;
  item.read_input = read_cb;
  item.flush_output = flush_cb;
  item.level = level;
  item.out_buf = buf.data();
  item.out_size = out_size;
  item.attr = &attr;
  item.flags = &flags;
  quillon::start_item(s, item);
  unsigned long n = quillon::deflate(s);
  if (s.failed_check != nullptr) std::abort();
  if (n != run.out.size()) std::abort();

  std::string back(run.size + 1, '\0');
  z_stream z;
  std::memset(&z, 0, sizeof z);
  if (inflateInit2(&z, -15) != Z_OK) std::abort();
  z.next_in = reinterpret_cast<Bytef*>(&run.out[0]);
  z.avail_in = static_cast<uInt>(run.out.size());
  z.next_out = reinterpret_cast<Bytef*>(&back[0]);
  z.avail_out = static_cast<uInt>(back.size());
  int rc = inflate(&z, Z_FINISH);
  std::size_t got = z.total_out;
  bool all_in = z.avail_in == 0;
  inflateEnd(&z);
  if (rc != Z_STREAM_END || !all_in || got != run.size) std::abort();
  if (run.size && std::memcmp(back.data(), run.data, run.size) != 0) std::abort();
  return 0;
}
