// The archive object TZip: outputs, item sources, the record writers and the
// per-item sequence (local header, encryption header, data, then either the
// rewritten local header or a data descriptor), and the central directory.
#include "zip/zip/zip.h"

#include <cctype>
#include <cstring>
#include <new>

#include "platform/file.h"
#include "platform/file_end.h"
#include "platform/fileinfo.h"
#include "platform/random.h"
#include "platform/text.h"
#include "platform/time.h"
#include "zip/common/cipher.h"
#include "zip/common/crc32.h"
#include "zip/common/records.h"
#include "zip/zip/deflate.h"

namespace quillon {

bool has_seeded = false;

namespace {

constexpr unsigned kChunk = 16384;
constexpr int kLevel = 8;

// Ticks between 1601-01-01 and 1970-01-01.
constexpr int64_t kUnixEpochTicks = 116444736000000000LL;

// Owner read, write and execute bits of a Unix mode.
constexpr uint32_t kModeRead = 0x0100, kModeWrite = 0x0080, kModeExec = 0x0040;
constexpr uint32_t kModeDirectory = 0x4000, kModeRegular = 0x8000;

constexpr uint32_t kDosAttrMask = qp::kAttrReadOnly | qp::kAttrHidden | qp::kAttrSystem | qp::kAttrDirectory |
                                  qp::kAttrArchive;

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

uint32_t dos_stamp_of(const qp::SystemTime& st) {
  if (st.year < 1980) return (1u << 5 | 1u) << 16;  // 1980-01-01 00:00:00
  if (st.year > 2107) return ((127u << 9 | 12u << 5 | 31u) << 16) | (23u << 11 | 59u << 5 | 29u);
  const uint32_t date = ((st.year - 1980u) & 0x7F) << 9 | (st.month & 0x0Fu) << 5 | (st.day & 0x1Fu);
  const uint32_t time = (st.hour & 0x1Fu) << 11 | (st.minute & 0x3Fu) << 5 | ((st.second / 2u) & 0x1Fu);
  return date << 16 | time;
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

uint32_t filetime2dosdatetime(uint64_t filetime) {
  qp::SystemTime st;
  if (!qp::file_time_to_system_time(filetime, &st)) return dos_stamp_of(qp::SystemTime{});
  return dos_stamp_of(st);
}

int32_t filetime2timet(uint64_t filetime) {
  const int64_t seconds = (static_cast<int64_t>(filetime) - kUnixEpochTicks) / 10000000LL;
  return static_cast<int32_t>(static_cast<uint32_t>(seconds));
}

ZIPRESULT GetFileInfo(qp::Handle h, uint32_t* attr, uint64_t* size, iztimes* times, uint32_t* stamp) {
  qp::FileInfo fi;
  if (!qp::get_file_info(h, &fi)) return ZIPR_OPENFAILED;
  const bool directory = (fi.attributes & qp::kAttrDirectory) != 0;
  uint32_t mode = (directory ? kModeDirectory : kModeRegular) | kModeRead;
  if (!(fi.attributes & qp::kAttrReadOnly)) mode |= kModeWrite;
  // Where the system keeps permission bits they say what runs; elsewhere the
  // file's header does.
  const bool exec = fi.has_unix_mode ? (fi.unix_mode & kModeExec) != 0 : !directory && is_executable_image(h, fi.size);
  if (exec) mode |= kModeExec;
  if (attr) *attr = mode << 16 | (fi.attributes & kDosAttrMask);
  if (size) *size = fi.size;
  if (times) {
    times->atime = filetime2timet(fi.access_time);
    times->mtime = filetime2timet(fi.write_time);
    times->ctime = filetime2timet(fi.creation_time);
  }
  if (stamp) *stamp = filetime2dosdatetime(fi.write_time);
  return ZIPR_OK;
}

void GetNow(iztimes* times, uint32_t* stamp) {
  qp::SystemTime st;
  qp::get_local_time(&st);
  uint64_t ft = 0;
  qp::system_time_to_file_time(st, &ft);
  const int32_t t = filetime2timet(ft);
  if (times) times->atime = times->mtime = times->ctime = t;
  if (stamp) *stamp = dos_stamp_of(st);
}

uint64_t GetFilePosZ(qp::Handle h) { return qp::seek_file(h, 0, qp::SeekFrom::Current); }

int lustricmp(const char* a, const char* b) {
  for (;; ++a, ++b) {
    const int ca = std::tolower(static_cast<unsigned char>(*a));
    const int cb = std::tolower(static_cast<unsigned char>(*b));
    if (ca != cb) return ca < cb ? -1 : 1;
    if (ca == 0) return 0;
  }
}

bool HasZipSuffix(const char* name) {
  static const char* const kSuffixes[] = {".Z", ".zip", ".zoo", ".arc", ".lzh", ".arj", ".gz", ".tgz"};
  const char* dot = std::strrchr(name, '.');
  if (dot == nullptr) return false;
  for (const char* s : kSuffixes)
    if (lustricmp(dot, s) == 0) return true;
  return false;
}

// ---------------------------------------------------------------------------
// Record writers

namespace {

constexpr unsigned kZip64ExtraMax = 4 + 3 * 8;

// Appends a Zip64 extended information block holding `count` values.
unsigned put_zip64_block(unsigned char* p, const uint64_t* values, unsigned count) {
  put16(p, kZip64ExtraId);
  put16(p + 2, static_cast<uint16_t>(8 * count));
  for (unsigned i = 0; i < count; ++i) put64(p + 4 + 8 * i, values[i]);
  return 4 + 8 * count;
}

}  // namespace

// A local header with Zip64 sizes holds 0xFFFFFFFF in both size fields and
// both sizes in its Zip64 block, ahead of the timestamp block.
int putlocal(const zlist& z, ZipWriteFunc wfunc, void* context) {
  unsigned char h[kLocalHeaderSize];
  put32(h, kLocalHeaderSignature);
  put16(h + 4, z.version_needed);
  put16(h + 6, z.local_flags);
  put16(h + 8, z.method);
  put32(h + 10, z.dos_stamp);
  put32(h + 14, z.crc);
  put32(h + 18, z.zip64_sizes ? kZip64Marker : static_cast<uint32_t>(z.csize));
  put32(h + 22, z.zip64_sizes ? kZip64Marker : static_cast<uint32_t>(z.usize));
  put16(h + 26, static_cast<uint16_t>(z.name_len));
  put16(h + 28, static_cast<uint16_t>(z.local_extra_len));
  unsigned char extra[kZip64ExtraMax + kLocalExtraSize];
  unsigned n = 0;
  if (z.zip64_sizes) {
    const uint64_t sizes[2] = {z.usize, z.csize};
    n = put_zip64_block(extra, sizes, 2);
  }
  std::memcpy(extra + n, z.local_extra, kLocalExtraSize);
  n += kLocalExtraSize;
  return put_parts(wfunc, context, h, sizeof h, z.name.data(), z.name_len, extra, n);
}

// With Zip64 sizes the descriptor's sizes are 8 bytes each (APPNOTE 4.3.9).
int putextended(const zlist& z, ZipWriteFunc wfunc, void* context) {
  unsigned char d[kZip64DataDescriptorSize];
  put32(d, kDataDescriptorSignature);
  put32(d + 4, z.crc);
  if (z.zip64_sizes) {
    put64(d + 8, z.csize);
    put64(d + 16, z.usize);
    return put_parts(wfunc, context, d, kZip64DataDescriptorSize, nullptr, 0, nullptr, 0);
  }
  put32(d + 8, static_cast<uint32_t>(z.csize));
  put32(d + 12, static_cast<uint32_t>(z.usize));
  return put_parts(wfunc, context, d, kDataDescriptorSize, nullptr, 0, nullptr, 0);
}

int putcentral(const zlist& z, ZipWriteFunc wfunc, void* context) {
  unsigned char h[kCentralHeaderSize];
  put32(h, kCentralHeaderSignature);
  put16(h + 4, z.version_made_by);
  put16(h + 6, z.version_needed);
  put16(h + 8, z.flags);
  put16(h + 10, z.method);
  put32(h + 12, z.dos_stamp);
  put32(h + 16, z.crc);
  put32(h + 20, z.zip64_sizes ? kZip64Marker : static_cast<uint32_t>(z.csize));
  put32(h + 24, z.zip64_sizes ? kZip64Marker : static_cast<uint32_t>(z.usize));
  put16(h + 28, static_cast<uint16_t>(z.name_len));
  put16(h + 30, static_cast<uint16_t>(z.central_extra_len));
  put16(h + 32, static_cast<uint16_t>(z.comment_len));
  put16(h + 34, z.disk);
  put16(h + 36, z.internal_attr);
  put32(h + 38, z.external_attr);
  put32(h + 42, z.zip64_offset ? kZip64Marker : static_cast<uint32_t>(z.offset));
  unsigned char extra[kZip64ExtraMax + kCentralExtraSize];
  uint64_t values[3];
  unsigned count = 0, n = 0;
  if (z.zip64_sizes) values[count++] = z.usize, values[count++] = z.csize;
  if (z.zip64_offset) values[count++] = z.offset;
  if (count) n = put_zip64_block(extra, values, count);
  std::memcpy(extra + n, z.central_extra, kCentralExtraSize);
  n += kCentralExtraSize;
  return put_parts(wfunc, context, h, sizeof h, z.name.data(), z.name_len, extra, n);
}

int putend(unsigned count, uint32_t size, uint32_t offset, unsigned comment_len, const char* comment,
           ZipWriteFunc wfunc, void* context) {
  unsigned char e[kEndRecordSize];
  put32(e, kEndRecordSignature);
  put16(e + 4, 0);
  put16(e + 6, 0);
  put16(e + 8, static_cast<uint16_t>(count));
  put16(e + 10, static_cast<uint16_t>(count));
  put32(e + 12, size);
  put32(e + 16, offset);
  put16(e + 20, static_cast<uint16_t>(comment_len));
  if (comment == nullptr) comment_len = 0;
  return put_parts(wfunc, context, e, sizeof e, comment, comment_len, nullptr, 0);
}

int putend64(uint64_t count, uint64_t size, uint64_t offset, ZipWriteFunc wfunc, void* context) {
  unsigned char e[kZip64EndRecordSize];
  put32(e, kZip64EndRecordSignature);
  put64(e + 4, kZip64EndRecordSize - 12);  // the record's size past this field
  put16(e + 12, kVersionMadeBy);
  put16(e + 14, kVersionNeededZip64);
  put32(e + 16, 0);  // this disk
  put32(e + 20, 0);  // disk where the directory starts
  put64(e + 24, count);
  put64(e + 32, count);
  put64(e + 40, size);
  put64(e + 48, offset);
  return put_parts(wfunc, context, e, sizeof e, nullptr, 0, nullptr, 0);
}

int putlocator64(uint64_t end64_offset, ZipWriteFunc wfunc, void* context) {
  unsigned char l[kZip64EndLocatorSize];
  put32(l, kZip64EndLocatorSignature);
  put32(l + 4, 0);  // disk holding the Zip64 end record
  put64(l + 8, end64_offset);
  put32(l + 16, 1);  // disks in all
  return put_parts(wfunc, context, l, sizeof l, nullptr, 0, nullptr, 0);
}

// ---------------------------------------------------------------------------
// TZip

TZip::TZip(const char* password) {
  if (password != nullptr && *password != '\0') {
    const size_t n = std::strlen(password);
    password_ = new char[n + 1];  // never silently without its password
    std::memcpy(password_, password, n + 1);
  }
}

TZip::~TZip() {
  while (items_) {
    zlist* next = items_->next;
    delete items_;
    items_ = next;
  }
  delete deflater_;
  delete[] enc_buf_;
  delete[] password_;
}

ZIPRESULT TZip::Create(void* z, uint32_t len, uint32_t kind) {
  if (out_handle_ || out_mapping_.view || out_mem_ || written_ || out_error_ || central_done_)
    return ZIPR_NOTINITIALISED;
  if (kind == ZIPSRC_HANDLE) {
    // The caller's handle is taken as it is, without a test: a handle that
    // does not work shows up at the first write. A null one is kept as the
    // invalid handle, so that those writes fail as writes too instead of
    // finding no output at all.
    qp::Handle h = static_cast<qp::Handle>(z);
    out_handle_ = h != nullptr ? h : qp::kInvalidHandle;
    close_out_handle_ = false;
    const uint64_t pos = GetFilePosZ(h);
    out_seekable_ = pos != qp::kNoPosition64;
    out_base_ = out_seekable_ ? pos : 0;
    return ZIPR_OK;
  }
  if (kind == ZIPSRC_FILENAME) {
    qp::Handle h = qp::create_exclusive(static_cast<const char*>(z), qp::kAttrNormal);
    if (!qp::is_valid(h)) return ZIPR_OPENFAILED;
    out_handle_ = h;
    out_seekable_ = true;
    out_base_ = 0;
    close_out_handle_ = true;
    return ZIPR_OK;
  }
  if (kind == ZIPSRC_MEMORY) {
    if (len == 0) return ZIPR_MEMORYFULL;
    if (z != nullptr) {
      out_mem_ = static_cast<char*>(z);
    } else {
      if (!qp::map_zeroed(len, &out_mapping_)) return ZIPR_NOMEMORY;
      out_mem_ = static_cast<char*>(out_mapping_.view);
    }
    out_seekable_ = true;
    out_mem_pos_ = 0;
    out_mem_size_ = len;
    return ZIPR_OK;
  }
  return ZIPR_BADARGS;
}

unsigned TZip::swrite(void* context, const char* bytes, unsigned n) {
  if (n == 0) return 0;
  return static_cast<TZip*>(context)->write(bytes, n);
}

unsigned TZip::sflush(void* context, const char* bytes, unsigned* n) {
  if (*n == 0) return 0;
  TZip* zip = static_cast<TZip*>(context);
  const unsigned done = zip->write(bytes, *n);
  zip->out_csize_ += done;
  if (done) *n = 0;
  return done;
}

unsigned TZip::sread(TState& state, char* bytes, unsigned n) {
  return static_cast<TZip*>(state.context)->read(bytes, n);
}

unsigned TZip::write(const char* bytes, unsigned n) {
  const char* src = bytes;
  if (encrypting_ && n > 0) {
    if (enc_buf_ && enc_buf_size_ < n) {
      delete[] enc_buf_;
      enc_buf_ = nullptr;
    }
    if (enc_buf_ == nullptr) {
      enc_buf_ = new (std::nothrow) char[2 * size_t(n)];
      if (enc_buf_ == nullptr) {
        out_error_ = ZIPR_NOMEMORY;
        return 0;
      }
      enc_buf_size_ = n;
    }
    for (unsigned i = 0; i < n; ++i) enc_buf_[i] = zencode(keys_, bytes[i]);
    src = enc_buf_;
  }
  if (out_mem_) {
    // The block keeps one byte free: a write that would reach its last byte
    // stores nothing.
    if (uint64_t(out_mem_pos_) + n >= out_mem_size_) {
      out_error_ = ZIPR_MEMORYFULL;
      return 0;
    }
    std::memcpy(out_mem_ + out_mem_pos_, src, n);
    out_mem_pos_ += n;
    return n;
  }
  if (out_handle_) {
    uint32_t done = 0;
    const bool ok = qp::write_file(out_handle_, src, n, &done);
    // Whatever part of the archive went missing, the archive is damaged: the
    // output is marked failed so that the item and Close say so.
    if (!ok || done != n) out_error_ = ZIPR_WRITEFAILED;
    return ok ? done : 0;
  }
  out_error_ = ZIPR_NOTINITIALISED;
  return 0;
}

bool TZip::oseek(uint64_t pos) {
  if (!out_seekable_) {
    out_error_ = ZIPR_UNSEEKABLE;
    return false;
  }
  if (out_mem_) {
    if (pos >= out_mem_size_) {
      out_error_ = ZIPR_MEMORYFULL;
      return false;
    }
    out_mem_pos_ = static_cast<uint32_t>(pos);
    return true;
  }
  if (out_handle_) {
    const uint64_t target = pos + out_base_;
    if (target > uint64_t(INT64_MAX) ||
        qp::seek_file(out_handle_, static_cast<int64_t>(target), qp::SeekFrom::Begin) != target) {
      out_error_ = ZIPR_UNSEEKABLE;
      return false;
    }
    return true;
  }
  out_error_ = ZIPR_NOTINITIALISED;
  return false;
}

unsigned TZip::read(char* bytes, unsigned n) {
  unsigned got = 0;
  if (in_mem_) {
    if (in_mem_pos_ < in_mem_len_) {
      got = in_mem_len_ - in_mem_pos_ < n ? in_mem_len_ - in_mem_pos_ : n;
      std::memcpy(bytes, in_mem_ + in_mem_pos_, got);
      in_mem_pos_ += got;
    }
  } else if (in_handle_) {
    uint32_t done = 0;
    if (qp::read_file(in_handle_, bytes, n, &done)) {
      got = done;
    } else {
      in_failed_ = true;  // a read error is not the end of the data
    }
  } else {
    out_error_ = ZIPR_NOTINITIALISED;
    return 0;
  }
  in_read_ += got;
  in_crc_ = crc32(in_crc_, reinterpret_cast<const unsigned char*>(bytes), got);
  return got;
}

void TZip::reset_input() {
  in_handle_ = nullptr;
  in_mem_ = nullptr;
  close_in_handle_ = false;
  in_crc_ = 0;
  in_size_ = 0;
  in_read_ = 0;
  in_failed_ = false;
  out_csize_ = 0;
  in_mem_len_ = in_mem_pos_ = 0;
}

ZIPRESULT TZip::open_file(const char* path, bool utf8_path) {
  reset_input();
  if (path == nullptr) return ZIPR_BADARGS;
  qp::Handle h = utf8_path ? qp::open_read_shared_utf8(path) : qp::open_read_shared(path);
  if (!qp::is_valid(h)) return ZIPR_OPENFAILED;
  const ZIPRESULT r = open_handle(h, 0);
  if (r != ZIPR_OK) {
    qp::close_handle(h);
    return r;
  }
  close_in_handle_ = true;
  return ZIPR_OK;
}

ZIPRESULT TZip::open_handle(qp::Handle h, uint32_t len) {
  reset_input();
  if (!qp::is_valid(h)) return ZIPR_BADARGS;
  if (qp::seek_file(h, 0, qp::SeekFrom::Current) != qp::kNoPosition64) {
    uint64_t size = 0;
    const ZIPRESULT r = GetFileInfo(h, &in_attr_, &size, &in_times_, &in_stamp_);
    if (r != ZIPR_OK) return r;
    if (size > uint64_t(INT64_MAX)) return ZIPR_BADARGS;
    in_size_ = static_cast<int64_t>(size);
    // The item is the whole file, wherever the handle stood.
    qp::seek_file(h, 0, qp::SeekFrom::Begin);
  } else {
    in_attr_ = kAttrStreamItem;
    in_size_ = len != 0 ? int64_t(len) : -1;
    GetNow(&in_times_, &in_stamp_);
  }
  in_handle_ = h;
  return ZIPR_OK;
}

ZIPRESULT TZip::open_mem(const void* block, uint32_t len) {
  reset_input();
  in_mem_ = static_cast<const char*>(block);
  in_mem_len_ = len;
  in_mem_pos_ = 0;
  if (block == nullptr || len == 0) return ZIPR_BADARGS;
  in_attr_ = kAttrStreamItem;
  in_size_ = len;
  GetNow(&in_times_, &in_stamp_);
  return ZIPR_OK;
}

ZIPRESULT TZip::open_dir() {
  reset_input();
  in_attr_ = kAttrFolderItem;
  in_size_ = 0;
  GetNow(&in_times_, &in_stamp_);
  return ZIPR_OK;
}

void TZip::iclose() {
  if (close_in_handle_ && in_handle_) qp::close_handle(in_handle_);
  in_handle_ = nullptr;
  close_in_handle_ = false;
  in_size_ = static_cast<int64_t>(in_read_);
}

bool TZip::istore() {
  uint64_t total = 0;
  for (;;) {
    const unsigned n = read(buf_, kChunk);
    if (n == 0 || n == 0xFFFFFFFFu) break;
    total += n;
    if (write(buf_, n) != n) return false;
  }
  out_csize_ = total;
  return true;
}

bool TZip::ideflate(zlist& z) {
  if (deflater_ == nullptr) {
    deflater_ = new (std::nothrow) TState;
    if (deflater_ == nullptr) return false;
  }
  DeflateItem item;
  item.context = this;
  item.read_input = sread;
  item.flush_output = sflush;
  item.level = kLevel;
  item.out_buf = buf_;
  item.out_size = kChunk;
  item.attr = &z.internal_attr;
  item.flags = &z.flags;
  start_item(*deflater_, item);
  out_csize_ = 0;  // counted by sflush: every byte that reached the output
  deflate(*deflater_);
  return deflater_->failed_check == nullptr;
}

ZIPRESULT TZip::AddPrepared(const char* name, const ZipPreparedItem& item) {
  if (out_error_ != ZIPR_OK) return ZIPR_PREVIOUSERROR;
  if (central_done_) return ZIPR_ENDED;
  if (name == nullptr) return ZIPR_BADARGS;
  prepared_ = &item;
  const ZIPRESULT r = add_item(name, name, 0, ZIPSRC_FILENAME, true);
  prepared_ = nullptr;
  return r;
}

// What open_file and open_handle find for a file, taken from the prepared
// item, with the same checks.
ZIPRESULT TZip::open_prepared() {
  reset_input();
  const ZipPreparedItem& p = *prepared_;
  if (p.open_result != ZIPR_OK) return p.open_result;
  in_attr_ = p.attr;
  in_times_ = p.times;
  in_stamp_ = p.stamp;
  if (p.size > uint64_t(INT64_MAX)) return ZIPR_BADARGS;
  in_size_ = static_cast<int64_t>(p.size);
  return ZIPR_OK;
}

// The data step of a prepared item: its bytes go out as the compressor or
// istore would have sent them, and the input counters take the values that
// reading the file gave.
bool TZip::replay_prepared(zlist& z) {
  const ZipPreparedItem& p = *prepared_;
  z.flags |= p.flag_bits;
  in_crc_ = p.crc;
  in_read_ = p.read_total;
  in_failed_ = p.read_failed;
  out_csize_ = 0;
  for (uint64_t at = 0; at < p.data_len;) {
    const unsigned n = p.data_len - at < kChunk ? static_cast<unsigned>(p.data_len - at) : kChunk;
    const unsigned done = write(p.data + at, n);
    out_csize_ += done;
    if (done != n) return false;
    at += n;
  }
  return p.data_ok;
}

// An item that failed after its first bytes went out. On a memory output the
// archive's end is where the bytes actually stopped, so that the central
// directory lands right after what the block holds.
ZIPRESULT TZip::fail_item(ZIPRESULT result) {
  iclose();
  encrypting_ = false;
  if (out_mem_) written_ = out_mem_pos_;
  return result;
}

// An item whose sizes went past what the 32-bit fields of its local header
// can hold, when that header has no room for Zip64 sizes (its size was not
// known in advance, or the source grew while it was read). On an output that
// can seek, its bytes are given up: the archive continues at its local
// header, and Close cuts a file there. On a stream the archive cannot be
// finished correctly, so the output is marked failed.
ZIPRESULT TZip::drop_oversized_item(const zlist& z) {
  iclose();
  encrypting_ = false;
  const uint64_t start = z.offset - out_base_;
  if (out_seekable_ && oseek(start)) {
    written_ = start;
    truncate_on_close_ = out_mem_ == nullptr;
    return ZIPR_WRITEFAILED;
  }
  out_error_ = ZIPR_WRITEFAILED;
  return ZIPR_WRITEFAILED;
}

namespace {

bool plain_ascii(const std::string& s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

// The stored form of an item name: at most 259 characters (code points of
// a UTF-8 name, bytes otherwise), forward slashes. A backslash is never part
// of a UTF-8 sequence, so the replacement leaves the characters whole.
std::string stored_name(const std::string& given) {
  std::string name = given.substr(0, given.find('\0'));
  if (qp::is_valid_utf8(name.data(), name.size())) {
    size_t chars = 0, i = 0;
    for (; i < name.size(); ++i) {
      if ((static_cast<unsigned char>(name[i]) & 0xC0) == 0x80) continue;
      if (chars == kZipNameMax) break;
      ++chars;
    }
    name.resize(i);
  } else if (name.size() > kZipNameMax) {
    name.resize(kZipNameMax);
  }
  for (char& c : name)
    if (c == '\\') c = '/';
  return name;
}

// Largest compressed size the compressor can make of `size` bytes: it falls
// back to stored blocks, and where a block cannot be stored its Huffman
// codes cost little more than a byte per byte. An item whose bound passes
// the classic fields gets Zip64 sizes from its first local header on.
uint64_t deflate_bound(uint64_t size) { return size + (size >> 7) + 1024; }

}  // namespace

ZIPRESULT TZip::Add(const char* odstname, const void* src, uint32_t len, uint32_t kind) {
  if (out_error_ != ZIPR_OK) return ZIPR_PREVIOUSERROR;
  if (central_done_) return ZIPR_ENDED;
  if (kind < ZIPSRC_HANDLE || kind > ZIPSRC_FOLDER || odstname == nullptr) return ZIPR_BADARGS;
  // A name of the system's code page is stored in UTF-8 (on Windows an ANSI
  // name is converted; elsewhere its bytes are taken as they are).
  return add_item(qp::utf8_from_system(odstname), src, len, kind, false);
}

ZIPRESULT TZip::AddUtf8(const char* name, const char* path) {
  if (out_error_ != ZIPR_OK) return ZIPR_PREVIOUSERROR;
  if (central_done_) return ZIPR_ENDED;
  if (name == nullptr) return ZIPR_BADARGS;
  return add_item(name, path, 0, ZIPSRC_FILENAME, true);
}

ZIPRESULT TZip::add_item(const std::string& given, const void* src, uint32_t len, uint32_t kind,
                         bool utf8_path) {
  const bool enciphered = password_ != nullptr && kind != ZIPSRC_FOLDER;
  const uint32_t header_extra = enciphered ? kEncryptionHeaderSize : 0;

  // The stored name; a folder's ends in a slash. A name that is not plain
  // ASCII is flagged as UTF-8 when it is UTF-8; other bytes stay unflagged.
  std::string name = stored_name(given);
  if (name.empty()) return ZIPR_BADARGS;
  const bool is_folder = kind == ZIPSRC_FOLDER;
  if (is_folder && name.back() != '/') name += '/';
  const uint16_t name_flag = (!plain_ascii(name) && qp::is_valid_utf8(name.data(), name.size())) ? kFlagUtf8Name : 0;
  const uint16_t method = (is_folder || HasZipSuffix(name.c_str())) ? kMethodStored : kMethodDeflated;

  ZIPRESULT r;
  switch (kind) {
    case ZIPSRC_FILENAME:
      r = prepared_ ? open_prepared() : open_file(static_cast<const char*>(src), utf8_path);
      break;
    case ZIPSRC_HANDLE: r = open_handle(const_cast<qp::Handle>(src), len); break;
    case ZIPSRC_MEMORY: r = open_mem(src, len); break;
    default: r = open_dir(); break;
  }
  if (r != ZIPR_OK) return r;
  if (prepared_ && prepared_->method != method) return ZIPR_BADARGS;  // made for another name

  // Zip64 where the classic fields cannot hold a value: sizes known in
  // advance that may pass them (the local header then carries both sizes in
  // a Zip64 block), and a local header that starts past them (its offset
  // goes into the central record's Zip64 block).
  const uint64_t limit = size_limit_;
  const uint64_t offset = out_base_ + written_;
  const bool zip64_sizes =
      in_size_ >= 0 &&
      (method == kMethodStored ? uint64_t(in_size_) : deflate_bound(uint64_t(in_size_))) + header_extra > limit;
  const bool zip64_offset = offset > limit;

  zlist z{};
  z.version_made_by = kVersionMadeBy;
  z.version_needed = (zip64_sizes || zip64_offset) ? kVersionNeededZip64 : kVersionNeeded;
  z.flags = z.local_flags =
      static_cast<uint16_t>((enciphered ? (kFlagEncrypted | kFlagDataDescriptor) : kFlagDataDescriptor) | name_flag);
  z.method = method;
  z.dos_stamp = in_stamp_;
  z.crc = 0;
  z.csize = (method == kMethodStored && in_size_ >= 0) ? uint64_t(in_size_) + header_extra : 0;
  z.usize = in_size_ >= 0 ? uint64_t(in_size_) : 0xFFFFFFFFu;  // 0xFFFFFFFF when not given
  z.name_len = static_cast<uint32_t>(name.size());
  z.name = name;
  z.zip64_sizes = zip64_sizes;
  z.zip64_offset = zip64_offset;
  const unsigned local_zip64 = zip64_sizes ? 4 + 16 : 0;
  const unsigned central_zip64 = (zip64_sizes || zip64_offset) ? 4 + 8 * (2 * zip64_sizes + zip64_offset) : 0;
  z.local_extra_len = kLocalExtraSize + local_zip64;
  z.central_extra_len = kCentralExtraSize + central_zip64;
  z.external_attr = in_attr_;
  z.offset = offset;
  unsigned char* e = z.local_extra;
  e[0] = kTimestampId0;
  e[1] = kTimestampId1;
  put16(e + 2, 13);
  e[4] = 0x07;
  put32(e + 5, static_cast<uint32_t>(in_times_.mtime));
  put32(e + 9, static_cast<uint32_t>(in_times_.atime));
  put32(e + 13, static_cast<uint32_t>(in_times_.ctime));
  std::memcpy(z.central_extra, e, kCentralExtraSize);
  put16(z.central_extra + 2, 5);

  const uint64_t header_len = kLocalHeaderSize + z.name_len + z.local_extra_len;
  if (putlocal(z, swrite, this) != 0) return fail_item(out_error_ != ZIPR_OK ? out_error_ : ZIPR_WRITEFAILED);
  written_ += header_len;
  if (out_error_ != ZIPR_OK) return fail_item(out_error_);

  if (enciphered) {
    setup_keys(keys_, password_);
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
    if (out_error_ != ZIPR_OK) return fail_item(out_error_);
  }

  encrypting_ = enciphered;
  bool data_ok;
  if (prepared_) {
    data_ok = replay_prepared(z);
  } else if (method == kMethodDeflated) {
    data_ok = ideflate(z);
    if (deflater_ == nullptr) return fail_item(ZIPR_NOMEMORY);
  } else if (!is_folder) {
    data_ok = istore();
  } else {
    out_csize_ = 0;
    data_ok = true;
  }
  encrypting_ = false;
  const bool read_failed = in_failed_;
  const uint64_t read_total = in_read_;
  // A source with a size known before reading (a file, or a stream given a
  // length) that ends before it lost data on the way: a file cut short while
  // it was read, a stream that stopped early.
  const bool came_short = in_size_ >= 0 && read_total < uint64_t(in_size_);
  iclose();
  written_ += out_csize_;
  if (out_error_ != ZIPR_OK) return fail_item(out_error_);
  if (!data_ok) return fail_item(ZIPR_WRITEFAILED);
  if (read_failed) return fail_item(ZIPR_READFAILED);
  // Sizes that the local header's classic fields cannot hold, in a header
  // that has no Zip64 block for them.
  if (!zip64_sizes && (read_total > limit || out_csize_ + header_extra > limit)) return drop_oversized_item(z);

  const bool first_size_right = z.csize == header_extra + out_csize_;
  z.crc = in_crc_;
  z.csize = header_extra + out_csize_;
  z.usize = uint64_t(in_size_);

  if (out_seekable_ && !enciphered) {
    z.flags &= static_cast<uint16_t>(~kFlagDataDescriptor);
    z.local_flags = z.flags;
    if (!oseek(z.offset - out_base_)) return fail_item(ZIPR_UNSEEKABLE);
    if (putlocal(z, swrite, this) != 0) return fail_item(out_error_ != ZIPR_OK ? out_error_ : ZIPR_WRITEFAILED);
    if (!oseek(written_)) return fail_item(ZIPR_UNSEEKABLE);
  } else {
    // A stored item's data can only be found by the size in its local
    // header; when that was not right, the item cannot be listed.
    if (method == kMethodStored && !first_size_right) return fail_item(ZIPR_NOCHANGE);
    if (putextended(z, swrite, this) != 0) return fail_item(out_error_ != ZIPR_OK ? out_error_ : ZIPR_WRITEFAILED);
    written_ += zip64_sizes ? kZip64DataDescriptorSize : kDataDescriptorSize;
    z.flags = z.local_flags;
  }
  if (out_error_ != ZIPR_OK) return fail_item(out_error_);
  // The item holds what arrived, but not what the source was: it is not
  // listed, and the archive goes on without it.
  if (came_short) return fail_item(ZIPR_READFAILED);

  zlist* item = new (std::nothrow) zlist(z);
  if (item == nullptr) return fail_item(ZIPR_NOMEMORY);
  item->next = nullptr;
  if (last_item_) {
    last_item_->next = item;
  } else {
    items_ = item;
  }
  last_item_ = item;
  return ZIPR_OK;
}

ZIPRESULT TZip::AddCentral() {
  const uint64_t start = written_;
  bool ok = true;
  uint64_t count = 0;
  while (items_) {
    zlist* item = items_;
    if (ok && putcentral(*item, swrite, this) != 0) ok = false;
    written_ += kCentralHeaderSize + item->name_len + item->central_extra_len + item->comment_len;
    ++count;
    items_ = item->next;
    delete item;
  }
  last_item_ = nullptr;
  ZIPRESULT result = ZIPR_OK;
  if (!ok) {
    result = out_mem_ ? ZIPR_MEMORYFULL : ZIPR_WRITEFAILED;
  } else {
    // A count, size or offset that the end record's fields cannot hold goes
    // into the Zip64 end record, found through its locator; those fields of
    // the end record then read 0xFFFF or 0xFFFFFFFF, the others their value.
    const uint64_t size = written_ - start;
    const uint64_t offset = start + out_base_;
    const bool count_over = count > kClassicCountMax;
    const bool size_over = size > size_limit_, offset_over = offset > size_limit_;
    if (count_over || size_over || offset_over) {
      const uint64_t end64_at = out_base_ + written_;
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
    if (result != ZIPR_OK && out_mem_) result = ZIPR_MEMORYFULL;
  }
  // A memory archive never claims more bytes than its block holds.
  if (out_mem_) written_ = out_mem_pos_;
  return result;
}

ZIPRESULT TZip::Close() {
  if (!central_done_) central_result_ = AddCentral();
  central_done_ = true;
  ZIPRESULT result = central_result_;
  // A file output that lost bytes or could not be positioned holds no sound
  // archive, whatever the central directory's own writes did.
  if (result == ZIPR_OK && out_mem_ == nullptr && out_error_ != ZIPR_OK) result = out_error_;
  if (truncate_on_close_ && out_handle_) {
    qp::set_end_of_file(out_handle_);
    truncate_on_close_ = false;
  }
  if (out_mapping_.view) qp::unmap_zeroed(&out_mapping_);
  out_mem_ = nullptr;
  if (out_handle_ && close_out_handle_) qp::close_handle(out_handle_);
  out_handle_ = nullptr;
  close_out_handle_ = false;
  return result;
}

ZIPRESULT TZip::GetMemory(void** pbuf, uint32_t* plen) {
  if (!central_done_) central_result_ = AddCentral();
  central_done_ = true;
  if (pbuf) *pbuf = out_mem_;
  if (plen) *plen = static_cast<uint32_t>(written_);
  if (out_mem_ == nullptr) return ZIPR_NOTMEMORYZIP;
  return central_result_;
}

}  // namespace quillon
