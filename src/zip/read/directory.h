// The archive reader: a byte source over a handle, a file name or a memory
// block; the search for the end record; the walk over the central directory;
// the name lookup; and the entry stream that delivers one entry's bytes,
// deciphered, inflated and checked against its CRC.
//
// The reader speaks in its own status codes (UNZ_*); the front end in
// unzip.h turns them into ZIPRESULT codes.
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
constexpr int UNZ_OK = 0;
constexpr int UNZ_IOERROR = -1;
constexpr int UNZ_LISTEND = -100;
constexpr int UNZ_BADPARAM = -102;
constexpr int UNZ_BADARCHIVE = -103;
constexpr int UNZ_CRCMISMATCH = -105;
constexpr int UNZ_BADPASSWORD = -106;

// Size of the compressed-input chunks of an entry stream.
constexpr uint32_t kUnzBufferSize = 16384;

// ---------------------------------------------------------------------------
// Byte source.

struct LUFILE {
  bool from_handle = false;   // a handle or file-name source; false for memory
  bool seekable = false;      // the handle reported a position when opened
  qp::HeldHandle handle;      // owned when opened here for a file name
  bool read_error = false;    // a read on the handle failed
  uint64_t base_offset = 0;   // origin of absolute seeks while the archive opens
  const unsigned char* data = nullptr;  // memory block (the caller's)
  uint32_t length = 0;
  uint64_t position = 0;
  uint64_t reads = 0;         // lufread calls on this source
};

// Positions in sources are 64-bit: archives and their entries may pass 4 GiB.
constexpr uint64_t kNoSourcePosition = qp::kNoPosition64;

// The handle's position, or kNoSourcePosition when it has none (a pipe).
uint64_t GetFilePosU(qp::Handle h);

// Opens a byte source of kind ZIPSRC_HANDLE, ZIPSRC_FILENAME or ZIPSRC_MEMORY;
// *err receives ZIPR_OK, ZIPR_BADARGS or ZIPR_OPENFAILED.
LUFILE* lufopen(const void* source, uint32_t length, uint32_t kind, ZIPRESULT* err);
// Closes the handle when it was opened here and frees the source; -1 for none.
int lufclose(LUFILE* f);
// An owned byte source: closed by lufclose when its owner lets it go.
struct LufileCloser {
  void operator()(LUFILE* f) const { lufclose(f); }
};
using LufilePtr = std::unique_ptr<LUFILE, LufileCloser>;
// Reads size * n bytes; returns the number of whole items read.
size_t lufread(void* buf, size_t size, size_t n, LUFILE* f);
// How many reads the sources of the process asked for, counted when each
// source closes: what the reader's access pattern costs, in any thread.
uint64_t lufreads_so_far();
// Moves to `offset` from the start (base_offset for handles), the current
// position or the end. UNZ_OK; UNZ_BADPARAM for an unknown origin or a
// position before the start or beyond 2^62; UNZ_IOERROR when the source
// cannot seek or the system refuses.
int lufseek(LUFILE* f, int64_t offset, qp::SeekFrom from);
uint64_t luftell(LUFILE* f);
bool luferror(LUFILE* f);

// ---------------------------------------------------------------------------
// Archive.

struct unz_global_info_s {
  uint32_t entry_count = 0;
  uint32_t comment_size = 0;
};

// One central record as read: its fixed part as decoded, and the sizes and
// the offset as 64-bit values, where a field that holds 0xFFFFFFFF takes its
// value from the record's Zip64 block when it has one.
struct unz_file_info_s {
  CentralRecord central;
  uint64_t compressed_size = 0;
  uint64_t uncompressed_size = 0;
  uint64_t local_header_offset = 0;  // archive-relative
};

// The current entry's local header, read once for its description (its
// extra field may hold the entry's times) and for its stream, and dropped
// when another entry becomes current.
struct unz_local_header_s {
  bool read = false;        // read for the current entry
  int status = UNZ_OK;      // its check against the central record
  uint32_t var_size = 0;    // the length of its name and extra field together
  bool extra_read = false;  // its extra field could be read whole
  std::vector<unsigned char> extra;
};

struct unz_entry_stream_s;
// Frees an entry stream (its input buffer and its inflater); defined where
// the stream is.
struct unz_entry_stream_deleter {
  void operator()(unz_entry_stream_s* st) const;
};
using unz_entry_stream_ptr = std::unique_ptr<unz_entry_stream_s, unz_entry_stream_deleter>;

// What one pass over the central directory learns when the archive opens.
// Each entry's central record offset, so that reaching an entry costs one
// read whatever entry came before (workers visit entries out of order), and
// a record that cannot be described is stepped over by its lengths. The
// local header offsets, sorted, so that an entry can find the next local
// header above its own: the test that an entry's bytes stay clear of every
// other entry's (unzlocal_CheckCurrentFileSpan). Sixteen bytes per entry.
struct unz_local_index_s {
  std::vector<uint64_t> records;  // central record offsets (archive-relative), in directory order
  std::vector<uint64_t> offsets;  // distinct local header offsets, ascending
  // Offsets that several entries share, ascending, each with the first of
  // those entries in directory order: the only one of them that is read.
  std::vector<std::pair<uint64_t, uint32_t>> shared;
  uint32_t entries = 0;  // entries indexed: those before the first unreadable record
};

// An open archive. It owns its source and its open entry stream, if any;
// destroying it releases both.
struct unz_s {
  LufilePtr source;
  unz_global_info_s global_info;
  uint64_t leading_bytes = 0;          // bytes of the source before the archive
  uint32_t entry_number = 0;
  uint64_t entry_record_offset = 0;    // archive-relative
  bool entry_ok = false;
  uint64_t end_record_offset = 0;      // source offset of the end record
  uint64_t directory_size = 0;         // from the Zip64 end record when there is one
  uint64_t directory_offset = 0;
  bool zip64 = false;                  // the counts came from a Zip64 end record
  unz_file_info_s entry_info;
  unz_local_header_s local_header;     // of the current entry, once read
  unz_entry_stream_ptr stream;         // the open entry, or none
  unz_local_index_s local_index;
};

// The position of the end record relative to the source's base offset, or
// kNoSourcePosition when no whole record lies in the last 65,535 + 22 bytes
// (a record followed by the longest comment).
uint64_t unzlocal_SearchCentralDir(LUFILE* f);

// Fills the archive's local_index with one pass over the central directory,
// read in large chunks. Records after the first unreadable one are left out,
// as the walk cannot reach them either. UNZ_OK; memory running out throws
// std::bad_alloc.
int unzlocal_IndexLocalHeaders(unz_s* s);

// Opens the archive of `source`, which it consumes either way (also when
// memory runs out, which throws std::bad_alloc); null when the source holds
// no usable archive.
std::unique_ptr<unz_s> unzOpenArchive(LufilePtr source);
// The same for callers that hold the archive by hand and free it with
// unzClose.
unz_s* unzOpenInternal(LUFILE* source);
int unzClose(unz_s* s);
int unzGetGlobalInfo(unz_s* s, unz_global_info_s* info);
// Makes entry n (0-based) the current one and describes it: UNZ_OK, or
// the entry's own failure (UNZ_BADARCHIVE for a record that cannot be
// described, or that lies past the first unreadable one), UNZ_LISTEND past
// the last entry. Another entry's damage does not affect it.
int unzGoToEntry(unz_s* s, uint32_t n);
int unzGoToFirstFile(unz_s* s);
// The entry after the current one, also when the current one is damaged.
int unzGoToNextFile(unz_s* s);

// Reads the current central record. The name and the comment are terminated
// only when they are shorter than their buffer; the extra field never is.
int unzGetCurrentFileInfo(unz_s* s, unz_file_info_s* info, char* name, uint32_t name_cap, void* extra,
                          uint32_t extra_cap, char* comment, uint32_t comment_cap);

// Case mode 1 compares bytes exactly; any other folds 'a'-'z' only.
int strcmpcasenosensitive_internal(const char* a, const char* b);
int unzStringFileNameCompare(const char* a, const char* b, int case_mode);
// Makes the entry named `name` current (0); when there is none, leaves the
// current entry as it was and returns the walk's last status.
int unzLocateFile(unz_s* s, const char* name, int case_mode);
// The same walk with the caller's test: `match` sees each entry current,
// with its stored name (cut to 256 characters), and says whether it is the
// one sought.
using unz_name_match = bool (*)(unz_s* s, const char* stored_name, void* context);
int unzLocateFileMatching(unz_s* s, unz_name_match match, void* context);

// Finds the Zip64 block (tag 0x0001) in an extra field and takes from it, in
// the order of APPNOTE 4.5.3, each value whose field held the marker: the
// uncompressed size, the compressed size, the local header offset. A field
// that is not marked, or that the block is too short to hold, keeps its
// value. `local` is for a local header, whose block holds both sizes as soon
// as either is marked.
void unzlocal_ApplyZip64Extra(const unsigned char* extra, uint32_t extra_length, bool local,
                              uint64_t* uncompressed_size, uint64_t* compressed_size, uint64_t* local_offset);
// The data of the first block with the given tag in an extra field, or null;
// *length receives its length, cut to what the field holds.
const unsigned char* unzlocal_FindExtraBlock(const unsigned char* extra, uint32_t extra_length, uint16_t tag,
                                             uint32_t* length);

// Copies up to `cap` bytes of the archive comment; the count or a status.
int unzGetGlobalComment(unz_s* s, char* buf, uint32_t cap);

// ---------------------------------------------------------------------------
// Entry stream.

// Reads the current entry's local header and its extra field into
// s->local_header, unless read already, and checks the header against the
// central record: the status of that check. An extra field that cannot be
// read fails the check only when the header's sizes are to come from it.
int unzlocal_ReadLocalHeader(unz_s* s);
// Refuses (UNZ_BADARCHIVE) the current entry when its bytes overlap another
// entry's or the central directory, given the size of its local name and
// extra field; see unz_entry.cpp.
int unzlocal_CheckCurrentFileSpan(unz_s* s, uint32_t var_size);
// Opens the current entry's stream; memory running out throws std::bad_alloc
// and leaves no stream open.
int unzOpenCurrentFile(unz_s* s, const char* password);
// Delivers up to `cap` bytes; the count, a negative status or zlib code.
// *reached_end is set on the read that delivers the entry's last byte.
int unzReadCurrentFile(unz_s* s, void* buf, uint32_t cap, bool* reached_end);
int unzCloseCurrentFile(unz_s* s);

}  // namespace quillon
