// Lays out small ZIP archives byte by byte for the reader's tests: stored or
// deflated entries, optional traditional encryption and data descriptors,
// and every field open to tampering.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace ziptest {

struct Entry {
  Entry() = default;
  Entry(std::string n, std::string d, uint16_t m = 0) : name(std::move(n)), data(std::move(d)), method(m) {}
  std::string name;
  std::string data;
  uint16_t method = 0;               // 0 stored, 8 deflated
  const char* password = nullptr;    // encrypted when set
  bool descriptor = false;           // flag bit 3, zeros in the local header, a data descriptor after the data
  uint16_t version_made_by = 0x0314;  // host 3 (Unix)
  uint32_t external = 0x81A40000;     // -rw-r--r--
  uint32_t dos_datetime = 0x59A16C21; // 2024-09-01 13:33:02
  std::string local_extra;
  std::string central_extra;
  std::string comment;
};

struct Layout {
  std::string bytes;
  std::vector<uint32_t> local_offsets;    // of each local header
  std::vector<uint32_t> central_offsets;  // of each central record
  uint32_t end_offset = 0;                // of the end record
};

// The archive, after `prefix` (whose bytes the offsets do not count, as when
// an archive is appended to other data).
Layout build(const std::vector<Entry>& entries, const std::string& comment = "", const std::string& prefix = "");
inline std::string build_bytes(const std::vector<Entry>& entries, const std::string& comment = "",
                               const std::string& prefix = "") {
  return build(entries, comment, prefix).bytes;
}

// Raw DEFLATE of `data` (zlib, no header).
std::string deflate_raw(const std::string& data, int level = 6);

// An extended-timestamp block with the given flags and times.
std::string ut_block(uint8_t flags, const std::vector<uint32_t>& times);

uint32_t crc_of(const std::string& data);
void put16(std::string& s, size_t at, uint16_t v);
void put32(std::string& s, size_t at, uint32_t v);
uint32_t get32(const std::string& s, size_t at);

// Bytes with some structure and some noise, the same for the same seed.
std::string sample(size_t n, uint32_t seed = 1);

}  // namespace ziptest
