// The byte source of the archive reader: an OS handle (the caller's, or one
// opened here for a file name) or a memory block, read and positioned alike.
#include <atomic>
#include <cstring>
#include <utility>

#include "platform/file.h"
#include "zip/read/directory.h"

namespace quillon {

uint64_t handle_position(qp::Handle h) { return qp::seek_file(h, 0, qp::SeekFrom::Current); }

ByteSource* open_byte_source(const void* source, uint32_t length, uint32_t kind, ZIPRESULT* err) {
  *err = ZIPR_OK;
  if (kind != ZIPSRC_HANDLE && kind != ZIPSRC_FILENAME && kind != ZIPSRC_MEMORY) {
    *err = ZIPR_BADARGS;
    return nullptr;
  }
  if (kind == ZIPSRC_MEMORY && source == nullptr && length != 0) {
    *err = ZIPR_BADARGS;
    return nullptr;
  }
  // A handle opened here for a file name is owned from the start, so that
  // it closes on every way out, running out of memory included.
  qp::HeldHandle h;
  if (kind == ZIPSRC_FILENAME) {
    h = qp::HeldHandle::own(qp::open_read_shared(static_cast<const char*>(source)));
    if (!qp::is_valid(h.get())) {
      *err = ZIPR_OPENFAILED;
      return nullptr;
    }
  } else if (kind == ZIPSRC_HANDLE) {
    h = qp::HeldHandle::borrow(const_cast<qp::Handle>(source));
  }
  ByteSource* f = new ByteSource;
  if (kind == ZIPSRC_MEMORY) {
    f->from_handle = false;
    f->seekable = true;
    f->data = static_cast<const unsigned char*>(source);
    f->length = length;
    f->position = 0;
    f->base_offset = 0;
    return f;
  }
  f->from_handle = true;
  const uint64_t pos = handle_position(h.get());
  f->handle = std::move(h);
  f->seekable = pos != kNoSourcePosition;
  f->base_offset = f->seekable ? pos : 0;
  f->read_error = false;
  return f;
}

namespace {
std::atomic<uint64_t> closed_sources_reads{0};
}  // namespace

uint64_t source_reads_so_far() { return closed_sources_reads.load(std::memory_order_relaxed); }

void close_byte_source(ByteSource* f) {
  if (f == nullptr) return;
  closed_sources_reads.fetch_add(f->reads, std::memory_order_relaxed);
  delete f;  // closes the handle when it was opened here
}

size_t source_read(void* buf, size_t size, size_t n, ByteSource* f) {
  if (size == 0 || n == 0) return 0;
  const uint64_t want = uint64_t(size) * n;
  ++f->reads;
  if (f->from_handle) {
    if (want > 0x7FFFFFFFu) return 0;
    uint32_t done = 0;
    if (!qp::read_file(f->handle.get(), buf, static_cast<uint32_t>(want), &done)) f->read_error = true;
    return done / size;
  }
  const uint64_t left = f->position < f->length ? f->length - f->position : 0;
  const uint32_t take = static_cast<uint32_t>(want < left ? want : left);
  if (take > 0) std::memcpy(buf, f->data + f->position, take);
  f->position += take;
  return take / size;
}

int source_seek(ByteSource* f, int64_t offset, qp::SeekFrom from) {
  // Offsets come from archive fields of at most 64 bits, added to positions
  // that the source reported: anything beyond 2^62 is no place in a file.
  constexpr int64_t kFar = int64_t(1) << 62;
  if (offset > kFar || offset < -kFar) return kReadBadParam;
  if (from != qp::SeekFrom::Begin && from != qp::SeekFrom::Current && from != qp::SeekFrom::End) return kReadBadParam;
  if (f->from_handle) {
    if (!f->seekable) return kReadIoError;
    if (from == qp::SeekFrom::Begin) {
      const int64_t target = int64_t(f->base_offset) + offset;
      if (target < 0) return kReadBadParam;
      return qp::seek_file(f->handle.get(), target, from) == uint64_t(target) ? kReadOk : kReadIoError;
    }
    return qp::seek_file(f->handle.get(), offset, from) == qp::kNoPosition64 ? kReadIoError : kReadOk;
  }
  int64_t target = offset;
  if (from == qp::SeekFrom::Current) target += int64_t(f->position);
  if (from == qp::SeekFrom::End) target += int64_t(f->length);
  // A memory position may lie past the block (reads then deliver nothing),
  // but never before its start, nor so far that later sums could overflow.
  if (target < 0 || target > kFar) return kReadBadParam;
  f->position = static_cast<uint64_t>(target);
  return kReadOk;
}

uint64_t source_tell(ByteSource* f) {
  if (!f->from_handle) return f->position;
  if (!f->seekable) return 0;
  const uint64_t pos = handle_position(f->handle.get());
  if (pos == kNoSourcePosition || pos < f->base_offset) return kNoSourcePosition;
  return pos - f->base_offset;
}

bool source_failed(ByteSource* f) { return f->from_handle && f->read_error; }

}  // namespace quillon
