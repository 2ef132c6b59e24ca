// Opening time of a large archive: OpenZip on an archive of many small
// entries (70,000 by default, packed by Python's zipfile), then CloseZipU.
// Opening walks the whole central directory once, so this follows the
// directory's length. Best of 15 runs, after one warm-up that brings the file
// into the cache.
//
// Usage: bench_open [ARCHIVE]   (default: build/bench-open/many.zip, made
// with /usr/bin/python3 when it is missing; under Wine, pass the archive
// that the Linux build made)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "zip/api/close_handle.h"
#include "zip/format/zip_result.h"
#include "zip/read/reader.h"

namespace fs = std::filesystem;
using namespace quillon;

namespace {

constexpr int kRuns = 15;
constexpr int kEntries = 70000;

// Packs the entries with zipfile, which adds ZIP64 end records past 65,535
// entries; they are taken off again, and the classic end record states the
// count modulo 65,536, as writers without ZIP64 leave it: the reader finds
// the true count by walking the directory.
const char* const kMakeArchive = R"(import struct, sys, zipfile
path, count = sys.argv[1], int(sys.argv[2])
with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
    for i in range(count):
        z.writestr("dir%03d/file%06d.txt" % (i // 1000, i), "entry %d\n" % i)
data = open(path, "rb").read()
end = data.rfind(b"PK\x05\x06")
size, offset = struct.unpack("<II", data[end + 12:end + 20])
record = data[end:end + 8] + struct.pack("<HHIIH", count & 0xFFFF, count & 0xFFFF, size, offset, 0)
open(path, "wb").write(data[:offset + size] + record)
)";

}  // namespace

int main(int argc, char** argv) {
  fs::path archive = argc > 1 ? fs::path(argv[1]) : fs::absolute("build/bench-open/many.zip");
  if (argc <= 1 && !fs::exists(archive)) {
    fs::create_directories(archive.parent_path());
    const fs::path script = archive.parent_path() / "make_many.py";
    std::FILE* f = std::fopen(script.string().c_str(), "w");
    if (f == nullptr) return 1;
    std::fputs(kMakeArchive, f);
    std::fclose(f);
    const std::string make = "/usr/bin/python3 '" + script.string() + "' '" + archive.string() + "' " +
                             std::to_string(kEntries);
    if (std::system(make.c_str()) != 0) {
      std::fprintf(stderr, "making the archive failed\n");
      return 1;
    }
  }
  // Wall time, and clock() time: the process's processor time on Linux,
  // which a busy machine disturbs less (the Windows runtime's clock() is
  // wall time).
  double best = 1e30, best_clock = 1e30;
  int count = -1;
  for (int run = 0; run <= kRuns; ++run) {
    const auto start = std::chrono::steady_clock::now();
    const std::clock_t clock_start = std::clock();
    HZIP h = OpenZip(archive.string().c_str(), nullptr);
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double took_clock = double(std::clock() - clock_start) / CLOCKS_PER_SEC;
    if (h == nullptr) {
      std::fprintf(stderr, "%s does not open\n", archive.string().c_str());
      return 1;
    }
    ZIPENTRY ze;
    GetZipItem(h, -1, &ze);
    count = ze.index;
    CloseZipU(h);
    if (run > 0) {
      best = std::min(best, took);
      best_clock = std::min(best_clock, took_clock);
    }
  }
  std::printf("OpenZip of %s: %d entries, %.1f MB; best of %d: %.2f ms wall, %.2f ms clock()\n",
              archive.filename().string().c_str(), count, fs::file_size(archive) / 1e6, kRuns, best * 1e3,
              best_clock * 1e3);
  return 0;
}
