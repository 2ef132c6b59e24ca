// The archive output: writes, positions and the release of what it owns.
#include "zip/write/output.h"

#include <cstring>

#include "platform/file.h"
#include "platform/file_end.h"

namespace quillon {

void ZipOutput::attach_handle(qp::Handle h) {
  handle_ = qp::HeldHandle::borrow(h != nullptr ? h : qp::kInvalidHandle);
  const uint64_t pos = qp::seek_file(h, 0, qp::SeekFrom::Current);
  seekable_ = pos != qp::kNoPosition64;
  base_ = seekable_ ? pos : 0;
}

ZIPRESULT ZipOutput::create_file(const char* path) {
  qp::Handle h = qp::create_exclusive(path, qp::kAttrNormal);
  if (!qp::is_valid(h)) return ZIPR_OPENFAILED;
  handle_ = qp::HeldHandle::own(h);
  seekable_ = true;
  base_ = 0;
  return ZIPR_OK;
}

ZIPRESULT ZipOutput::attach_memory(void* block, uint32_t len) {
  if (len == 0) return ZIPR_MEMORYFULL;
  if (block != nullptr) {
    mem_ = static_cast<char*>(block);
  } else {
    if (!qp::map_zeroed(len, &mapping_)) return ZIPR_NOMEMORY;
    mem_ = static_cast<char*>(mapping_.view);
  }
  seekable_ = true;
  mem_pos_ = 0;
  mem_size_ = len;
  return ZIPR_OK;
}

unsigned ZipOutput::write(const char* bytes, unsigned n) {
  if (mem_) {
    if (uint64_t(mem_pos_) + n >= mem_size_) {
      error_ = ZIPR_MEMORYFULL;
      return 0;
    }
    std::memcpy(mem_ + mem_pos_, bytes, n);
    mem_pos_ += n;
    return n;
  }
  if (!handle_.empty()) {
    uint32_t done = 0;
    const bool ok = qp::write_file(handle_.get(), bytes, n, &done);
    // Whatever part of the archive went missing, the archive is damaged: the
    // output is marked failed so that the item and Close say so.
    if (!ok || done != n) error_ = ZIPR_WRITEFAILED;
    return ok ? done : 0;
  }
  error_ = ZIPR_NOTINITIALISED;
  return 0;
}

bool ZipOutput::seek(uint64_t pos) {
  if (!seekable_) {
    error_ = ZIPR_UNSEEKABLE;
    return false;
  }
  if (mem_) {
    if (pos >= mem_size_) {
      error_ = ZIPR_MEMORYFULL;
      return false;
    }
    mem_pos_ = static_cast<uint32_t>(pos);
    return true;
  }
  if (!handle_.empty()) {
    const uint64_t target = pos + base_;
    if (target > uint64_t(INT64_MAX) ||
        qp::seek_file(handle_.get(), static_cast<int64_t>(target), qp::SeekFrom::Begin) != target) {
      error_ = ZIPR_UNSEEKABLE;
      return false;
    }
    return true;
  }
  error_ = ZIPR_NOTINITIALISED;
  return false;
}

void ZipOutput::truncate_here() {
  if (!handle_.empty()) qp::set_end_of_file(handle_.get());
}

void ZipOutput::release() {
  if (mapping_.view) qp::unmap_zeroed(&mapping_);
  mapping_ = qp::MappedBlock{};
  mem_ = nullptr;
  handle_.reset();
}

}  // namespace quillon
