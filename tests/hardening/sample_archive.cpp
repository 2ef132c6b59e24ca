#include "hardening/sample_archive.h"

#include <cstdlib>
#include <stdexcept>

#include "zip/zip/zip.h"

using namespace quillon;

namespace hardening {

uint32_t get16(const std::string& b, size_t at) {
  return uint32_t(uint8_t(b[at])) | uint32_t(uint8_t(b[at + 1])) << 8;
}

uint32_t get32(const std::string& b, size_t at) { return get16(b, at) | get16(b, at + 2) << 16; }

namespace {

void put32(std::string& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>(v >> (8 * i));
}

std::string text(size_t n, uint32_t seed) {
  static const char* const words[] = {"quill ", "ink ", "paper\n", "zip ", "archive ", "0123 "};
  std::string s;
  uint32_t x = seed;
  while (s.size() < n) {
    x = x * 1103515245u + 12345u;
    s += words[(x >> 16) % 6];
  }
  s.resize(n);
  return s;
}

// A memory archive from the writer; `password` enciphers its file items.
std::string write_archive(const std::vector<SampleEntry>& entries, const char* password) {
  std::vector<char> block(1 << 20);
  HZIP hz = CreateZip(block.data(), static_cast<uint32_t>(block.size()), password);
  if (hz == nullptr) throw std::runtime_error("CreateZip");
  for (const SampleEntry& e : entries) {
    const ZIPRESULT r = e.folder ? ZipAddFolder(hz, e.name.c_str())
                                 : ZipAdd(hz, e.name.c_str(), e.data.data(), static_cast<uint32_t>(e.data.size()));
    if (r != ZIPR_OK) throw std::runtime_error("ZipAdd " + e.name);
  }
  void* p = nullptr;
  uint32_t n = 0;
  if (ZipGetMemory(hz, &p, &n) != ZIPR_OK) throw std::runtime_error("ZipGetMemory");
  std::string bytes(static_cast<const char*>(p), n);
  CloseZipZ(hz);
  return bytes;
}

struct Parts {
  std::string local, central;
  uint32_t count;
};

Parts split(const std::string& z) {
  const size_t end = z.size() - 22;
  const uint32_t count = get16(z, end + 10), size = get32(z, end + 12), offset = get32(z, end + 16);
  return Parts{z.substr(0, offset), z.substr(offset, size), count};
}

std::string end_record(uint32_t count, size_t size, size_t offset) {
  std::string e("PK\x05\x06", 4);
  e += std::string(4, '\0');
  e += static_cast<char>(count);
  e += static_cast<char>(count >> 8);
  e += static_cast<char>(count);
  e += static_cast<char>(count >> 8);
  e += std::string(10, '\0');
  put32(e, 12, static_cast<uint32_t>(size));
  put32(e, 16, static_cast<uint32_t>(offset));
  return e;
}

}  // namespace

Sample make_sample(size_t scale) {
  Sample s;
  // The writer enciphers every file item of an archive that has a password,
  // so the encrypted entry comes from an archive of its own and the two
  // archives are joined: the second one's local offsets move up.
  const std::vector<SampleEntry> plain = {{"stored.zip", text(60 * scale, 1), false},
                                          {"deflated.txt", text(400 * scale, 2), false},
                                          {"folder/", "", true}};
  const std::vector<SampleEntry> locked = {{"secret.txt", text(150 * scale, 3), false}};
  const Parts a = split(write_archive(plain, nullptr));
  const Parts b = split(write_archive(locked, kPassword));
  std::string central_b = b.central;
  for (size_t at = 0; at < central_b.size();) {
    put32(central_b, at + 42, get32(central_b, at + 42) + static_cast<uint32_t>(a.local.size()));
    at += 46 + get16(central_b, at + 28) + get16(central_b, at + 30) + get16(central_b, at + 32);
  }
  const std::string local = a.local + b.local, central = a.central + central_b;
  s.bytes = local + central + end_record(a.count + b.count, central.size(), local.size());
  s.directory_offset = local.size();
  s.entries = plain;
  s.entries.push_back(locked[0]);

  for (size_t at = s.directory_offset; at < s.directory_offset + central.size();) {
    const size_t len = 46 + get16(s.bytes, at + 28) + get16(s.bytes, at + 30) + get16(s.bytes, at + 32);
    const size_t local_at = get32(s.bytes, at + 42);
    s.headers.emplace_back(local_at, local_at + 30 + get16(s.bytes, local_at + 26) + get16(s.bytes, local_at + 28));
    s.headers.emplace_back(at, at + len);
    at += len;
  }
  s.headers.emplace_back(s.bytes.size() - 22, s.bytes.size());
  return s;
}

std::string cut_inside_data(const Sample& s, size_t keep) {
  std::string z = s.bytes.substr(0, keep) + s.bytes.substr(s.directory_offset);
  put32(z, z.size() - 22 + 16, static_cast<uint32_t>(keep));
  return z;
}

}  // namespace hardening
