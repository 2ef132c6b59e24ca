// Compresses the common corpus with the library's DEFLATE compressor and
// with zlib's raw deflate (window bits -15, memory level 8) at the same
// level, in the same process, and prints sizes, speeds and their ratios.
//
//   bench_deflate [CORPUS_DIR] [--reps N] [--levels FIRST-LAST] [--only FILE]
//   bench_deflate [CORPUS_DIR] --digest
//
// --digest prints the size and CRC-32 of every compressed file at every
// level instead, to check that a change to the compressor kept its output.
//
// CORPUS_DIR defaults to $QUILLON_CORPUS, else build/corpus in the source
// tree. Level 8 (the archive writer's) is shown per file; every level asked
// for is shown in total. Times are processor times, the best of N runs.
#include <zlib.h>

#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "zip/deflate/deflate.h"

namespace {

struct File {
  std::string name;
  std::string data;
};

struct Sink {
  const std::string* input;
  std::size_t pos;
  std::vector<char>* out;
  std::size_t used;
};

unsigned read_cb(quillon::DeflateState& s, char* buf, unsigned size) {
  Sink* k = static_cast<Sink*>(s.context);
  std::size_t left = k->input->size() - k->pos;
  std::size_t n = size < left ? size : left;
  std::memcpy(buf, k->input->data() + k->pos, n);
  k->pos += n;
  return static_cast<unsigned>(n);
}

unsigned flush_cb(void* context, const char* buf, unsigned* size) {
  if (*size == 0) return 0;
  Sink* k = static_cast<Sink*>(context);
  if (k->used + *size > k->out->size()) k->out->resize((k->used + *size) * 2);
  std::memcpy(k->out->data() + k->used, buf, *size);
  k->used += *size;
  unsigned n = *size;
  *size = 0;
  return n;
}

std::size_t ours(quillon::DeflateState& s, const std::string& in, int level, std::vector<char>& out) {
  static char buf[16384];
  Sink k{&in, 0, &out, 0};
  uint16_t attr = 0, flags = 0;
  quillon::DeflateItem item;
  item.context = &k;
  item.read_input = read_cb;
  item.flush_output = flush_cb;
  item.level = level;
  item.out_buf = buf;
  item.out_size = sizeof buf;
  item.attr = &attr;
  item.flags = &flags;
  quillon::start_item(s, item);
  unsigned long n = quillon::deflate(s);
  if (s.failed_check || n != k.used) {
    std::fprintf(stderr, "compressor failed: %s\n", s.failed_check ? s.failed_check : "size mismatch");
    std::exit(1);
  }
  return k.used;
}

std::size_t theirs(const std::string& in, int level, std::vector<char>& out) {
  z_stream z;
  std::memset(&z, 0, sizeof z);
  if (deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) std::exit(1);
  std::size_t bound = deflateBound(&z, static_cast<uLong>(in.size()));
  if (out.size() < bound) out.resize(bound);
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  z.avail_in = static_cast<uInt>(in.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  if (deflate(&z, Z_FINISH) != Z_STREAM_END) std::exit(1);
  std::size_t n = z.total_out;
  deflateEnd(&z);
  return n;
}

bool inflates_to(const std::vector<char>& stream, std::size_t n, const std::string& want) {
  std::string got(want.size() + 1, '\0');
  z_stream z;
  std::memset(&z, 0, sizeof z);
  inflateInit2(&z, -15);
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(stream.data()));
  z.avail_in = static_cast<uInt>(n);
  z.next_out = reinterpret_cast<Bytef*>(&got[0]);
  z.avail_out = static_cast<uInt>(got.size());
  int rc = inflate(&z, Z_FINISH);
  std::size_t len = z.total_out;
  inflateEnd(&z);
  return rc == Z_STREAM_END && len == want.size() && std::memcmp(got.data(), want.data(), len) == 0;
}

// Processor time of this process: the machine is shared, and time spent
// waiting for a processor is no part of either compressor's cost.
double now() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

struct Figures {
  std::size_t ours_size = 0, zlib_size = 0;
  double ours_time = 1e30, zlib_time = 1e30;
};

Figures measure(quillon::DeflateState& s, const std::string& data, int level, int reps) {
  static std::vector<char> out_a(1 << 20), out_b(1 << 20);
  Figures f;
  for (int r = 0; r < reps; r++) {
    double t0 = now();
    f.ours_size = ours(s, data, level, out_a);
    double t1 = now();
    f.zlib_size = theirs(data, level, out_b);
    double t2 = now();
    if (t1 - t0 < f.ours_time) f.ours_time = t1 - t0;
    if (t2 - t1 < f.zlib_time) f.zlib_time = t2 - t1;
  }
  if (!inflates_to(out_a, f.ours_size, data)) {
    std::fprintf(stderr, "round trip failed at level %d\n", level);
    std::exit(1);
  }
  return f;
}

void print_row(const char* name, std::size_t in, const Figures& f) {
  double mb = static_cast<double>(in) / 1e6;
  double so = mb / f.ours_time, sz = mb / f.zlib_time;
  std::printf("| %-18s | %11zu | %11zu | %11zu | %6.4f | %7.1f | %7.1f | %5.2f |\n", name, in, f.ours_size,
              f.zlib_size, static_cast<double>(f.ours_size) / static_cast<double>(f.zlib_size), so, sz, so / sz);
}

void print_head(const char* first) {
  std::printf("| %-18s | %11s | %11s | %11s | %6s | %7s | %7s | %5s |\n", first, "input", "quillon", "zlib",
              "size", "q MB/s", "z MB/s", "speed");
  std::printf("|%s|%s|%s|%s|%s|%s|%s|%s|\n", "--------------------", "-------------", "-------------",
              "-------------", "--------", "---------", "---------", "-------");
}

}  // namespace

int main(int argc, char** argv) {

  std::string dir;
  std::string only;
  bool digest = false;
  int reps = 3, first = 1, last = 8;
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    if (a == "--reps" && i + 1 < argc) {
      reps = std::atoi(argv[++i]);
    } else if (a == "--digest") {
      digest = true;
    } else if (a == "--only" && i + 1 < argc) {
      only = argv[++i];
    } else if (a == "--levels" && i + 1 < argc) {
      std::sscanf(argv[++i], "%d-%d", &first, &last);
    } else {
      dir = a;
    }
  }
  if (dir.empty()) {
    const char* env = std::getenv("QUILLON_CORPUS");
    dir = env && *env ? env : QUILLON_SOURCE_DIR "/build/corpus";
  }
  if (dir.back() != '/') dir += '/';
  if (reps < 1) reps = 1;
  if (first < 1) first = 1;
  if (last > 8) last = 8;

  static const char* const names[] = {"gen_orders.csv", "gen_logs.jsonl", "gen_random.bin",
                                      "gen_runs.bin",   "perl_modules.txt", "licenses.txt",
                                      "manual.txt",     "cmake.elf",       "libstdcxx.so"};
  std::vector<File> files;
  std::size_t total_in = 0;
  for (const char* name : names) {
    if (!only.empty() && only != name) continue;
    FILE* f = std::fopen((dir + name).c_str(), "rb");
    if (!f) {
      std::fprintf(stderr, "missing %s%s: make the corpus with make_corpus.py first\n", dir.c_str(), name);
      return 2;
    }
    File file{name, std::string()};
    char buf[65536];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) file.data.append(buf, n);
    std::fclose(f);
    total_in += file.data.size();
    files.push_back(std::move(file));
  }

  auto state = std::make_unique<quillon::DeflateState>();
  if (digest) {
    std::vector<char> out(1 << 20);
    for (int level = first; level <= last; level++) {
      for (const File& f : files) {
        std::size_t n = ours(*state, f.data, level, out);
        unsigned long crc = crc32(0, reinterpret_cast<const Bytef*>(out.data()), static_cast<uInt>(n));
        std::printf("%d %-18s %10zu %08lx\n", level, f.name.c_str(), n, crc);
      }
    }
    return 0;
  }
  std::printf("DEFLATE compressor vs zlib %s raw deflate (memLevel 8), best of %d processor times, corpus %s\n\n", zlibVersion(),
              reps, dir.c_str());

  if (last >= 8) {
    std::printf("Level 8 by file (size = quillon/zlib bytes, speed = quillon/zlib MB/s)\n\n");
    print_head("file");
    Figures total;
    total.ours_time = total.zlib_time = 0;
    for (const File& f : files) {
      Figures r = measure(*state, f.data, 8, reps);
      print_row(f.name.c_str(), f.data.size(), r);
      total.ours_size += r.ours_size;
      total.zlib_size += r.zlib_size;
      total.ours_time += r.ours_time;
      total.zlib_time += r.zlib_time;
    }
    print_row("total", total_in, total);
    std::printf("\n");
  }

  std::printf("Whole corpus by level\n\n");
  print_head("level");
  for (int level = first; level <= last; level++) {
    Figures total;
    total.ours_time = total.zlib_time = 0;
    for (const File& f : files) {
      Figures r = measure(*state, f.data, level, reps);
      total.ours_size += r.ours_size;
      total.zlib_size += r.zlib_size;
      total.ours_time += r.ours_time;
      total.zlib_time += r.zlib_time;
    }
    char name[16];
    std::snprintf(name, sizeof name, "%d", level);
    print_row(name, total_in, total);
  }
  return 0;
}
