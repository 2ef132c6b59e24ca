// The entry stream: one entry's bytes, read in 16 KiB chunks, deciphered in
// place when the entry is encrypted, copied or inflated (raw DEFLATE, zlib)
// straight into the caller's buffer, with the CRC-32 folded as they pass.
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "zip/format/cipher.h"
#include "zip/format/crc32.h"
#include "zip/format/records.h"
#include "zip/read/directory.h"

namespace quillon {

struct EntryStream {
  EntryStream() : input_buffer(kEntryChunkSize) {}
  ~EntryStream() {
    if (inflater_ready) inflateEnd(&inflater);
  }
  EntryStream(const EntryStream&) = delete;
  EntryStream& operator=(const EntryStream&) = delete;

  std::vector<unsigned char> input_buffer;  // kEntryChunkSize bytes
  z_stream inflater{};
  uint64_t next_read_offset = 0;          // archive-relative offset of the next input byte
  bool inflater_ready = false;
  uint32_t crc_so_far = 0;
  uint32_t crc_expected = 0;
  uint64_t compressed_left = 0;
  uint64_t uncompressed_left = 0;
  ByteSource* source = nullptr;               // the archive's, not owned
  uint32_t method = 0;
  uint64_t leading_bytes = 0;
  bool encrypted = false;
  uint32_t keys[3] = {0, 0, 0};
  uint32_t header_left = 0;               // encryption header bytes still to read and check
  unsigned char check_byte = 0;
};

void EntryStreamDeleter::operator()(EntryStream* st) const { delete st; }

namespace {

// Reads the current entry's local header and its extra field into *local
// and checks the header against the central record; see ReadLocalHeader.
int read_and_check_local_header(ZipArchive* s, LocalHeaderFacts* local) {
  ByteSource* f = s->source.get();
  const uint64_t at = s->entry.local_header_offset;
  if (source_seek(f, int64_t(s->leading_bytes + at), qp::SeekFrom::Begin) != kReadOk) return kReadIoError;
  unsigned char r[LocalHeader::kSize];
  const size_t got = source_read(r, 1, LocalHeader::kSize, f);
  if (got < LocalHeader::kSize) {
    if (source_failed(f)) return kReadIoError;
    std::memset(r + got, 0, LocalHeader::kSize - got);  // bytes past the end read as zero
  }
  const EntryRecord& central = s->entry;
  LocalHeader header;
  if (!header.decode(r, sizeof r)) return kReadBadArchive;
  const uint32_t method = header.method;
  if (method != central.central.method || (method != kMethodStored && method != kMethodDeflated))
    return kReadBadArchive;
  const bool descriptor = (header.flags & kFlagDataDescriptor) != 0;
  const uint32_t name_length = header.name_length;
  const uint32_t extra_length = header.extra_length;
  if (extra_length > 0) {
    local->extra.resize(extra_length);
    const uint64_t extra_at = s->leading_bytes + at + LocalHeader::kSize + name_length;
    local->extra_read = source_seek(f, int64_t(extra_at), qp::SeekFrom::Begin) == kReadOk &&
                        source_read(local->extra.data(), extra_length, 1, f) == 1;
  }
  uint64_t compressed_size = header.compressed_size, uncompressed_size = header.uncompressed_size;
  if (!descriptor && extra_length > 0 && (compressed_size == kZip64Marker || uncompressed_size == kZip64Marker)) {
    // Zip64 sizes in the local header (APPNOTE 4.5.3): the marked fields
    // take their values from the local extra field's Zip64 block. They must
    // agree with the central record like the 32-bit ones.
    if (!local->extra_read) return kReadIoError;
    apply_zip64_extra(local->extra.data(), extra_length, true, &uncompressed_size, &compressed_size, nullptr);
  }
  if (!descriptor && (header.crc != central.central.crc || compressed_size != central.compressed_size ||
                      uncompressed_size != central.uncompressed_size))
    return kReadBadArchive;
  if (name_length != central.central.name_length) return kReadBadArchive;
  local->var_size = name_length + extra_length;
  return kReadOk;
}

}  // namespace

int read_local_header(ZipArchive* s) {
  if (s->local_header.read) return s->local_header.status;
  // Kept only once complete: memory running out on the way leaves the
  // header to be read again.
  LocalHeaderFacts local;
  local.status = read_and_check_local_header(s, &local);
  local.read = true;
  s->local_header = std::move(local);
  return s->local_header.status;
}

// An entry's bytes run from its local header to the end of its data, and on
// through its data descriptor when flag bit 3 is set (APPNOTE 4.3.9; counted
// at its smallest, 12 bytes, as its signature is optional). They must end by
// the next local header above their own and by the central directory, and
// of the entries that share one local header only the first in the
// directory is read. Overlapping entries are what archives built to expand
// far beyond their size are made of: many records over one compressed
// stream, or each entry's data quoting the next entry's header and running
// on through its data.
int check_entry_span(ZipArchive* s, uint32_t var_size) {
  constexpr uint32_t kDescriptorLeast = kDataDescriptorSize - 4;  // without its signature
  const LocalHeaderIndex& index = s->local_index;
  if (s->entry_number >= index.entries) return kReadBadArchive;  // not indexed: cannot be vouched for
  const uint64_t local = s->entry.local_header_offset;
  const auto shared = std::lower_bound(index.shared.begin(), index.shared.end(), std::make_pair(local, uint32_t(0)));
  if (shared != index.shared.end() && shared->first == local && shared->second != s->entry_number)
    return kReadBadArchive;
  uint64_t limit = s->directory_offset;
  const auto next = std::upper_bound(index.offsets.begin(), index.offsets.end(), local);
  if (next != index.offsets.end() && *next < limit) limit = *next;
  uint64_t end = local + LocalHeader::kSize + var_size + s->entry.compressed_size;
  if (s->entry.central.flags & kFlagDataDescriptor) end += kDescriptorLeast;
  return end <= limit ? kReadOk : kReadBadArchive;
}

int open_entry_stream(ZipArchive* s, const char* password) {
  if (s == nullptr || !s->entry_ok) return kReadBadParam;
  if (s->stream != nullptr) close_entry_stream(s);
  if (read_local_header(s) != kReadOk) return kReadBadArchive;
  const uint32_t var_size = s->local_header.var_size;
  if (check_entry_span(s, var_size) != kReadOk) return kReadBadArchive;
  const EntryRecord& info = s->entry;
  const CentralRecord& record = info.central;
  const bool encrypted = (record.flags & kFlagEncrypted) != 0;
  // An encrypted entry carries at least its 12-byte header, and stored data
  // is exactly as long as announced: otherwise the directory is lying, and
  // a short entry must not pass as a complete one.
  if (encrypted && info.compressed_size < kEncryptionHeaderSize) return kReadBadArchive;
  if (record.method == kMethodStored &&
      info.compressed_size != info.uncompressed_size + (encrypted ? kEncryptionHeaderSize : 0))
    return kReadBadArchive;

  EntryStreamPtr st(new EntryStream);
  st->crc_expected = record.crc;
  st->crc_so_far = 0;
  st->method = record.method;
  st->source = s->source.get();
  st->leading_bytes = s->leading_bytes;
  st->inflater.zalloc = Z_NULL;
  st->inflater.zfree = Z_NULL;
  st->inflater.opaque = Z_NULL;
  st->inflater.total_out = 0;
  if (record.method == kMethodDeflated) {
    st->inflater.next_in = Z_NULL;
    st->inflater.avail_in = 0;
    st->inflater_ready = inflateInit2(&st->inflater, -MAX_WBITS) == Z_OK;
  }
  st->compressed_left = info.compressed_size;
  st->uncompressed_left = info.uncompressed_size;
  st->encrypted = encrypted;
  st->check_byte = encryption_check_byte(record.flags, record.dos_datetime, record.crc);
  st->header_left = encrypted ? kEncryptionHeaderSize : 0;
  setup_keys(st->keys, password);
  st->next_read_offset = info.local_header_offset + LocalHeader::kSize + var_size;
  st->inflater.next_in = Z_NULL;
  st->inflater.avail_in = 0;
  s->stream = std::move(st);
  return kReadOk;
}

namespace {

// Reads and deciphers the 12-byte encryption header of the open entry; its
// last byte must be the entry's check byte (APPNOTE 6.1.6).
int read_encryption_header(EntryStream* st) {
  unsigned char header[kEncryptionHeaderSize];
  if (source_seek(st->source, int64_t(st->leading_bytes + st->next_read_offset), qp::SeekFrom::Begin) != kReadOk)
    return kReadIoError;
  if (source_read(header, kEncryptionHeaderSize, 1, st->source) != 1) return kReadIoError;
  st->next_read_offset += kEncryptionHeaderSize;
  st->compressed_left -= kEncryptionHeaderSize;  // at least the header, as the open checked
  st->header_left = 0;
  unsigned char last = 0;
  for (unsigned char c : header) last = static_cast<unsigned char>(zdecode(st->keys, static_cast<char>(c)));
  return last == st->check_byte ? kReadOk : kReadBadPassword;
}

}  // namespace

int read_entry_stream(ZipArchive* s, void* buf, uint32_t cap, bool* reached_end) {
  bool end_dummy;
  bool& end = reached_end ? *reached_end : end_dummy;
  end = false;
  if (s == nullptr || s->stream == nullptr) return kReadBadParam;
  EntryStream* st = s->stream.get();
  if (cap == 0) return 0;
  // The encryption header comes first, also for an entry without data, so
  // that a missing or wrong password fails before the end is reported.
  if (st->header_left > 0) {
    const int checked = read_encryption_header(st);
    if (checked != kReadOk) return checked;
  }
  if (st->uncompressed_left == 0) {
    end = true;
    return 0;
  }
  // A deflated entry whose inflater could not start reads nothing.
  if (st->method == kMethodDeflated && !st->inflater_ready) return Z_STREAM_ERROR;
  z_stream& z = st->inflater;
  uint32_t window = static_cast<uint32_t>(cap < st->uncompressed_left ? cap : st->uncompressed_left);
  if (window > 0x7FFFFFFFu) window = 0x7FFFFFFFu;  // the count is returned as an int
  z.next_out = static_cast<Bytef*>(buf);
  z.avail_out = window;
  int count = 0;
  int zresult = Z_OK;
  while (z.avail_out > 0) {
    if (z.avail_in == 0 && st->compressed_left > 0) {
      const uint32_t n =
          static_cast<uint32_t>(st->compressed_left < kEntryChunkSize ? st->compressed_left : kEntryChunkSize);
      if (source_seek(st->source, int64_t(st->leading_bytes + st->next_read_offset), qp::SeekFrom::Begin) != kReadOk)
    return kReadIoError;
      if (source_read(st->input_buffer.data(), n, 1, st->source) != 1) return kReadIoError;
      st->next_read_offset += n;
      st->compressed_left -= n;
      z.next_in = st->input_buffer.data();
      z.avail_in = n;
      if (st->encrypted) {
        unsigned char* p = st->input_buffer.data();
        for (uint32_t i = 0; i < n; ++i) p[i] = static_cast<unsigned char>(zdecode(st->keys, static_cast<char>(p[i])));
      }
    }
    if (st->method == kMethodStored) {
      if (z.avail_in == 0 && st->compressed_left == 0) {
        end = true;
        return count;
      }
      const uint32_t n = z.avail_out < z.avail_in ? z.avail_out : z.avail_in;
      std::memcpy(z.next_out, z.next_in, n);
      st->crc_so_far = crc32(st->crc_so_far, z.next_out, n);
      st->uncompressed_left -= n;
      z.avail_in -= n;
      z.avail_out -= n;
      z.next_out += n;
      z.next_in += n;
      z.total_out += n;
      count += static_cast<int>(n);
      if (st->uncompressed_left == 0) end = true;
    } else {
      const Bytef* out_before = z.next_out;
      zresult = inflate(&z, Z_SYNC_FLUSH);
      // Counted from the window, not from total_out, which has 32 bits
      // where zlib's uLong has (32-bit Windows) and wraps at 4 GiB there.
      const uint32_t produced = static_cast<uint32_t>(z.next_out - out_before);
      st->crc_so_far = crc32(st->crc_so_far, out_before, produced);
      st->uncompressed_left -= produced;
      count += static_cast<int>(produced);
      if (zresult == Z_STREAM_END || st->uncompressed_left == 0) {
        // A stream that ends before the announced size is damaged: its
        // output is incomplete, and must not pass as the whole entry.
        if (st->uncompressed_left != 0) return Z_DATA_ERROR;
        end = true;
        return count;
      }
      if (zresult != Z_OK) break;
    }
  }
  if (zresult == Z_OK) return count;
  return zresult < 0 ? zresult : Z_DATA_ERROR;  // never a code that reads as a byte count
}

int close_entry_stream(ZipArchive* s) {
  if (s == nullptr || s->stream == nullptr) return kReadBadParam;
  const EntryStream* st = s->stream.get();
  const int status = st->uncompressed_left == 0 && st->crc_so_far != st->crc_expected ? kReadCrcMismatch : kReadOk;
  s->stream.reset();  // frees the buffer and ends the inflater
  return status;
}

}  // namespace quillon
