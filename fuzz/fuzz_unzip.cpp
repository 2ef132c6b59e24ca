// Fuzzes the archive reader: the input is opened as a memory archive, every
// entry is described, looked up by name and extracted to memory in pieces,
// and the reader's own walk, comment and local extra field are read with
// small buffers. Output paths made from the entry names must never climb,
// and the entries that open must not overlap.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "zip/api/close_handle.h"
#include "zip/read/directory.h"
#include "zip/read/reader.h"

using namespace quillon;

namespace {

// Bytes inflated per input at most, so that a compression bomb costs time
// in proportion to its input rather than to what it claims.
constexpr size_t kOutputBudget = 4u << 20;

// A step the system reads as the folder itself or its parent: on Windows
// any step of dots and blanks, elsewhere "." and "..".
bool is_dot_step(const std::string& s, size_t from, size_t to) {
#ifdef _WIN32
  for (size_t i = from; i < to; ++i)
    if (s[i] != '.' && s[i] != ' ') return false;
  return true;
#else
  const std::string step = s.substr(from, to - from);
  return step == "." || step == "..";
#endif
}

// Every step of a relative output path stays put.
void check_output_path(const char* name) {
  if (name[0] == '/' || name[0] == '\\' || (name[0] != '\0' && name[1] == ':')) std::abort();  // cleaned names are relative
  OutputPath out;
  if (!MakeOutputPath(name, &out)) return;
  if (out.absolute) std::abort();
  const std::string all = out.dirs + out.file;
  size_t start = 0;
  for (size_t i = 0; i <= all.size(); ++i) {
    if (i == all.size() || all[i] == '/' || all[i] == '\\') {
      if (i > start && is_dot_step(all, start, i)) std::abort();
      if (i == start && i < all.size()) std::abort();  // an empty step: a doubled or leading separator
      start = i + 1;
    }
  }
}

void walk_reader(const uint8_t* data, size_t size) {
  ZIPRESULT err;
  ByteSource* f = open_byte_source(data, static_cast<uint32_t>(size), ZIPSRC_MEMORY, &err);
  ZipArchive* s = open_archive_raw(f);
  if (s == nullptr) return;
  char comment[40];
  read_archive_comment(s, comment, sizeof comment);
  // The bytes of every entry that opens, from its local header to the end
  // of its data: they never overlap, nor reach into the directory.
  std::vector<std::pair<uint64_t, uint64_t>> spans;
  for (int i = 0; i < 64; ++i) {
    char name[9], extra[7], note[5];
    EntryRecord info;
    read_entry_record(s, &info, name, sizeof name, extra, sizeof extra, note, sizeof note);
    if (open_entry_stream(s, nullptr) == kReadOk) {
      const uint64_t local_extra_size = s->local_header.extra.size();
      if (!s->local_header.read || s->local_header.var_size != s->entry.central.name_length + local_extra_size)
        std::abort();
      const uint64_t from = s->entry.local_header_offset;
      spans.emplace_back(from, from + 30 + s->entry.central.name_length + local_extra_size +
                                   s->entry.compressed_size);
      close_entry_stream(s);
    }
    if (go_to_next_entry(s) != kReadOk) break;
  }
  std::sort(spans.begin(), spans.end());
  for (size_t i = 0; i < spans.size(); ++i) {
    if (spans[i].second > s->directory_offset) std::abort();
    if (i > 0 && spans[i].first < spans[i - 1].second) std::abort();
  }
  locate_entry(s, "a.txt", 2);
  close_archive(s);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  walk_reader(data, size);

  HZIP h = OpenZip(data, static_cast<uint32_t>(size), "pw");
  if (h == nullptr) return 0;
  ZIPENTRY ze;
  GetZipItem(h, -1, &ze);
  const int count = ze.index;
  size_t budget = kOutputBudget;
  std::vector<char> buf(4096);
  for (int i = 0; i < count && i < 512; ++i) {
    if (GetZipItem(h, i, &ze) == ZIPR_OK) {
      if (std::strlen(ze.name) >= sizeof ze.name) std::abort();
      check_output_path(ze.name);
      int found = -1;
      FindZipItem(h, ze.name, (i & 1) != 0, &found, nullptr);
    }
    const uint32_t piece = 1 + static_cast<uint32_t>((i * 7919u + size) % buf.size());
    while (budget > 0) {
      const ZIPRESULT r = UnzipItem(h, i, buf.data(), piece);
      budget = budget > piece ? budget - piece : 0;
      if (r != ZIPR_MOREDATA) break;
    }
  }
  CloseZipU(h);
  return 0;
}
