// MD5 and SHA-1 throughput on a 64 MiB buffer and through getHashFromFile,
// against `openssl speed -evp md5|sha1` (16 KiB blocks) run in the same go.
// Both sides are timed in processor time, best of several runs, so a busy
// machine disturbs the ratios as little as it can.
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "hash/md5.h"
#include "hash/md5_hex.h"
#include "hash/sha1.h"
#include "hash/sha1_hex.h"
#include "platform/dir.h"
#include "platform/file.h"

#if defined(_WIN32)
#define popen _popen
#define pclose _pclose
#endif

namespace {

const size_t kSize = 64u << 20;

double cpu_seconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

// Best rate in MB/s (10^6 bytes) of `runs` runs of `body` over `bytes` bytes.
template <typename Body>
double best_rate(size_t bytes, int runs, Body body) {
  double best = 0;
  for (int i = 0; i < runs; ++i) {
    const double t0 = cpu_seconds();
    body();
    const double t = cpu_seconds() - t0;
    if (t > 0 && bytes / t / 1e6 > best) best = bytes / t / 1e6;
  }
  return best;
}

// openssl's figure for 16 KiB blocks in MB/s, best of three runs; 0 when it
// cannot be run. `env` goes before the command (e.g. a capability mask).
double openssl_rate(const std::string& env, const std::string& args) {
  double best = 0;
  for (int i = 0; i < 3; ++i) {
    const std::string cmd = env + " openssl speed " + args + " -bytes 16384 -seconds 2 -mr 2>/dev/null";
    FILE* p = popen(cmd.c_str(), "r");
    if (p == nullptr) return 0;
    char line[512];
    while (std::fgets(line, sizeof line, p)) {
      // "+F:<n>:<name>:<bytes per second>"
      std::string s = line;
      if (s.rfind("+F:", 0) != 0) continue;
      const double v = std::atof(s.substr(s.rfind(':') + 1).c_str()) / 1e6;
      if (v > best) best = v;
    }
    pclose(p);
  }
  return best;
}

void report(const char* what, double ours, double peer, const char* peer_name) {
  if (peer > 0) {
    std::printf("%-34s %8.0f MB/s   %s %8.0f MB/s   ratio %.2f\n", what, ours, peer_name, peer, ours / peer);
  } else {
    std::printf("%-34s %8.0f MB/s   (%s not available)\n", what, ours, peer_name);
  }
  std::fflush(stdout);
}

std::string md5_buffer(const std::vector<unsigned char>& data) {
  quillon::Md5 e;
  quillon::MD5_CTX c;
  e.MD5Init(&c);
  e.MD5Update(&c, data.data(), static_cast<unsigned>(data.size()));
  unsigned char d[16];
  e.MD5Final(d, &c);
  return std::string(reinterpret_cast<char*>(d), 16);
}

std::string sha1_buffer(const std::vector<unsigned char>& data) {
  quillon::Sha1 e;
  quillon::SHA1_CTX c;
  e.SHA1Reset(&c);
  e.SHA1Input(&c, data.data(), static_cast<unsigned>(data.size()));
  unsigned char d[20];
  e.SHA1Result(&c, d);
  return std::string(reinterpret_cast<char*>(d), 20);
}

}  // namespace

int main() {
  std::vector<unsigned char> data(kSize);
  std::mt19937 gen(1);
  for (auto& b : data) b = static_cast<unsigned char>(gen());

  const std::string dir = qp::make_temp_directory("qbench-hash-");
  const std::string file = dir + "data.bin";
  if (FILE* f = std::fopen(file.c_str(), "wb")) {
    std::fwrite(data.data(), 1, data.size(), f);
    std::fclose(f);
  }

  std::printf("MD5 and SHA-1, 64 MiB, best of runs; openssl speed with 16 KiB blocks\n");
  volatile size_t sink = 0;
  const double openssl_md5 = openssl_rate("", "-evp md5");
  const double md5_buf = best_rate(kSize, 5, [&] { sink += md5_buffer(data).size(); });
  report("MD5 buffer", md5_buf, openssl_md5, "openssl");
  quillon::Md5Hex md5w;
  const double md5_file = best_rate(kSize, 3, [&] { sink += md5w.getHashFromFile(file).size(); });
  report("MD5 getHashFromFile", md5_file, openssl_md5, "openssl");

  const double openssl_sha1 = openssl_rate("", "-evp sha1");
  const bool hw = quillon::sha1_use_hardware(true);
  const double sha1_buf = best_rate(kSize, 5, [&] { sink += sha1_buffer(data).size(); });
  report(hw ? "SHA-1 buffer (SHA instructions)" : "SHA-1 buffer (portable)", sha1_buf, openssl_sha1, "openssl");
  quillon::Sha1Hex sha1w;
  const double sha1_file = best_rate(kSize, 3, [&] { sink += sha1w.getHashFromFile(file).size(); });
  report("SHA-1 getHashFromFile", sha1_file, openssl_sha1, "openssl");

  // The portable path against openssl with its SHA instructions masked off.
  quillon::sha1_use_hardware(false);
  const double openssl_sha1_plain = openssl_rate("OPENSSL_ia32cap=:~0x20000000", "-evp sha1");
  const double sha1_plain = best_rate(kSize, 5, [&] { sink += sha1_buffer(data).size(); });
  report("SHA-1 buffer (portable)", sha1_plain, openssl_sha1_plain, "openssl w/o SHA");
  quillon::sha1_use_hardware(true);

  qp::delete_file(file.c_str());
  qp::remove_directory(dir.c_str());
  return 0;
}
