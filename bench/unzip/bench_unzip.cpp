// Extraction speed: UNZIP (through the library, in this process) against
// `unzip -o -q`, `7z x`, `bsdtar -xf` and Python's zipfile.extractall (as
// subprocesses) on one archive of the common corpus, packed by Python's
// zipfile at compresslevel 8. Best of 5 runs, each into a fresh folder.
// zlib's raw inflate of the same entries into memory is the ceiling.
//
// Usage: bench_unzip [CORPUS_DIR [WORK_DIR]]   (defaults: build/corpus, build/bench-unzip)
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "quillon.h"
#include "zip/common/records.h"

namespace fs = std::filesystem;

namespace {

constexpr int kRuns = 5;

double best_of(const std::function<void()>& prepare, const std::function<bool()>& run, bool* ok) {
  double best = 1e30;
  *ok = true;
  for (int i = 0; i < kRuns; ++i) {
    prepare();
    const auto start = std::chrono::steady_clock::now();
    *ok = run() && *ok;
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    best = std::min(best, s);
  }
  return best;
}

std::string read_all(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

std::string quote(const fs::path& p) { return "'" + p.string() + "'"; }

// Inflates every deflated entry of the archive into memory with zlib alone.
// Returns the bytes produced, 0 on any surprise.
size_t inflate_all(const std::string& zip) {
  using quillon::get16;
  using quillon::get32;
  const unsigned char* z = reinterpret_cast<const unsigned char*>(zip.data());
  const size_t end = zip.rfind("PK\x05\x06");
  if (end == std::string::npos) return 0;
  const uint32_t count = get16(z + end + 10);
  size_t at = get32(z + end + 16);
  size_t produced = 0;
  std::vector<unsigned char> out(16384);
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t method = get16(z + at + 10), csize = get32(z + at + 20);
    const uint32_t local = get32(z + at + 42);
    const size_t data = local + 30 + get16(z + local + 26) + get16(z + local + 28);
    at += 46 + get16(z + at + 28) + get16(z + at + 30) + get16(z + at + 32);
    if (method != 8) continue;
    z_stream s{};
    inflateInit2(&s, -15);
    s.next_in = const_cast<Bytef*>(z + data);
    s.avail_in = csize;
    int r;
    do {
      s.next_out = out.data();
      s.avail_out = static_cast<uInt>(out.size());
      r = inflate(&s, Z_SYNC_FLUSH);
    } while (r == Z_OK);
    produced += s.total_out;
    inflateEnd(&s);
    if (r != Z_STREAM_END) return 0;
  }
  return produced;
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path corpus = fs::absolute(argc > 1 ? argv[1] : "build/corpus");
  const fs::path work = fs::absolute(argc > 2 ? argv[2] : "build/bench-unzip");
  if (!fs::is_directory(corpus)) {
    std::fprintf(stderr, "no corpus at %s: run /usr/bin/python3 make_corpus.py %s first\n", corpus.string().c_str(),
                 corpus.string().c_str());
    return 2;
  }
  fs::remove_all(work);
  fs::create_directories(work);
  const fs::path archive = work / "corpus.zip";
  const std::string pack = "/usr/bin/python3 -c \"import os, sys, zipfile\n"
                           "src, dst = sys.argv[1], sys.argv[2]\n"
                           "with zipfile.ZipFile(dst, 'w', zipfile.ZIP_DEFLATED, compresslevel=8) as z:\n"
                           "    for n in sorted(os.listdir(src)): z.write(os.path.join(src, n), n)\n\" " +
                           quote(corpus) + " " + quote(archive);
  if (std::system(pack.c_str()) != 0) {
    std::fprintf(stderr, "packing the corpus failed\n");
    return 1;
  }
  const std::string zip = read_all(archive);
  uintmax_t total = 0;
  std::vector<fs::path> files;
  for (const auto& e : fs::directory_iterator(corpus))
    if (e.is_regular_file()) {
      files.push_back(e.path());
      total += e.file_size();
    }
  std::printf("archive: %zu files, %.1f MB -> %.1f MB (Python zipfile, level 8)\n", files.size(), total / 1e6,
              zip.size() / 1e6);

  const fs::path out = work / "out";
  auto fresh = [&] {
    fs::remove_all(out);
    fs::create_directories(out);
  };
  struct Row {
    std::string name;
    double seconds;
    bool ok;
  };
  std::vector<Row> rows;
  bool ok;

  double s = best_of(fresh, [&] { return UNZIP(archive.string().c_str(), out.string().c_str()) == 1.0; }, &ok);
  // The extraction must be exact before its speed means anything.
  for (const fs::path& f : files) ok = ok && read_all(out / f.filename()) == read_all(f);
  rows.push_back({"UNZIP (libquillon)", s, ok});
  const double ours = s;

  const struct {
    const char* name;
    std::string command;
  } peers[] = {
      {"unzip -o -q", "unzip -o -q " + quote(archive) + " -d " + quote(out)},
      {"7z x", "7z x -y -bd -o" + quote(out) + " " + quote(archive) + " >/dev/null"},
      {"bsdtar -xf", "bsdtar -xf " + quote(archive) + " -C " + quote(out)},
      {"python zipfile.extractall", "/usr/bin/python3 -c \"import sys, zipfile; "
                                    "zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])\" " +
                                        quote(archive) + " " + quote(out)},
  };
  double fastest_peer = 1e30;
  for (const auto& p : peers) {
    s = best_of(fresh, [&] { return std::system(p.command.c_str()) == 0; }, &ok);
    rows.push_back({p.name, s, ok});
    if (ok) fastest_peer = std::min(fastest_peer, s);
  }
  size_t inflated = 0;
  s = best_of([] {}, [&] { return (inflated = inflate_all(zip)) > 0; }, &ok);
  const double ceiling = s;

  std::printf("\n%-28s %10s %10s %12s\n", "extract", "seconds", "MB/s", "vs UNZIP");
  for (const Row& r : rows) {
    std::printf("%-28s %10.4f %10.1f %11.2fx%s\n", r.name.c_str(), r.seconds, total / r.seconds / 1e6,
                r.seconds / ours, r.ok ? "" : "  (FAILED)");
  }
  std::printf("%-28s %10.4f %10.1f %11.2fx  (deflated entries into memory, no CRC, no files)\n",
              "zlib raw inflate alone", ceiling, inflated / ceiling / 1e6, ceiling / ours);
  std::printf("\nUNZIP vs the fastest peer: %.2fx faster; inflate alone takes %.0f%% of UNZIP's time\n",
              fastest_peer / ours, 100.0 * ceiling / ours);
  fs::remove_all(out);
  return rows[0].ok ? 0 : 1;
}
