// Where an item's bytes come from: a named file, an open handle, a memory
// block, or a folder entry (no bytes).
#pragma once
#include <cstdint>

#include "platform/handle.h"
#include "zip/format/records.h"
#include "zip/format/zip_result.h"

namespace quillon {

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

// What opening an item's source found: all that its local header needs of
// it.
struct SourceFacts {
  uint32_t attr = 0;                // external attributes
  ItemTimes times = {0, 0, 0};
  uint32_t stamp = 0;               // DOS date and time
  int64_t size = 0;                 // announced size, -1 when not given
};

// The source of the item being added: what opening it found and what
// reading it gave (the count, the CRC-32, whether a read failed). Each open
// starts afresh and closes a file the previous one opened; a caller's handle
// stays open.
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

  // Whether there is anything to read from (a handle or a block).
  bool readable() const { return !handle_.empty() || mem_ != nullptr; }
  // Reads up to n bytes, counting them into the total and the CRC; 0 at the
  // end. A failing read gives 0 too and is remembered (failed()).
  unsigned read(char* bytes, unsigned n);
  // Closes a file opened here.
  void close();

  const SourceFacts& facts() const { return facts_; }
  uint64_t read_total() const { return read_; }
  uint32_t crc() const { return crc_; }
  bool failed() const { return failed_; }

 private:
  ZIPRESULT attach(qp::HeldHandle held, uint32_t len);
  void reset();

  SourceFacts facts_;
  uint64_t read_ = 0;
  uint32_t crc_ = 0;
  bool failed_ = false;
  qp::HeldHandle handle_;
  const char* mem_ = nullptr;
  uint32_t mem_len_ = 0;
  uint32_t mem_pos_ = 0;
};

}  // namespace quillon
