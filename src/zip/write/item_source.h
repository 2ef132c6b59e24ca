// Where an item's bytes come from: a named file, an open handle, a memory
// block, a folder entry (no bytes), or a file prepared elsewhere.
#pragma once
#include <cstdint>

#include "platform/handle.h"
#include "zip/format/records.h"
#include "zip/format/zip_result.h"

namespace quillon {

struct ZipPreparedItem;

// Times of an item as the system gives them (qp::FileInfo's file times:
// 100-nanosecond ticks since 1601-01-01); the records take Unix seconds of
// them.
struct ItemTimes {
  uint64_t access;
  uint64_t write;
  uint64_t creation;
};

// External attributes of items that are not backed by a file: a regular
// file without permissions, and a folder its owner may read, write and enter.
constexpr uint32_t kAttrStreamItem = kUnixTypeRegular << kUnixModeShift;
constexpr uint32_t kAttrFolderItem =
    (kUnixTypeDirectory | kUnixOwnerRead | kUnixOwnerWrite | kUnixOwnerExecute) << kUnixModeShift | kDosDirectory;

// The source of the item being added: what opening it found (attributes,
// times, the size announced in advance) and what reading it gave (the count,
// the CRC-32, whether a read failed). Each open starts afresh and closes a
// file the previous one opened; a caller's handle stays open.
class ItemSource {
 public:
  // A file by name (in UTF-8, or in the system's code page).
  ZIPRESULT open_file(const char* path, bool utf8_path);
  // An open handle: a file is read whole, from its start, with its own
  // information; a stream gets the current time and `len` as its size when
  // that is not 0.
  ZIPRESULT open_handle(qp::Handle h, uint32_t len);
  ZIPRESULT open_memory(const void* block, uint32_t len);
  ZIPRESULT open_folder();
  // What opening the file found, as a worker recorded it; the item's bytes
  // and counts come with it (take_counts).
  ZIPRESULT open_prepared(const ZipPreparedItem& p);
  // The counts of a prepared item's reading.
  void take_counts(uint32_t crc, uint64_t read_total, bool read_failed);

  // Whether there is anything to read from (a handle or a block).
  bool readable() const { return !handle_.empty() || mem_ != nullptr; }
  // Reads up to n bytes, counting them into the total and the CRC; 0 at the
  // end. A failing read gives 0 too and is remembered (failed()).
  unsigned read(char* bytes, unsigned n);
  // Closes a file opened here; the size becomes the count read.
  void close();

  uint32_t attr() const { return attr_; }
  const ItemTimes& times() const { return times_; }
  uint32_t stamp() const { return stamp_; }
  int64_t size() const { return size_; }  // announced size, -1 when not given
  uint64_t read_total() const { return read_; }
  uint32_t crc() const { return crc_; }
  bool failed() const { return failed_; }

 private:
  ZIPRESULT attach(qp::HeldHandle held, uint32_t len);
  void reset();

  uint32_t attr_ = 0;
  ItemTimes times_ = {0, 0, 0};
  uint32_t stamp_ = 0;
  int64_t size_ = 0;
  uint64_t read_ = 0;
  uint32_t crc_ = 0;
  bool failed_ = false;
  qp::HeldHandle handle_;
  const char* mem_ = nullptr;
  uint32_t mem_len_ = 0;
  uint32_t mem_pos_ = 0;
};

}  // namespace quillon
