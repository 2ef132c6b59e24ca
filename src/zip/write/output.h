// Where an archive's bytes go: a file the archive creates, an open handle of
// the caller's, the caller's memory block, or a block mapped for the archive.
#pragma once
#include <cstdint>

#include "platform/handle.h"
#include "platform/memory.h"
#include "zip/format/zip_result.h"

namespace quillon {

// The output of one archive. Positions given to seek are relative to the
// archive's start, which on a caller's handle is wherever the handle stood
// when it was attached (the base offset). The output keeps the last failure
// of a write or a seek; it closes a file it created and unmaps a block it
// mapped when it is released or destroyed, and leaves the caller's handle and
// block alone.
class ZipOutput {
 public:
  ZipOutput() = default;
  ZipOutput(const ZipOutput&) = delete;
  ZipOutput& operator=(const ZipOutput&) = delete;
  ~ZipOutput() { release(); }

  // The caller's handle, taken without a test: one that does not work shows
  // up at the first write. A null one is kept as the invalid handle, so that
  // those writes fail as writes too instead of finding no output at all.
  void attach_handle(qp::Handle h);
  // Creates (or truncates) the file; ZIPR_OPENFAILED when it cannot.
  ZIPRESULT create_file(const char* path);
  // The caller's block of `len` bytes, or with a null block one of `len`
  // bytes mapped here (ZIPR_NOMEMORY when it cannot be).
  ZIPRESULT attach_memory(void* block, uint32_t len);

  bool attached() const { return !handle_.empty() || mem_ != nullptr || mapping_.view != nullptr; }
  bool is_memory() const { return mem_ != nullptr; }
  bool seekable() const { return seekable_; }
  uint64_t base() const { return base_; }
  // A memory output's block and its write position (where its bytes stop).
  char* memory() const { return mem_; }
  uint32_t memory_pos() const { return mem_pos_; }

  ZIPRESULT error() const { return error_; }
  void set_error(ZIPRESULT e) { error_ = e; }

  // Writes n bytes; returns the count written. A short write marks the
  // output failed. A memory block keeps its last byte free: a write that
  // would reach it stores nothing.
  unsigned write(const char* bytes, unsigned n);
  // Moves to an archive-relative position; false (and the output marked
  // failed) on an output that cannot seek or a position it cannot reach.
  bool seek(uint64_t pos);
  // Cuts a handle output at its current position.
  void truncate_here();
  // Unmaps a mapped block and closes a created file; the output is detached.
  void release();

 private:
  qp::HeldHandle handle_;
  qp::MappedBlock mapping_;
  char* mem_ = nullptr;
  uint32_t mem_pos_ = 0;
  uint32_t mem_size_ = 0;
  bool seekable_ = false;
  uint64_t base_ = 0;
  ZIPRESULT error_ = ZIPR_OK;
};

}  // namespace quillon
