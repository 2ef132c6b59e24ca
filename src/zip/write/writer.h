// Writing ZIP archives: the archive object ArchiveWriter, its record
// writers and helpers, and the handle-based creation API around it.
//
// An archive goes to a file that the writer creates, to an open handle of
// the caller's, or to memory (the caller's block or one that the writer
// maps itself).
// Items come from a named file, an open handle, a memory block, or are folder
// entries without data. Each is deflated (level 8) or, for names with an
// archive suffix and for folders, stored; with a password it is enciphered
// with the traditional PKWARE cipher. On an output that can seek, the local
// header is rewritten with the true CRC and sizes once the data is out;
// otherwise (and for enciphered items) a data descriptor follows the data.
//
// Names that are not plain ASCII are stored in UTF-8 with general-purpose
// flag bit 11 (APPNOTE 4.4.4); bytes that are not UTF-8 are stored as they
// are, unflagged. Sizes, offsets and counts go into the classic 16- and
// 32-bit fields wherever they fit; only where one does not, the record gets
// the Zip64 extended information block (APPNOTE 4.5.3) and "version needed"
// 45, and the archive the Zip64 end record and its locator (APPNOTE 4.3.14,
// 4.3.15). An archive whose values all fit is byte for byte what it was
// before Zip64 was written at all.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/handle.h"
#include "zip/format/zip_result.h"
#include "zip/write/output.h"
#include "zip/write/item_encoder.h"

namespace quillon {

constexpr uint16_t kVersionMadeBy = 0x0B17;  // host 11, format version 2.3
constexpr uint16_t kVersionNeeded = 20;
constexpr uint16_t kVersionNeededZip64 = 45;
constexpr unsigned kLocalExtraSize = 17;    // "UT", 13, flags, mtime, atime, ctime
constexpr unsigned kCentralExtraSize = 9;   // "UT", 5, flags, mtime

// Largest value the classic fields hold: 0xFFFF and 0xFFFFFFFF tell readers
// that the true value is in a Zip64 record.
constexpr uint32_t kClassicCountMax = 0xFFFE;
constexpr uint64_t kClassicSizeMax = 0xFFFFFFFEu;

// One item of the archive.
struct ItemRecord {
  uint16_t version_made_by;
  uint16_t version_needed;
  uint16_t flags;        // written into the central directory
  uint16_t method;
  uint32_t dos_stamp;    // DOS time in the low half, date in the high half
  uint32_t crc;
  uint64_t csize;        // encryption header included
  uint64_t usize;
  uint32_t name_len;
  uint32_t local_extra_len;    // the Zip64 block, when there is one, included
  uint32_t central_extra_len;  // likewise
  uint32_t comment_len;
  uint16_t disk;
  uint16_t internal_attr;
  uint16_t local_flags;  // written into the local header
  uint32_t external_attr;
  uint64_t offset;       // absolute output position of the local header
  unsigned char local_extra[kLocalExtraSize];     // the "UT" blocks; a Zip64
  unsigned char central_extra[kCentralExtraSize];  // block is made in front
  bool zip64_sizes;      // both sizes in Zip64 blocks, local and central
  bool zip64_offset;     // the offset in the central Zip64 block
  std::string name;      // as stored, no terminator
};

// Write function of the record writers: returns the count written.
using ZipWriteFunc = unsigned (*)(void* context, const char* bytes, unsigned n);

// The record writers; each returns 0, or nonzero when a part of the record
// was not written whole.
int putlocal(const ItemRecord& z, ZipWriteFunc wfunc, void* context);
int putextended(const ItemRecord& z, ZipWriteFunc wfunc, void* context);
int putcentral(const ItemRecord& z, ZipWriteFunc wfunc, void* context);
int putend(unsigned count, uint32_t size, uint32_t offset, unsigned comment_len, const char* comment,
           ZipWriteFunc wfunc, void* context);
// The Zip64 end record (56 bytes) and its locator (20 bytes), which points
// at the record's absolute position.
int putend64(uint64_t count, uint64_t size, uint64_t offset, ZipWriteFunc wfunc, void* context);
int putlocator64(uint64_t end64_offset, ZipWriteFunc wfunc, void* context);

// An item whose data was made away from the archive (by a worker of the ZIP
// export, with an encoder of its own): its name, what opening its source
// found, what encoding gave, and the data itself.
struct EncodedItem {
  ItemName name;
  SourceFacts source;
  ItemData data;
  const char* bytes = nullptr;  // data.size bytes
};

class ArchiveWriter {
 public:
  explicit ArchiveWriter(const char* password);
  // Releases the output if Close has not: a file the archive created is
  // closed (as it stands, unfinished) and a block it mapped is unmapped.
  ~ArchiveWriter();
  ArchiveWriter(const ArchiveWriter&) = delete;
  ArchiveWriter& operator=(const ArchiveWriter&) = delete;

  // Attaches the output: a qp::Handle (ZIPSRC_HANDLE), a file name
  // (ZIPSRC_FILENAME), or a memory block of len bytes, null to have one
  // mapped (ZIPSRC_MEMORY).
  ZIPRESULT Create(void* z, uint32_t len, uint32_t kind);
  // Adds one item from a file name, a qp::Handle (len: its size if known, or
  // 0), a memory block of len bytes, or a folder entry (src ignored). The
  // name and a file name are texts of the system's code page.
  ZIPRESULT Add(const char* name, const void* src, uint32_t len, uint32_t kind);
  // Adds a file item whose name and file name are UTF-8 texts.
  ZIPRESULT AddUtf8(const char* name, const char* path);
  // Writes an item encoded elsewhere: the records and bytes are those that
  // adding its source here would have written.
  ZIPRESULT AddEncoded(const EncodedItem& item);
  // Ends the archive and hands out a memory archive's block and length.
  ZIPRESULT GetMemory(void** pbuf, uint32_t* plen);
  // Ends the archive and releases the output.
  ZIPRESULT Close();

  // Largest size or offset written into a classic 32-bit field; beyond it
  // the value goes into a Zip64 block. Tests lower it to exercise Zip64
  // records with small items.
  void set_size_limit(uint64_t limit) { size_limit_ = limit; }

 private:
  // Archive output, for the record writers and the item sink: enciphered
  // while an enciphered item's data goes out.
  static unsigned swrite(void* context, const char* bytes, unsigned n);
  unsigned write(const char* bytes, unsigned n);

  // The steps of adding an item, in their order.
  ZIPRESULT add_item(const std::string& name, const void* src, uint32_t len, uint32_t kind, bool utf8_path);
  ZIPRESULT open_source(const void* src, uint32_t len, uint32_t kind, bool utf8_path);
  template <typename DataStep>
  ZIPRESULT put_item(const ItemName& name, const SourceFacts& source, bool enciphered, DataStep data);
  ItemRecord local_record(const ItemName& name, const SourceFacts& source, bool enciphered) const;
  ZIPRESULT write_local_header(const ItemRecord& z);
  ZIPRESULT write_encryption_header(const ItemRecord& z);
  ItemData write_encoded(const EncodedItem& item);
  ZIPRESULT end_item(ItemRecord& z, const ItemData& d);

  ZIPRESULT AddCentral();
  ZIPRESULT fail_item(ZIPRESULT result);
  ZIPRESULT drop_oversized_item(const ItemRecord& z);

  std::string password_;           // empty: no encryption
  ZipOutput out_;
  uint64_t written_ = 0;           // archive-relative end position
  bool central_done_ = false;
  ZIPRESULT central_result_ = ZIPR_OK;
  bool truncate_on_close_ = false;  // a refused item left bytes past the archive's end
  bool encrypting_ = false;
  uint32_t keys_[3] = {0, 0, 0};
  std::vector<char> enc_buf_;
  std::vector<ItemRecord> items_;
  uint64_t size_limit_ = kClassicSizeMax;
  ItemEncoder encoder_;            // of the items added from their sources
};

// The process has seeded the generator of the encryption headers.
extern bool has_seeded;

// Attributes, size, times and DOS stamp of an open file; each output may be
// null. ZIPR_OPENFAILED when the system cannot tell.
ZIPRESULT GetFileInfo(qp::Handle h, uint32_t* attr, uint64_t* size, ItemTimes* times, uint32_t* stamp);
// The current local time as a file time (all three times) and a DOS stamp.
void GetNow(ItemTimes* times, uint32_t* stamp);

// The creation API. Every function stores its result in lasterrorZ.
HZIP CreateZipInternal(void* z, uint32_t len, uint32_t kind, const char* password);
HZIP CreateZipHandle(qp::Handle h, const char* password);
HZIP CreateZip(const char* filename, const char* password);
// A memory archive in the caller's block, or with a null block one of len
// bytes that the archive maps itself (valid until CloseZipZ).
HZIP CreateZip(void* block, uint32_t len, const char* password);

ZIPRESULT ZipAddInternal(HZIP hz, const char* name, const void* src, uint32_t len, uint32_t kind);
ZIPRESULT ZipAdd(HZIP hz, const char* name, const char* filename);
// ZipAdd with the item name and the file name in UTF-8 (the ZIP export's
// form: on Windows it lists and opens files through the wide functions).
ZIPRESULT ZipAddUtf8(HZIP hz, const char* name, const char* filename);
ZIPRESULT ZipAdd(HZIP hz, const char* name, const void* block, uint32_t len);
ZIPRESULT ZipAddHandle(HZIP hz, const char* name, qp::Handle h);
ZIPRESULT ZipAddHandle(HZIP hz, const char* name, qp::Handle h, uint32_t len);
ZIPRESULT ZipAddFolder(HZIP hz, const char* name);
// The archive object behind a writing handle; null for a null handle or
// one of another kind.
ArchiveWriter* archive_writer(HZIP hz);
// Ends the archive; a memory archive's block and length come out.
ZIPRESULT ZipGetMemory(HZIP hz, void** pbuf, uint32_t* plen);

}  // namespace quillon
