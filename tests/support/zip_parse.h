// A small, independent reader of the archives the writer makes, for tests:
// every record field as it lies in the file, and each entry's data
// deciphered and inflated (with zlib). It knows the record layouts itself
// and shares none of the library's record code.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace ztest {

// Sizes and offsets are the true values: those of a Zip64 block where the
// 32-bit field reads 0xFFFFFFFF. The raw_ fields hold what the 32-bit fields
// say, and zip64 / l_zip64 the values of the Zip64 blocks, in order.
struct Entry {
  // Central directory header.
  uint16_t made_by = 0, needed = 0, flags = 0, method = 0;
  uint32_t stamp = 0, crc = 0, external_attr = 0;
  uint64_t csize = 0, usize = 0, offset = 0;
  uint32_t raw_csize = 0, raw_usize = 0, raw_offset = 0;
  uint16_t internal_attr = 0, disk = 0;
  std::string name, central_extra, comment;
  std::vector<uint64_t> zip64;
  // Local header.
  uint16_t l_needed = 0, l_flags = 0, l_method = 0;
  uint32_t l_stamp = 0, l_crc = 0;
  uint64_t l_csize = 0, l_usize = 0;
  uint32_t l_raw_csize = 0, l_raw_usize = 0;
  std::string l_name, local_extra;
  std::vector<uint64_t> l_zip64;
  size_t data_pos = 0;  // first byte after the local extra field
  // Data descriptor, when one follows the data (24 bytes with Zip64 sizes).
  bool has_descriptor = false;
  uint32_t d_crc = 0;
  uint64_t d_csize = 0, d_usize = 0;
};

struct Archive {
  std::string error;  // empty when the archive parsed
  uint16_t count_disk = 0, count_total = 0;  // as the end record says
  uint64_t cd_size = 0, cd_offset = 0;       // true values
  uint32_t raw_cd_size = 0, raw_cd_offset = 0;
  // The Zip64 end record and its locator, when the archive has them.
  bool has_zip64_end = false;
  uint64_t zip64_count_disk = 0, zip64_count_total = 0;
  uint16_t zip64_needed = 0;
  size_t zip64_end_pos = 0;
  size_t end_pos = 0;
  std::vector<Entry> entries;  // walked by the directory's size, not its count
};

// Parses an archive whose end record is the last 22 bytes. Offsets in the
// records are taken as absolute positions in `bytes`.
Archive parse(const std::string& bytes);

// The entry's data: deciphered with `password` when flagged, inflated when
// deflated. `error` is set when that fails or the CRC disagrees.
std::string data_of(const std::string& bytes, const Entry& e, const char* password, std::string* error);

// The 12 deciphered bytes of an entry's encryption header.
std::string encryption_header(const std::string& bytes, const Entry& e, const char* password);

}  // namespace ztest
