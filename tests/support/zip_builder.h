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

// Archives whose entries overlap, each expanding a deflated kernel of
// `kernel_size` zero bytes many times over (zip bombs). Every field that a
// reader compares agrees.
// Full overlap: `entries` central records, with names of equal length, all
// pointing at the one local header (of the first), whose data is the kernel.
std::string full_overlap_archive(int entries, size_t kernel_size);
// Quoted overlap: each entry's data begins with a stored DEFLATE block that
// quotes the next entry's local header, then runs on through the next
// entry's data; the last entry's data is the kernel alone, so that each
// entry expands to the kernel and every header after its own.
std::string quoted_overlap_archive(int entries, size_t kernel_size);

// Bytes with some structure and some noise, the same for the same seed.
std::string sample(size_t n, uint32_t seed = 1);

}  // namespace ziptest
