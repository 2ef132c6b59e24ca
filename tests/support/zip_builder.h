// Archives for the tests that read or break them. `build` lays out small ZIP
// archives byte by byte: stored or deflated entries, optional traditional
// encryption and data descriptors, and every field open to tampering.
// `make_sample` takes a small archive from the library's own writer and
// notes where each of its headers lies.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "zip/format/zip_result.h"

namespace ziptest {

struct Entry {
  Entry() = default;
  Entry(std::string n, std::string d, uint16_t m = 0) : name(std::move(n)), data(std::move(d)), method(m) {}
  std::string name;
  std::string data;
  uint16_t method = 0;               // 0 stored, 8 deflated
  std::string deflated;              // with method 8: the stream stored, when not data's own
  const char* password = nullptr;    // encrypted when set
  bool descriptor = false;           // flag bit 3, zeros in the local header, a data descriptor after the data
  uint16_t more_flags = 0;           // further flag bits (0x800: the name is UTF-8)
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

// An extended-timestamp block with the given flags and times.
std::string ut_block(uint8_t flags, const std::vector<uint32_t>& times);

uint32_t crc_of(const std::string& data);

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

// The writer's sample: a stored entry, a deflated one, a folder and an
// encrypted one (its password kPassword), with the byte ranges of every
// header in it.
constexpr const char* kPassword = "pw";

struct SampleEntry {
  std::string name;  // as stored
  std::string data;
  bool folder;
};

struct Sample {
  std::string bytes;
  std::vector<SampleEntry> entries;  // in directory order
  // [begin, end) of each local header (with name and extra field), each
  // central header (with its variable part), and the end record.
  std::vector<std::pair<size_t, size_t>> headers;
  size_t directory_offset = 0;  // where the local section ends
};

// Builds the sample; `scale` multiplies the data sizes (1 keeps it small).
Sample make_sample(size_t scale = 1);

// The sample with its local section cut at `keep` bytes and the central
// directory moved up behind it (its offset corrected), as a transfer that
// lost the end of the entries' data would leave it.
std::string cut_inside_data(const Sample& s, size_t keep);

// Ends a memory archive that CreateZip made and closes it: its bytes, empty
// when it did not end (a test failure).
std::string finish_memory(quillon::HZIP hz);

}  // namespace ziptest
