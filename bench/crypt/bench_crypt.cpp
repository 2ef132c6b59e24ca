// The byte-wise file exports on a 64 MiB file: QCRYPT_encrypt and
// QCRYPT_decrypt against a plain buffered copy of the same file, and
// QCRYPT_makeKeys (one Blowfish block per byte) against openssl's Blowfish
// block rate (`openssl speed -evp bf-ecb`, 16 KiB blocks) in the same run.
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "platform/dir.h"
#include "platform/file.h"
#include "quillon.h"

#if defined(_WIN32)
#define popen _popen
#define pclose _pclose
#endif

namespace {

const size_t kSize = 64u << 20;

// Processor time of the process, system calls included: what the work costs,
// as openssl speed counts it, whatever else the machine is busy with.
double now() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

// Best time of `runs` runs of `body`, in seconds.
template <typename Body>
double best_time(int runs, Body body) {
  double best = 1e30;
  for (int i = 0; i < runs; ++i) {
    const double t0 = now();
    body();
    const double t = now() - t0;
    if (t < best) best = t;
  }
  return best;
}

double openssl_bf_rate() {
  double best = 0;
  for (int i = 0; i < 3; ++i) {
    FILE* p = popen("openssl speed -provider legacy -provider default -evp bf-ecb -bytes 16384 -seconds 2 -mr "
                    "2>/dev/null", "r");
    if (p == nullptr) return 0;
    char line[512];
    while (std::fgets(line, sizeof line, p)) {
      std::string s = line;
      if (s.rfind("+F:", 0) != 0) continue;
      const double v = std::atof(s.substr(s.rfind(':') + 1).c_str());
      if (v > best) best = v;
    }
    pclose(p);
  }
  return best;  // bytes per second
}

bool write_all(const std::string& path, const std::vector<unsigned char>& data) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
  return std::fclose(f) == 0 && ok;
}

void copy_buffered(const std::string& from, const std::string& to) {
  FILE* in = std::fopen(from.c_str(), "rb");
  FILE* out = std::fopen(to.c_str(), "wb+");
  std::vector<char> buf(1 << 16);
  size_t n;
  while ((n = std::fread(buf.data(), 1, buf.size(), in)) > 0) std::fwrite(buf.data(), 1, n, out);
  std::fclose(in);
  std::fclose(out);
}

}  // namespace

int main() {
  const std::string dir = qp::make_temp_directory("qbench-crypt-");
  const std::string plain = dir + "plain.bin", key = dir + "key.bin", enc = dir + "enc.bin", dec = dir + "dec.bin",
                    copy = dir + "copy.bin", k1 = dir + "k1.bin", k2 = dir + "k2.bin";
  std::vector<unsigned char> data(kSize);
  std::mt19937 gen(1);
  for (auto& b : data) b = static_cast<unsigned char>(gen());
  write_all(plain, data);
  for (auto& b : data) b = static_cast<unsigned char>(gen());
  write_all(key, data);

  const double mb = kSize / 1e6;
  std::printf("QCRYPT exports, 64 MiB file, best of 3 (processor time)\n");
  const double t_copy = best_time(3, [&] { copy_buffered(plain, copy); });
  std::printf("%-28s %8.0f MB/s\n", "buffered copy (64 KiB fread)", mb / t_copy);
  const double t_enc = best_time(3, [&] { QCRYPT_encrypt(plain.c_str(), enc.c_str(), key.c_str()); });
  std::printf("%-28s %8.0f MB/s   ratio to copy %.2f\n", "QCRYPT_encrypt", mb / t_enc, t_copy / t_enc);
  const double t_dec = best_time(3, [&] { QCRYPT_decrypt(dec.c_str(), enc.c_str(), key.c_str()); });
  std::printf("%-28s %8.0f MB/s   ratio to copy %.2f\n", "QCRYPT_decrypt", mb / t_dec, t_copy / t_dec);
  std::fflush(stdout);

  const double bf = openssl_bf_rate();
  const double t_keys = best_time(2, [&] { QCRYPT_makeKeys(plain.c_str(), k1.c_str(), k2.c_str(), "Kiwi"); });
  const double blocks = kSize / t_keys;  // one block per source byte
  if (bf > 0) {
    std::printf("%-28s %8.0f MB/s   %.1f M blocks/s; openssl bf-ecb %.1f M blocks/s (%.0f MB/s)   ratio %.2f\n",
                "QCRYPT_makeKeys", mb / t_keys, blocks / 1e6, bf / 8 / 1e6, bf / 1e6, blocks / (bf / 8));
  } else {
    std::printf("%-28s %8.0f MB/s   %.1f M blocks/s (openssl bf-ecb not available)\n", "QCRYPT_makeKeys",
                mb / t_keys, blocks / 1e6);
  }

  for (const std::string* p : {&plain, &key, &enc, &dec, &copy, &k1, &k2}) qp::delete_file(p->c_str());
  qp::remove_directory(dir.c_str());
  return 0;
}
