#include "crypt/qcrypt.h"

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <memory>
#include <new>

#include "base/filesize.h"
#include "platform/fileinfo.h"
#include "platform/random.h"
#include "platform/stream.h"

namespace quillon {

void init_key_text(BLOWFISH_CTX* ctx, const char* key_text) {
  unsigned char key[4] = {0, 0, 0, 0};
  for (int i = 0; i < 4 && key_text[i] != '\0'; ++i) key[i] = static_cast<unsigned char>(key_text[i]);
  Blowfish_Init(ctx, key, 4);
}

namespace {

// The streams of one call, closed in the order they were opened on every way
// out of it. Each gets a stream buffer larger than the runtime's default, so
// the byte loops cost one system call per 64 KiB rather than per 4 KiB.
class Streams {
 public:
  Streams() = default;
  Streams(const Streams&) = delete;
  Streams& operator=(const Streams&) = delete;
  ~Streams() {
    for (int i = 0; i < count_; ++i) std::fclose(open_[i]);
  }

  FILE* open(const char* path, const char* mode) {
    FILE* f = qp::open_stream(path, mode);
    if (f == nullptr) return nullptr;
    buffers_[count_].reset(new (std::nothrow) char[kBufferSize]);
    if (buffers_[count_]) std::setvbuf(f, buffers_[count_].get(), _IOFBF, kBufferSize);
    open_[count_++] = f;
    return f;
  }

 private:
  static constexpr size_t kBufferSize = 1 << 16;
  FILE* open_[4] = {};
  std::unique_ptr<char[]> buffers_[4];  // outlive their streams
  int count_ = 0;
};

// True when `output` is the same file as one of `inputs`. Opening an output
// empties it, so such a call would destroy what it is about to read. Paths
// are compared as files (links, "..", case), not as strings; a file that does
// not exist yet cannot be one of them.
bool names_an_input(const char* output, std::initializer_list<const char*> inputs) {
  for (const char* input : inputs)
    if (qp::same_file(output, input)) return true;
  return false;
}

// The end-of-file indicator of a stream is set only by the read that finds no
// more data, and that read returns EOF; so "the last read returned EOF" is the
// indicator itself, without asking the stream for every byte. A read error
// also returns EOF and ends the loops the same way, so a failing file can
// never keep a loop running.
inline bool at_end(int c) { return c == EOF; }

// The bounded loop: `pass` reads one byte from every input, writes one byte
// and returns the byte read from the driving stream. It runs as many times as
// the driving file had bytes when it was measured.
template <typename Pass>
double bounded_loop(FILE* driving, Pass pass) {
  const int64_t size = filesize(driving);
  int64_t count = 0;
  bool ended = false;
  for (;;) {
    if (ended) return static_cast<double>(count);
    if (count == size) return 1;
    ended = at_end(pass());
    ++count;
  }
}

}  // namespace

double make_keys(const char* source, const char* key1, const char* key2, const char* key_text) {
  if (!source || !key1 || !key2 || !key_text) return 0;
  if (names_an_input(key1, {source}) || names_an_input(key2, {source, key1})) return 0;
  BLOWFISH_CTX ctx;
  init_key_text(&ctx, key_text);

  Streams files;
  FILE* in = files.open(source, "rb");
  if (in == nullptr) return 0;
  FILE* out1 = files.open(key1, "wb+");
  if (out1 == nullptr) return 0;
  // Key file 1 exists now, so a second name for it is found here even when
  // it was new.
  if (qp::same_file(key1, key2)) return 0;
  FILE* out2 = files.open(key2, "wb+");
  if (out2 == nullptr) return 0;

  // One pass per source byte and one more for the read that found the end,
  // which enters the block as -1. Passes run four at a time: their blocks do
  // not depend on each other, so they are enciphered side by side; each pass
  // still reads, draws and writes in its own order.
  int64_t passes = 0;
  bool ended = false;
  while (!ended) {
    uint32_t LLUI[4] = {0, 0, 0, 0}, RLUI[4] = {0, 0, 0, 0};
    int n = 0;
    while (n < 4 && !ended) {
      const int s = qp::stream_getc(in);
      const uint32_t first = static_cast<uint32_t>(qp::next_random());
      const uint32_t L = first + static_cast<uint32_t>(s);
      const uint32_t second = static_cast<uint32_t>(qp::next_random());
      const uint32_t R = static_cast<uint32_t>(s + 4) + second;
      LLUI[n] = L;
      RLUI[n] = R;
      ended = at_end(s);
      ++n;
    }
    Blowfish_Encrypt4(&ctx, LLUI, RLUI);
    for (int k = 0; k < n; ++k) {
      qp::stream_putc(static_cast<unsigned char>(LLUI[k]), out1);
      qp::stream_putc(static_cast<unsigned char>(RLUI[k]), out2);
    }
    passes += n;
  }
  return static_cast<double>(passes);
}

double combine_keys(const char* output, const char* key1, const char* key2, const char* key_text) {
  if (!output || !key1 || !key2 || !key_text) return 0;
  if (names_an_input(output, {key1, key2})) return 0;
  BLOWFISH_CTX ctx;
  init_key_text(&ctx, key_text);

  Streams files;
  FILE* out = files.open(output, "wb+");
  if (out == nullptr) return 0;
  // The output exists now: an input that was missing before may be it.
  if (names_an_input(output, {key1, key2})) return 0;
  FILE* in1 = files.open(key1, "rb");
  if (in1 == nullptr) return 0;
  FILE* in2 = files.open(key2, "rb");
  if (in2 == nullptr) return 0;

  // Four passes at a time, as in make_keys.
  int64_t passes = 0;
  bool ended = false;
  while (!ended) {
    uint32_t LLUI[4] = {0, 0, 0, 0}, RLUI[4] = {0, 0, 0, 0};
    int n = 0;
    while (n < 4 && !ended) {
      const int a = qp::stream_getc(in1);
      const int b = qp::stream_getc(in2);
      const uint32_t L = static_cast<uint32_t>(a), R = static_cast<uint32_t>(b);
      LLUI[n] = L;
      RLUI[n] = R;
      ended = at_end(a);
      ++n;
    }
    Blowfish_Decrypt4(&ctx, LLUI, RLUI);
    for (int k = 0; k < n; ++k) qp::stream_putc(static_cast<unsigned char>(RLUI[k]), out);
    passes += n;
  }
  return static_cast<double>(passes);
}

double combine_keys2(const char* output, const char* first, const char* second) {
  if (!output || !first || !second) return 0;
  if (names_an_input(output, {first, second})) return 0;

  Streams files;
  FILE* in2 = files.open(second, "rb");
  if (in2 == nullptr) return 0;
  FILE* in1 = files.open(first, "rb");
  if (in1 == nullptr) return 0;
  FILE* out = files.open(output, "wb+");
  if (out == nullptr) return 0;

  return bounded_loop(in1, [&] {
    const int a = qp::stream_getc(in1);
    const int b = qp::stream_getc(in2);
    qp::stream_putc(static_cast<unsigned char>(a + b + 5), out);
    return a;
  });
}

double encrypt(const char* source, const char* destination, const char* key) {
  if (!source || !destination || !key) return 0;
  if (names_an_input(destination, {source, key})) return 0;

  Streams files;
  FILE* k = files.open(key, "rb");
  if (k == nullptr) return 0;
  FILE* in = files.open(source, "rb");
  if (in == nullptr) return 0;
  FILE* out = files.open(destination, "wb+");
  if (out == nullptr) return 0;

  return bounded_loop(in, [&] {
    const int s = qp::stream_getc(in);
    const int kb = qp::stream_getc(k);
    qp::stream_putc(static_cast<unsigned char>(s + kb + 1), out);
    return s;
  });
}

double encrypt2(const char* source, const char* destination, const char* key1, const char* key2) {
  if (!source || !destination || !key1 || !key2) return 0;
  if (names_an_input(destination, {source, key1, key2})) return 0;

  Streams files;
  FILE* k1 = files.open(key1, "rb");
  if (k1 == nullptr) return 0;
  FILE* k2 = files.open(key2, "rb");
  if (k2 == nullptr) return 0;
  FILE* in = files.open(source, "rb");
  if (in == nullptr) return 0;
  FILE* out = files.open(destination, "wb+");
  if (out == nullptr) return 0;

  return bounded_loop(in, [&] {
    const int s = qp::stream_getc(in);
    const int a = qp::stream_getc(k1);
    const int b = qp::stream_getc(k2);
    qp::stream_putc(static_cast<unsigned char>(a - b - 5 + s + 1), out);
    return s;
  });
}

double decrypt(const char* destination, const char* source, const char* key) {
  if (!destination || !source || !key) return 0;
  if (names_an_input(destination, {source, key})) return 0;

  Streams files;
  FILE* k = files.open(key, "rb");
  if (k == nullptr) return 0;
  FILE* out = files.open(destination, "wb+");
  if (out == nullptr) return 0;
  // The destination exists now: a source that was missing before may be it.
  if (qp::same_file(destination, source)) return 0;
  FILE* in = files.open(source, "rb");
  if (in == nullptr) return 0;

  return bounded_loop(in, [&] {
    const int s = qp::stream_getc(in);
    const int kb = qp::stream_getc(k);
    qp::stream_putc(static_cast<unsigned char>(s - kb - 1), out);
    return s;
  });
}

}  // namespace quillon
