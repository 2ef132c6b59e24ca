// The archive object ArchiveWriter: outputs, item sources, the record
// writers and the per-item sequence (local header, encryption header, data,
// then either the rewritten local header or a data descriptor), and the
// central directory.
#include "zip/write/writer.h"

#include <cstring>

#include "platform/file.h"
#include "platform/fileinfo.h"
#include "platform/random.h"
#include "platform/text.h"
#include "platform/time.h"
#include "zip/format/cipher.h"
#include "zip/format/crc32.h"
#include "zip/format/dos_time.h"
#include "zip/format/records.h"

namespace quillon {

bool has_seeded = false;

namespace {


// The system's attribute bits are the DOS bits of the archive.
static_assert(qp::kAttrReadOnly == kDosReadOnly && qp::kAttrHidden == kDosHidden && qp::kAttrSystem == kDosSystem &&
                  qp::kAttrDirectory == kDosDirectory && qp::kAttrArchive == kDosArchive,
              "file attribute bits");

bool read_at(qp::Handle h, uint32_t pos, void* buf, uint32_t n) {
  if (qp::set_file_pointer(h, static_cast<int32_t>(pos), qp::SeekFrom::Begin) != pos) return false;
  uint32_t got = 0;
  return qp::read_file(h, buf, n, &got) && got == n;
}

// An executable image: "MZ" at the start, the offset of the new header at
// 0x3C, and there, with at least 52 bytes to the end of the file, one of the
// signatures MZ, NE, LE or PE followed by two zero bytes.
bool is_executable_image(qp::Handle h, uint64_t size) {
  if (size <= 40) return false;
  unsigned char magic[2];
  if (!read_at(h, 0, magic, 2) || magic[0] != 'M' || magic[1] != 'Z') return false;
  unsigned char off_bytes[4];
  if (!read_at(h, 0x3C, off_bytes, 4)) return false;
  const uint32_t off = get32(off_bytes);
  if (off > size || size - off < 52) return false;
  unsigned char sig[4];
  if (!read_at(h, off, sig, 4) || sig[2] != 0 || sig[3] != 0) return false;
  const char a = static_cast<char>(sig[0]), b = static_cast<char>(sig[1]);
  return (a == 'M' && b == 'Z') || (a == 'N' && b == 'E') || (a == 'L' && b == 'E') || (a == 'P' && b == 'E');
}

// Writes a fixed record part, then the variable parts each in one call.
int put_parts(ZipWriteFunc wfunc, void* context, const unsigned char* fixed, unsigned fixed_len, const char* a,
              unsigned a_len, const unsigned char* b, unsigned b_len) {
  int failed = 0;
  if (wfunc(context, reinterpret_cast<const char*>(fixed), fixed_len) != fixed_len) failed = 1;
  if (a_len && wfunc(context, a, a_len) != a_len) failed = 1;
  if (b_len && wfunc(context, reinterpret_cast<const char*>(b), b_len) != b_len) failed = 1;
  return failed;
}

}  // namespace

// ---------------------------------------------------------------------------
// Free helpers

ZIPRESULT GetFileInfo(qp::Handle h, uint32_t* attr, uint64_t* size, ItemTimes* times, uint32_t* stamp) {
  qp::FileInfo fi;
  if (!qp::get_file_info(h, &fi)) return ZIPR_OPENFAILED;
  const bool directory = (fi.attributes & qp::kAttrDirectory) != 0;
  uint32_t mode = (directory ? kUnixTypeDirectory : kUnixTypeRegular) | kUnixOwnerRead;
  if (!(fi.attributes & qp::kAttrReadOnly)) mode |= kUnixOwnerWrite;
  // Where the system keeps permission bits they say what runs; elsewhere the
  // file's header does.
  const bool exec = fi.has_unix_mode ? (fi.unix_mode & kUnixOwnerExecute) != 0 : !directory && is_executable_image(h, fi.size);
  if (exec) mode |= kUnixOwnerExecute;
  if (attr) *attr = external_attributes_of(mode, fi.attributes);
  if (size) *size = fi.size;
  if (times) *times = ItemTimes{fi.access_time, fi.write_time, fi.creation_time};
  if (stamp) *stamp = dos_stamp_of_file_time(fi.write_time);
  return ZIPR_OK;
}

void GetNow(ItemTimes* times, uint32_t* stamp) {
  qp::SystemTime st;
  qp::get_local_time(&st);
  uint64_t ft = 0;
  qp::system_time_to_file_time(st, &ft);
  if (times) *times = ItemTimes{ft, ft, ft};
  if (stamp) *stamp = dos_stamp_of(st);
}

// ---------------------------------------------------------------------------
// Record writers

namespace {

// The Zip64 block of a record: both sizes when the item has Zip64 sizes
// (the local header has no offset field for it), and the offset when it
// passed the classic field.
Zip64Extra zip64_extra_of(const ItemRecord& z, bool with_offset) {
  Zip64Extra x;
  x.has_uncompressed_size = x.has_compressed_size = z.zip64_sizes;
  x.has_local_header_offset = with_offset && z.zip64_offset;
  x.uncompressed_size = z.usize;
  x.compressed_size = z.csize;
  x.local_header_offset = z.offset;
  return x;
}

// The fields the local header and the central record share. Sizes with Zip64
// sizes hold 0xFFFFFFFF; the true values go into the Zip64 block.
template <typename Record>
void fill_item_fields(Record& r, const ItemRecord& z) {
  r.version_needed = z.version_needed;
  r.method = z.method;
  r.dos_datetime = z.dos_stamp;
  r.crc = z.crc;
  r.compressed_size = z.zip64_sizes ? kZip64Marker : static_cast<uint32_t>(z.csize);
  r.uncompressed_size = z.zip64_sizes ? kZip64Marker : static_cast<uint32_t>(z.usize);
  r.name_length = static_cast<uint16_t>(z.name_len);
}

// The extra field of a record: the Zip64 block, when anything is in it,
// then the timestamp block. Returns its length.
unsigned put_extra(unsigned char* out, const Zip64Extra& x, const unsigned char* timestamp, unsigned timestamp_len) {
  const unsigned n = x.data_size() ? x.encode(out) : 0;
  std::memcpy(out + n, timestamp, timestamp_len);
  return n + timestamp_len;
}

}  // namespace

// A local header with Zip64 sizes holds 0xFFFFFFFF in both size fields and
// both sizes in its Zip64 block, ahead of the timestamp block.
int putlocal(const ItemRecord& z, ZipWriteFunc wfunc, void* context) {
  LocalHeader r;
  fill_item_fields(r, z);
  r.flags = z.local_flags;
  r.extra_length = static_cast<uint16_t>(z.local_extra_len);
  unsigned char h[LocalHeader::kSize];
  r.encode(h);
  unsigned char extra[Zip64Extra::kMaxSize + kLocalExtraSize];
  const unsigned n = put_extra(extra, zip64_extra_of(z, false), z.local_extra, kLocalExtraSize);
  return put_parts(wfunc, context, h, sizeof h, z.name.data(), z.name_len, extra, n);
}

// With Zip64 sizes the descriptor's sizes are 8 bytes each (APPNOTE 4.3.9).
int putextended(const ItemRecord& z, ZipWriteFunc wfunc, void* context) {
  DataDescriptor d;
  d.zip64 = z.zip64_sizes;
  d.crc = z.crc;
  d.compressed_size = z.csize;
  d.uncompressed_size = z.usize;
  unsigned char bytes[kZip64DataDescriptorSize];
  const unsigned n = d.encode(bytes);
  return put_parts(wfunc, context, bytes, n, nullptr, 0, nullptr, 0);
}

int putcentral(const ItemRecord& z, ZipWriteFunc wfunc, void* context) {
  CentralRecord r;
  fill_item_fields(r, z);
  r.version_made_by = z.version_made_by;
  r.flags = z.flags;
  r.extra_length = static_cast<uint16_t>(z.central_extra_len);
  r.comment_length = static_cast<uint16_t>(z.comment_len);
  r.disk_start = z.disk;
  r.internal_attributes = z.internal_attr;
  r.external_attributes = z.external_attr;
  r.local_header_offset = z.zip64_offset ? kZip64Marker : static_cast<uint32_t>(z.offset);
  unsigned char h[CentralRecord::kSize];
  r.encode(h);
  unsigned char extra[Zip64Extra::kMaxSize + kCentralExtraSize];
  const unsigned n = put_extra(extra, zip64_extra_of(z, true), z.central_extra, kCentralExtraSize);
  return put_parts(wfunc, context, h, sizeof h, z.name.data(), z.name_len, extra, n);
}

int putend(unsigned count, uint32_t size, uint32_t offset, unsigned comment_len, const char* comment,
           ZipWriteFunc wfunc, void* context) {
  EndRecord r;
  r.entries_on_disk = r.entries = static_cast<uint16_t>(count);
  r.directory_size = size;
  r.directory_offset = offset;
  r.comment_length = static_cast<uint16_t>(comment_len);
  unsigned char e[EndRecord::kSize];
  r.encode(e);
  if (comment == nullptr) comment_len = 0;
  return put_parts(wfunc, context, e, sizeof e, comment, comment_len, nullptr, 0);
}

int putend64(uint64_t count, uint64_t size, uint64_t offset, ZipWriteFunc wfunc, void* context) {
  Zip64EndRecord r;
  r.version_made_by = kVersionMadeBy;
  r.version_needed = kVersionNeededZip64;
  r.entries_on_disk = r.entries = count;
  r.directory_size = size;
  r.directory_offset = offset;
  unsigned char e[Zip64EndRecord::kSize];
  r.encode(e);
  return put_parts(wfunc, context, e, sizeof e, nullptr, 0, nullptr, 0);
}

int putlocator64(uint64_t end64_offset, ZipWriteFunc wfunc, void* context) {
  Zip64EndLocator r;
  r.end_record_offset = end64_offset;
  unsigned char l[Zip64EndLocator::kSize];
  r.encode(l);
  return put_parts(wfunc, context, l, sizeof l, nullptr, 0, nullptr, 0);
}

// ---------------------------------------------------------------------------
// ArchiveWriter


ArchiveWriter::ArchiveWriter(const char* password) {
  if (password != nullptr) password_ = password;
}

// A memory block mapped for the archive is unmapped and a file the archive
// created is closed with the output, whether or not Close came first.
ArchiveWriter::~ArchiveWriter() = default;

ZIPRESULT ArchiveWriter::Create(void* z, uint32_t len, uint32_t kind) {
  if (out_.attached() || written_ || out_.error() || central_done_) return ZIPR_NOTINITIALISED;
  if (kind == ZIPSRC_HANDLE) {
    out_.attach_handle(static_cast<qp::Handle>(z));
    return ZIPR_OK;
  }
  if (kind == ZIPSRC_FILENAME) return out_.create_file(static_cast<const char*>(z));
  if (kind == ZIPSRC_MEMORY) return out_.attach_memory(z, len);
  return ZIPR_BADARGS;
}

unsigned ArchiveWriter::swrite(void* context, const char* bytes, unsigned n) {
  if (n == 0) return 0;
  return static_cast<ArchiveWriter*>(context)->write(bytes, n);
}

unsigned ArchiveWriter::write(const char* bytes, unsigned n) {
  const char* src = bytes;
  if (encrypting_ && n > 0) {
    if (enc_buf_.size() < n) enc_buf_.resize(n);
    for (unsigned i = 0; i < n; ++i) enc_buf_[i] = zencode(keys_, bytes[i]);
    src = enc_buf_.data();
  }
  return out_.write(src, n);
}

// An item that failed after its first bytes went out. On a memory output the
// archive's end is where the bytes actually stopped, so that the central
// directory lands right after what the block holds.
ZIPRESULT ArchiveWriter::fail_item(ZIPRESULT result) {
  encoder_.source().close();
  encrypting_ = false;
  if (out_.is_memory()) written_ = out_.memory_pos();
  return result;
}

// An item whose sizes went past what the 32-bit fields of its local header
// can hold, when that header has no room for Zip64 sizes (its size was not
// known in advance, or the source grew while it was read). On an output that
// can seek, its bytes are given up: the archive continues at its local
// header, and Close cuts a file there. On a stream the archive cannot be
// finished correctly, so the output is marked failed.
ZIPRESULT ArchiveWriter::drop_oversized_item(const ItemRecord& z) {
  encoder_.source().close();
  encrypting_ = false;
  const uint64_t start = z.offset - out_.base();
  if (out_.seekable() && out_.seek(start)) {
    written_ = start;
    truncate_on_close_ = !out_.is_memory();
    return ZIPR_WRITEFAILED;
  }
  out_.set_error(ZIPR_WRITEFAILED);
  return ZIPR_WRITEFAILED;
}

namespace {

// The bytes of an enciphered item's encryption header, counted in its
// compressed size.
uint32_t header_extra(const ItemRecord& z) { return (z.local_flags & kFlagEncrypted) ? kEncryptionHeaderSize : 0; }

// A record writer's failure: the output's own error, or a write failure.
ZIPRESULT put_failure(const ZipOutput& out) { return out.error() != ZIPR_OK ? out.error() : ZIPR_WRITEFAILED; }

}  // namespace

ZIPRESULT ArchiveWriter::Add(const char* odstname, const void* src, uint32_t len, uint32_t kind) {
  if (out_.error() != ZIPR_OK) return ZIPR_PREVIOUSERROR;
  if (central_done_) return ZIPR_ENDED;
  if (kind < ZIPSRC_HANDLE || kind > ZIPSRC_FOLDER || odstname == nullptr) return ZIPR_BADARGS;
  // A name of the system's code page is stored in UTF-8 (on Windows an ANSI
  // name is converted; elsewhere its bytes are taken as they are).
  return add_item(qp::utf8_from_system(odstname), src, len, kind, false);
}

ZIPRESULT ArchiveWriter::AddUtf8(const char* name, const char* path) {
  if (out_.error() != ZIPR_OK) return ZIPR_PREVIOUSERROR;
  if (central_done_) return ZIPR_ENDED;
  if (name == nullptr) return ZIPR_BADARGS;
  return add_item(name, path, 0, ZIPSRC_FILENAME, true);
}

ZIPRESULT ArchiveWriter::AddEncoded(const EncodedItem& item) {
  if (out_.error() != ZIPR_OK) return ZIPR_PREVIOUSERROR;
  if (central_done_) return ZIPR_ENDED;
  if (item.name.name.empty()) return ZIPR_BADARGS;
  return put_item(item.name, item.source, !password_.empty(), [&] { return write_encoded(item); });
}

// One item from its source: its stored name, the source opened, then the
// item's records around the data that the encoder makes straight into the
// output.
ZIPRESULT ArchiveWriter::add_item(const std::string& given, const void* src, uint32_t len, uint32_t kind,
                                  bool utf8_path) {
  const bool is_folder = kind == ZIPSRC_FOLDER;
  const ItemName name = item_name(given, is_folder);
  if (name.name.empty()) return ZIPR_BADARGS;
  ZIPRESULT r;
  try {
    r = open_source(src, len, kind, utf8_path);
  } catch (...) {
    encoder_.source().close();
    throw;
  }
  if (r != ZIPR_OK) return r;
  return put_item(name, encoder_.source().facts(), !password_.empty() && !is_folder,
                  [&] { return encoder_.encode(name.method, swrite, this); });
}

ZIPRESULT ArchiveWriter::open_source(const void* src, uint32_t len, uint32_t kind, bool utf8_path) {
  ItemSource& in = encoder_.source();
  switch (kind) {
    case ZIPSRC_FILENAME: return in.open_file(static_cast<const char*>(src), utf8_path);
    case ZIPSRC_HANDLE: return in.open_handle(const_cast<qp::Handle>(src), len);
    case ZIPSRC_MEMORY: return in.open_memory(src, len);
    default: return in.open_folder();
  }
}

// An item's records around its data: the local header, the encryption
// header, the data (from `data`, which gives what it wrote), and the item's
// end (true sizes and CRC, the list entry). Running out of memory
// (std::bad_alloc) goes to the caller; once the item's first bytes may be
// out, the archive is marked failed, for its end can no longer be told.
template <typename DataStep>
ZIPRESULT ArchiveWriter::put_item(const ItemName& name, const SourceFacts& source, bool enciphered, DataStep data) {
  bool started = false;
  try {
    ItemRecord z = local_record(name, source, enciphered);
    started = true;
    ZIPRESULT r = write_local_header(z);
    if (r != ZIPR_OK) return r;
    if (enciphered && (r = write_encryption_header(z)) != ZIPR_OK) return r;
    encrypting_ = enciphered;
    return end_item(z, data());
  } catch (...) {
    fail_item(ZIPR_NOMEMORY);
    if (started) out_.set_error(ZIPR_NOMEMORY);
    throw;
  }
}

// The item's record as its local header first shows it. Zip64 where the
// classic fields cannot hold a value: sizes known in advance that may pass
// them (the local header then carries both sizes in a Zip64 block), and a
// local header that starts past them (its offset goes into the central
// record's Zip64 block).
ItemRecord ArchiveWriter::local_record(const ItemName& name, const SourceFacts& source, bool enciphered) const {
  const uint32_t extra = enciphered ? kEncryptionHeaderSize : 0;
  const int64_t size = source.size;
  const uint64_t limit = size_limit_;
  const uint64_t offset = out_.base() + written_;
  const bool zip64_sizes = size >= 0 && item_data_bound(uint64_t(size), name.method) + extra > limit;
  const bool zip64_offset = offset > limit;

  ItemRecord z{};
  z.version_made_by = kVersionMadeBy;
  z.version_needed = (zip64_sizes || zip64_offset) ? kVersionNeededZip64 : kVersionNeeded;
  z.flags = z.local_flags =
      static_cast<uint16_t>((enciphered ? (kFlagEncrypted | kFlagDataDescriptor) : kFlagDataDescriptor) | name.flag);
  z.method = name.method;
  z.dos_stamp = source.stamp;
  z.crc = 0;
  z.csize = (name.method == kMethodStored && size >= 0) ? uint64_t(size) + extra : 0;
  z.usize = size >= 0 ? uint64_t(size) : 0xFFFFFFFFu;  // 0xFFFFFFFF when not given
  z.name_len = static_cast<uint32_t>(name.name.size());
  z.name = name.name;
  z.zip64_sizes = zip64_sizes;
  z.zip64_offset = zip64_offset;
  const unsigned local_zip64 = zip64_sizes ? 4 + 16 : 0;
  const unsigned central_zip64 = (zip64_sizes || zip64_offset) ? 4 + 8 * (2 * zip64_sizes + zip64_offset) : 0;
  z.local_extra_len = kLocalExtraSize + local_zip64;
  z.central_extra_len = kCentralExtraSize + central_zip64;
  z.external_attr = source.attr;
  z.offset = offset;
  static_assert(kLocalExtraSize == ExtendedTimestamp::kMaxSize && kCentralExtraSize == 4 + 1 + 4,
                "the extra fields hold the whole local block and the central block's modification time");
  // The "UT" block: all three times in the local header; the central one
  // keeps the same flag byte but only the modification time.
  const ItemTimes& t = source.times;
  ExtendedTimestamp stamp;
  stamp.flags = stamp.held = ExtendedTimestamp::kModification | ExtendedTimestamp::kAccess | ExtendedTimestamp::kCreation;
  stamp.modification_time = static_cast<uint32_t>(unix_time_of_file_time(t.write));
  stamp.access_time = static_cast<uint32_t>(unix_time_of_file_time(t.access));
  stamp.creation_time = static_cast<uint32_t>(unix_time_of_file_time(t.creation));
  stamp.encode(z.local_extra);
  stamp.held = ExtendedTimestamp::kModification;
  stamp.encode(z.central_extra);
  return z;
}

ZIPRESULT ArchiveWriter::write_local_header(const ItemRecord& z) {
  const uint64_t header_len = kLocalHeaderSize + z.name_len + z.local_extra_len;
  if (putlocal(z, swrite, this) != 0) return fail_item(put_failure(out_));
  written_ += header_len;
  if (out_.error() != ZIPR_OK) return fail_item(out_.error());
  return ZIPR_OK;
}

// Twelve bytes ahead of the data (APPNOTE 6.1.5): eleven random ones and a
// check byte, enciphered with the keys that then go on over the data.
ZIPRESULT ArchiveWriter::write_encryption_header(const ItemRecord& z) {
  setup_keys(keys_, password_.c_str());
  if (!has_seeded) {
    qp::seed_random(qp::tick_count() ^ qp::desktop_id());
    has_seeded = true;
  }
  char header[kEncryptionHeaderSize];
  for (unsigned i = 0; i < kEncryptionHeaderSize - 1; ++i)
    header[i] = static_cast<char>((qp::next_random() >> 7) & 0xFF);
  // The check byte of an entry whose sizes follow in a descriptor: the
  // high byte of the DOS time.
  header[kEncryptionHeaderSize - 1] = static_cast<char>((z.dos_stamp >> 8) & 0xFF);
  for (char& c : header) c = zencode(keys_, c);
  swrite(this, header, kEncryptionHeaderSize);
  written_ += kEncryptionHeaderSize;
  if (out_.error() != ZIPR_OK) return fail_item(out_.error());
  return ZIPR_OK;
}

// The data step of an item encoded elsewhere: its bytes go out in the
// encoder's chunks; the counts are those its encoding gave.
ItemData ArchiveWriter::write_encoded(const EncodedItem& item) {
  ItemData d = item.data;
  d.size = 0;
  for (uint64_t at = 0; at < item.data.size;) {
    const uint64_t left = item.data.size - at;
    const unsigned n = left < kItemChunk ? static_cast<unsigned>(left) : kItemChunk;
    const unsigned done = swrite(this, item.bytes + at, n);
    d.size += done;
    if (done != n) {
      d.ok = false;
      break;
    }
    at += n;
  }
  return d;
}

// The item's end, once its data is out (the source closed). Its true CRC
// and sizes go into the local header, rewritten in place on an output that
// can seek (and not enciphered, whose check byte was made for a data
// descriptor), or else into a data descriptor after the data; then the item
// joins the list of the central directory. `came_short` tells that a source
// with a size known before reading (a file, or a stream given a length)
// ended before it: a file cut short while it was read, a stream that
// stopped early.
ZIPRESULT ArchiveWriter::end_item(ItemRecord& z, const ItemData& d) {
  encrypting_ = false;
  written_ += d.size;
  if (out_.error() != ZIPR_OK) return fail_item(out_.error());
  if (!d.ok) return fail_item(ZIPR_WRITEFAILED);
  if (d.read_failed) return fail_item(ZIPR_READFAILED);
  const uint32_t extra = header_extra(z);
  // Sizes that the local header's classic fields cannot hold, in a header
  // that has no Zip64 block for them.
  if (!z.zip64_sizes && (d.read > size_limit_ || d.size + extra > size_limit_)) return drop_oversized_item(z);

  const bool first_size_right = z.csize == extra + d.size;
  z.flags |= d.flag_bits;
  z.crc = d.crc;
  z.csize = extra + d.size;
  z.usize = d.read;

  if (out_.seekable() && extra == 0) {
    z.flags &= static_cast<uint16_t>(~kFlagDataDescriptor);
    z.local_flags = z.flags;
    if (!out_.seek(z.offset - out_.base())) return fail_item(ZIPR_UNSEEKABLE);
    if (putlocal(z, swrite, this) != 0) return fail_item(put_failure(out_));
    if (!out_.seek(written_)) return fail_item(ZIPR_UNSEEKABLE);
  } else {
    // A stored item's data can only be found by the size in its local
    // header; when that was not right, the item cannot be listed.
    if (z.method == kMethodStored && !first_size_right) return fail_item(ZIPR_NOCHANGE);
    if (putextended(z, swrite, this) != 0) return fail_item(put_failure(out_));
    written_ += z.zip64_sizes ? kZip64DataDescriptorSize : kDataDescriptorSize;
    z.flags = z.local_flags;
  }
  if (out_.error() != ZIPR_OK) return fail_item(out_.error());
  // The item holds what arrived, but not what the source was: it is not
  // listed, and the archive goes on without it.
  if (d.came_short) return fail_item(ZIPR_READFAILED);

  items_.push_back(std::move(z));
  return ZIPR_OK;
}

ZIPRESULT ArchiveWriter::AddCentral() {
  const uint64_t start = written_;
  bool ok = true;
  uint64_t count = 0;
  for (const ItemRecord& item : items_) {
    if (ok && putcentral(item, swrite, this) != 0) ok = false;
    written_ += kCentralHeaderSize + item.name_len + item.central_extra_len + item.comment_len;
    ++count;
  }
  std::vector<ItemRecord>().swap(items_);
  ZIPRESULT result = ZIPR_OK;
  if (!ok) {
    result = out_.is_memory() ? ZIPR_MEMORYFULL : ZIPR_WRITEFAILED;
  } else {
    // A count, size or offset that the end record's fields cannot hold goes
    // into the Zip64 end record, found through its locator; those fields of
    // the end record then read 0xFFFF or 0xFFFFFFFF, the others their value.
    const uint64_t size = written_ - start;
    const uint64_t offset = start + out_.base();
    const bool count_over = count > kClassicCountMax;
    const bool size_over = size > size_limit_, offset_over = offset > size_limit_;
    if (count_over || size_over || offset_over) {
      const uint64_t end64_at = out_.base() + written_;
      if (putend64(count, size, offset, swrite, this) != 0) result = ZIPR_WRITEFAILED;
      written_ += kZip64EndRecordSize;
      if (putlocator64(end64_at, swrite, this) != 0) result = ZIPR_WRITEFAILED;
      written_ += kZip64EndLocatorSize;
    }
    if (putend(count_over ? 0xFFFFu : static_cast<unsigned>(count),
               size_over ? kZip64Marker : static_cast<uint32_t>(size),
               offset_over ? kZip64Marker : static_cast<uint32_t>(offset), 0, nullptr, swrite, this) != 0)
      result = ZIPR_WRITEFAILED;
    written_ += kEndRecordSize;
    if (result != ZIPR_OK && out_.is_memory()) result = ZIPR_MEMORYFULL;
  }
  // A memory archive never claims more bytes than its block holds.
  if (out_.is_memory()) written_ = out_.memory_pos();
  return result;
}

ZIPRESULT ArchiveWriter::Close() {
  if (!central_done_) central_result_ = AddCentral();
  central_done_ = true;
  ZIPRESULT result = central_result_;
  // A file output that lost bytes or could not be positioned holds no sound
  // archive, whatever the central directory's own writes did.
  if (result == ZIPR_OK && !out_.is_memory() && out_.error() != ZIPR_OK) result = out_.error();
  if (truncate_on_close_) {
    out_.truncate_here();
    truncate_on_close_ = false;
  }
  out_.release();
  return result;
}

ZIPRESULT ArchiveWriter::GetMemory(void** pbuf, uint32_t* plen) {
  if (!central_done_) central_result_ = AddCentral();
  central_done_ = true;
  if (pbuf) *pbuf = out_.memory();
  if (plen) *plen = static_cast<uint32_t>(written_);
  if (!out_.is_memory()) return ZIPR_NOTMEMORYZIP;
  return central_result_;
}

}  // namespace quillon
