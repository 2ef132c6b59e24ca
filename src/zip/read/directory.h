// The archive reader: a byte source over a handle, a file name or a memory
// block; the search for the end record; the walk over the central directory;
// the name lookup; and the entry stream that delivers one entry's bytes,
// deciphered, inflated and checked against its CRC.
//
// The reader speaks in its own status codes (kRead*); the reading API in
// reader.h turns them into ZIPRESULT codes.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "platform/file.h"
#include "platform/handle.h"
#include "zip/format/records.h"
#include "zip/format/zip_result.h"

namespace quillon {

// Reader status codes.
constexpr int kReadOk = 0;
constexpr int kReadIoError = -1;
constexpr int kReadListEnd = -100;
constexpr int kReadBadParam = -102;
constexpr int kReadBadArchive = -103;
constexpr int kReadCrcMismatch = -105;
constexpr int kReadBadPassword = -106;

// Size of the compressed-input chunks of an entry stream.
constexpr uint32_t kEntryChunkSize = 16384;

// ---------------------------------------------------------------------------
// Byte source.

struct ByteSource {
  bool from_handle = false;   // a handle or file-name source; false for memory
  bool seekable = false;      // the handle reported a position when opened
  qp::HeldHandle handle;      // owned when opened here for a file name
  bool read_error = false;    // a read on the handle failed
  uint64_t base_offset = 0;   // origin of absolute seeks while the archive opens
  const unsigned char* data = nullptr;  // memory block (the caller's)
  uint32_t length = 0;
  uint64_t position = 0;
  uint64_t reads = 0;         // source_read calls on this source
};

// Positions in sources are 64-bit: archives and their entries may pass 4 GiB.
constexpr uint64_t kNoSourcePosition = qp::kNoPosition64;

// The handle's position, or kNoSourcePosition when it has none (a pipe).
uint64_t handle_position(qp::Handle h);

// Opens a byte source of kind ZIPSRC_HANDLE, ZIPSRC_FILENAME or ZIPSRC_MEMORY;
// *err receives ZIPR_OK, ZIPR_BADARGS or ZIPR_OPENFAILED.
ByteSource* open_byte_source(const void* source, uint32_t length, uint32_t kind, ZIPRESULT* err);
// Closes the handle when it was opened here and frees the source, if any.
void close_byte_source(ByteSource* f);
// An owned byte source: closed by close_byte_source when its owner lets it go.
struct ByteSourceCloser {
  void operator()(ByteSource* f) const { close_byte_source(f); }
};
using ByteSourcePtr = std::unique_ptr<ByteSource, ByteSourceCloser>;
// Reads size * n bytes; returns the number of whole items read.
size_t source_read(void* buf, size_t size, size_t n, ByteSource* f);
// How many reads the sources of the process asked for, counted when each
// source closes: what the reader's access pattern costs, in any thread.
uint64_t source_reads_so_far();
// Moves to `offset` from the start (base_offset for handles), the current
// position or the end. kReadOk; kReadBadParam for an unknown origin or a
// position before the start or beyond 2^62; kReadIoError when the source
// cannot seek or the system refuses.
int source_seek(ByteSource* f, int64_t offset, qp::SeekFrom from);
// The position relative to the base offset, or kNoSourcePosition; 0 for a
// handle that cannot seek.
uint64_t source_tell(ByteSource* f);
// Whether a read on the handle failed (a memory block never fails).
bool source_failed(ByteSource* f);

// ---------------------------------------------------------------------------
// Archive.

// One central record as read: its fixed part as decoded, and the sizes and
// the offset as 64-bit values, where a field that holds 0xFFFFFFFF takes its
// value from the record's Zip64 block when it has one.
struct EntryRecord {
  CentralRecord central;
  uint64_t compressed_size = 0;
  uint64_t uncompressed_size = 0;
  uint64_t local_header_offset = 0;  // archive-relative
};

// The current entry's local header, read once for its description (its
// extra field may hold the entry's times) and for its stream, and dropped
// when another entry becomes current.
struct LocalHeaderFacts {
  bool read = false;        // read for the current entry
  int status = kReadOk;     // its check against the central record
  uint32_t var_size = 0;    // the length of its name and extra field together
  bool extra_read = false;  // its extra field could be read whole
  std::vector<unsigned char> extra;
};

struct EntryStream;
// Frees an entry stream (its input buffer and its inflater); defined where
// the stream is.
struct EntryStreamDeleter {
  void operator()(EntryStream* st) const;
};
using EntryStreamPtr = std::unique_ptr<EntryStream, EntryStreamDeleter>;

// What one pass over the central directory learns when the archive opens.
// Each entry's central record offset, so that reaching an entry costs one
// read whatever entry came before (workers visit entries out of order), and
// a record that cannot be described is stepped over by its lengths. The
// local header offsets, sorted, so that an entry can find the next local
// header above its own: the test that an entry's bytes stay clear of every
// other entry's (check_entry_span). Sixteen bytes per entry.
struct LocalHeaderIndex {
  std::vector<uint64_t> records;  // central record offsets (archive-relative), in directory order
  std::vector<uint64_t> offsets;  // distinct local header offsets, ascending
  // Offsets that several entries share, ascending, each with the first of
  // those entries in directory order: the only one of them that is read.
  std::vector<std::pair<uint64_t, uint32_t>> shared;
  uint32_t entries = 0;  // entries indexed: those before the first unreadable record
};

// An open archive. It owns its source and its open entry stream, if any;
// destroying it releases both.
struct ZipArchive {
  ByteSourcePtr source;
  uint32_t entry_count = 0;
  uint32_t comment_size = 0;           // of the archive comment
  uint64_t leading_bytes = 0;          // bytes of the source before the archive
  uint32_t entry_number = 0;
  uint64_t entry_record_offset = 0;    // archive-relative
  bool entry_ok = false;
  uint64_t end_record_offset = 0;      // source offset of the end record
  uint64_t directory_size = 0;         // from the Zip64 end record when there is one
  uint64_t directory_offset = 0;
  bool zip64 = false;                  // the counts came from a Zip64 end record
  EntryRecord entry;                   // the current entry's central record
  LocalHeaderFacts local_header;       // the current entry's local header, once read
  EntryStreamPtr stream;               // the open entry, or none
  LocalHeaderIndex local_index;
};

// The position of the end record relative to the source's base offset, or
// kNoSourcePosition when no whole record lies in the last 65,535 + 22 bytes
// (a record followed by the longest comment).
uint64_t find_end_record(ByteSource* f);

// Fills the archive's local_index with one pass over the central directory,
// read in large chunks. Records after the first unreadable one are left out,
// as the walk cannot reach them either. kReadOk; memory running out throws
// std::bad_alloc.
int index_local_headers(ZipArchive* s);

// Opens the archive of `source`, which it consumes either way (also when
// memory runs out, which throws std::bad_alloc); null when the source holds
// no usable archive.
std::unique_ptr<ZipArchive> open_archive(ByteSourcePtr source);
// The same for callers that hold the archive by hand and free it with
// close_archive.
ZipArchive* open_archive_raw(ByteSource* source);
int close_archive(ZipArchive* s);
// Makes entry n (0-based) the current one and describes it: kReadOk, or
// the entry's own failure (kReadBadArchive for a record that cannot be
// described, or that lies past the first unreadable one), kReadListEnd past
// the last entry. Another entry's damage does not affect it.
int go_to_entry(ZipArchive* s, uint32_t n);
int go_to_first_entry(ZipArchive* s);
// The entry after the current one, also when the current one is damaged.
int go_to_next_entry(ZipArchive* s);

// Reads the current central record. The name and the comment are terminated
// only when they are shorter than their buffer; the extra field never is.
int read_entry_record(ZipArchive* s, EntryRecord* info, char* name, uint32_t name_cap, void* extra,
                      uint32_t extra_cap, char* comment, uint32_t comment_cap);

// Case mode 1 compares bytes exactly; any other folds 'a'-'z' only.
int compare_names(const char* a, const char* b, int case_mode);
// Makes the entry named `name` current (0); when there is none, leaves the
// current entry as it was and returns the walk's last status.
int locate_entry(ZipArchive* s, const char* name, int case_mode);
// The same walk with the caller's test: `match` sees each entry current,
// with its stored name (cut to 256 characters), and says whether it is the
// one sought.
using EntryNameMatch = bool (*)(ZipArchive* s, const char* stored_name, void* context);
int locate_entry_matching(ZipArchive* s, EntryNameMatch match, void* context);

// Finds the Zip64 block (tag 0x0001) in an extra field and takes from it, in
// the order of APPNOTE 4.5.3, each value whose field held the marker: the
// uncompressed size, the compressed size, the local header offset. A field
// that is not marked, or that the block is too short to hold, keeps its
// value. `local` is for a local header, whose block holds both sizes as soon
// as either is marked.
void apply_zip64_extra(const unsigned char* extra, uint32_t extra_length, bool local, uint64_t* uncompressed_size,
                       uint64_t* compressed_size, uint64_t* local_offset);
// The data of the first block with the given tag in an extra field, or null;
// *length receives its length, cut to what the field holds.
const unsigned char* find_extra_block(const unsigned char* extra, uint32_t extra_length, uint16_t tag,
                                      uint32_t* length);

// Copies up to `cap` bytes of the archive comment; the count or a status.
int read_archive_comment(ZipArchive* s, char* buf, uint32_t cap);

// ---------------------------------------------------------------------------
// Entry stream.

// Reads the current entry's local header and its extra field into
// s->local_header, unless read already, and checks the header against the
// central record: the status of that check. An extra field that cannot be
// read fails the check only when the header's sizes are to come from it.
int read_local_header(ZipArchive* s);
// Refuses (kReadBadArchive) the current entry when its bytes overlap another
// entry's or the central directory, given the size of its local name and
// extra field; see entry_stream.cpp.
int check_entry_span(ZipArchive* s, uint32_t var_size);
// Opens the current entry's stream; memory running out throws std::bad_alloc
// and leaves no stream open.
int open_entry_stream(ZipArchive* s, const char* password);
// Delivers up to `cap` bytes; the count, a negative status or zlib code.
// *reached_end is set on the read that delivers the entry's last byte.
int read_entry_stream(ZipArchive* s, void* buf, uint32_t cap, bool* reached_end);
int close_entry_stream(ZipArchive* s);

}  // namespace quillon
