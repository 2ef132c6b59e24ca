// The item source: opening each kind of source and reading it with its
// count and CRC-32.
#include "zip/write/item_source.h"

#include <cstring>
#include <utility>

#include "platform/file.h"
#include "zip/format/crc32.h"
#include "zip/write/writer.h"

namespace quillon {

void ItemSource::reset() {
  handle_.reset();
  mem_ = nullptr;
  crc_ = 0;
  size_ = 0;
  read_ = 0;
  failed_ = false;
  mem_len_ = mem_pos_ = 0;
}

ZIPRESULT ItemSource::open_file(const char* path, bool utf8_path) {
  reset();
  if (path == nullptr) return ZIPR_BADARGS;
  qp::Handle h = utf8_path ? qp::open_read_shared_utf8(path) : qp::open_read_shared(path);
  if (!qp::is_valid(h)) return ZIPR_OPENFAILED;
  return attach(qp::HeldHandle::own(h), 0);
}

ZIPRESULT ItemSource::open_handle(qp::Handle h, uint32_t len) { return attach(qp::HeldHandle::borrow(h), len); }

// A file opened here is closed again when it cannot be taken.
ZIPRESULT ItemSource::attach(qp::HeldHandle held, uint32_t len) {
  reset();
  const qp::Handle h = held.get();
  if (!qp::is_valid(h)) return ZIPR_BADARGS;
  if (qp::seek_file(h, 0, qp::SeekFrom::Current) != qp::kNoPosition64) {
    uint64_t size = 0;
    const ZIPRESULT r = GetFileInfo(h, &attr_, &size, &times_, &stamp_);
    if (r != ZIPR_OK) return r;
    if (size > uint64_t(INT64_MAX)) return ZIPR_BADARGS;
    size_ = static_cast<int64_t>(size);
    // The item is the whole file, wherever the handle stood.
    qp::seek_file(h, 0, qp::SeekFrom::Begin);
  } else {
    attr_ = kAttrStreamItem;
    size_ = len != 0 ? int64_t(len) : -1;
    GetNow(&times_, &stamp_);
  }
  handle_ = std::move(held);
  return ZIPR_OK;
}

ZIPRESULT ItemSource::open_memory(const void* block, uint32_t len) {
  reset();
  mem_ = static_cast<const char*>(block);
  mem_len_ = len;
  mem_pos_ = 0;
  if (block == nullptr || len == 0) return ZIPR_BADARGS;
  attr_ = kAttrStreamItem;
  size_ = len;
  GetNow(&times_, &stamp_);
  return ZIPR_OK;
}

ZIPRESULT ItemSource::open_folder() {
  reset();
  attr_ = kAttrFolderItem;
  size_ = 0;
  GetNow(&times_, &stamp_);
  return ZIPR_OK;
}

ZIPRESULT ItemSource::open_prepared(const ZipPreparedItem& p) {
  reset();
  if (p.open_result != ZIPR_OK) return p.open_result;
  attr_ = p.attr;
  times_ = p.times;
  stamp_ = p.stamp;
  if (p.size > uint64_t(INT64_MAX)) return ZIPR_BADARGS;
  size_ = static_cast<int64_t>(p.size);
  return ZIPR_OK;
}

void ItemSource::take_counts(uint32_t crc, uint64_t read_total, bool read_failed) {
  crc_ = crc;
  read_ = read_total;
  failed_ = read_failed;
}

unsigned ItemSource::read(char* bytes, unsigned n) {
  unsigned got = 0;
  if (mem_) {
    if (mem_pos_ < mem_len_) {
      got = mem_len_ - mem_pos_ < n ? mem_len_ - mem_pos_ : n;
      std::memcpy(bytes, mem_ + mem_pos_, got);
      mem_pos_ += got;
    }
  } else if (!handle_.empty()) {
    uint32_t done = 0;
    if (qp::read_file(handle_.get(), bytes, n, &done)) {
      got = done;
    } else {
      failed_ = true;  // a read error is not the end of the data
    }
  } else {
    return 0;
  }
  read_ += got;
  crc_ = crc32(crc_, reinterpret_cast<const unsigned char*>(bytes), got);
  return got;
}

void ItemSource::close() {
  handle_.reset();
  size_ = static_cast<int64_t>(read_);
}

}  // namespace quillon
