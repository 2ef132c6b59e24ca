// Lookups by name in a memory archive. The first input byte gives the
// length of a name to look for, the rest is the archive. Each stored name of
// the first entries must be found, at its own index or at an earlier entry
// of the same name, in both case modes; the fuzzed name, found or not, must
// leave the handle usable, and a failed lookup must clear its outputs.
// Describing every entry, last to first, must cost a bounded number of
// reads per entry: a walk that starts over for each one aborts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "zip/api/close_handle.h"
#include "zip/read/directory.h"
#include "zip/read/reader.h"

using namespace quillon;

namespace {

// The stored names of the first entries, as the reader walks them; empty
// for an entry whose record cannot be read or whose name is too long to
// look up.
std::vector<std::string> stored_names(const uint8_t* data, size_t size, size_t limit) {
  std::vector<std::string> names;
  ZIPRESULT err;
  ByteSource* f = open_byte_source(data, static_cast<uint32_t>(size), ZIPSRC_MEMORY, &err);
  ZipArchive* s = open_archive_raw(f);
  if (s == nullptr) return names;
  // The first record is read at the open even when the archive states no
  // entries; only the stated entries count.
  const size_t stated = s->entry_count;
  while (names.size() < limit && names.size() < stated && s->entry_ok) {
    char name[257];
    EntryRecord info;
    if (read_entry_record(s, &info, name, sizeof name, nullptr, 0, nullptr, 0) != kReadOk) break;
    names.push_back(info.central.name_length < 256 && std::strlen(name) == info.central.name_length ? name : "");
    if (go_to_next_entry(s) != kReadOk) break;
  }
  close_archive(s);
  return names;
}

void check_lookup(HZIP h, const char* name, bool ignore_case, int count) {
  int index = -7;
  ZIPENTRY ze;
  std::memset(&ze, 0x5A, sizeof ze);
  const ZIPRESULT r = FindZipItem(h, name, ignore_case, &index, &ze);
  if (r == ZIPR_NOTFOUND) {
    if (index != -1 || ze.index != -1 || ze.name[0] != '\0') std::abort();
  } else if (r == ZIPR_OK) {
    if (index < 0 || index >= count || ze.index != index) std::abort();
  } else {
    // Found, but the entry cannot be described: the index is still given.
    if (index < 0 || index >= count) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > (1u << 20)) return 0;
  const size_t name_len = data[0] < size - 1 ? data[0] : size - 1;
  const std::string wanted(reinterpret_cast<const char*>(data + 1), name_len);
  const uint8_t* zip = data + 1 + name_len;
  const size_t zip_size = size - 1 - name_len;

  HZIP h = OpenZip(zip, static_cast<uint32_t>(zip_size), nullptr);
  if (h == nullptr) return 0;
  ZIPENTRY ze;
  GetZipItem(h, -1, &ze);
  const int count = ze.index;

  check_lookup(h, wanted.c_str(), false, count);
  check_lookup(h, wanted.c_str(), true, count);
  if (count > 0) {
    // The walk still works after any lookup.
    GetZipItem(h, count - 1, &ze);
    GetZipItem(h, 0, &ze);
  }

  CloseZipU(h);

  // Every entry described against archive order, on a handle of its own.
  const uint64_t reads_before = source_reads_so_far();
  h = OpenZip(zip, static_cast<uint32_t>(zip_size), nullptr);
  if (h == nullptr) std::abort();
  for (int i = count; i-- > 0;) GetZipItem(h, i, &ze);
  CloseZipU(h);
  if (source_reads_so_far() - reads_before > 16 * uint64_t(count) + 64) std::abort();

  h = OpenZip(zip, static_cast<uint32_t>(zip_size), nullptr);
  if (h == nullptr) std::abort();
  const std::vector<std::string> names = stored_names(zip, zip_size, 32);
  for (size_t i = 0; i < names.size(); ++i) {
    if (names[i].empty()) continue;
    for (bool ignore_case : {false, true}) {
      int index = -1;
      const ZIPRESULT r = FindZipItem(h, names[i].c_str(), ignore_case, &index, nullptr);
      if (r != ZIPR_OK || index < 0 || index > static_cast<int>(i)) std::abort();
    }
  }
  CloseZipU(h);
  return 0;
}
