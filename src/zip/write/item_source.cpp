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
  facts_ = SourceFacts{};
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
    const ZIPRESULT r = GetFileInfo(h, &facts_.attr, &size, &facts_.times, &facts_.stamp);
    if (r != ZIPR_OK) return r;
    if (size > uint64_t(INT64_MAX)) return ZIPR_BADARGS;
    facts_.size = static_cast<int64_t>(size);
    // The item is the whole file, wherever the handle stood.
    qp::seek_file(h, 0, qp::SeekFrom::Begin);
  } else {
    facts_.attr = kAttrStreamItem;
    facts_.size = len != 0 ? int64_t(len) : -1;
    GetNow(&facts_.times, &facts_.stamp);
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
  facts_.attr = kAttrStreamItem;
  facts_.size = len;
  GetNow(&facts_.times, &facts_.stamp);
  return ZIPR_OK;
}

ZIPRESULT ItemSource::open_folder() {
  reset();
  facts_.attr = kAttrFolderItem;
  facts_.size = 0;
  GetNow(&facts_.times, &facts_.stamp);
  return ZIPR_OK;
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

void ItemSource::close() { handle_.reset(); }

}  // namespace quillon
