// The reading API: open an archive from a handle, a file name or a memory
// block, describe and find its entries, and extract them to files (creating
// the folders on the way), to an open handle, or piecewise to memory.
//
// Every API function stores its result in lasterrorU before returning it.
// Nothing is ever written outside the base folder for a relative destination:
// steps that would climb out of it are dropped (see MakeOutputPath).
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/handle.h"
#include "zip/format/zip_result.h"

namespace quillon {

// Capacity of ZIPENTRY's name buffer, terminator included. Paths are not
// bound by it: extraction takes them up to the system's own limits.
constexpr int kMaxPath = 260;

// A Windows file time in two halves: 100-ns ticks since 1601-01-01 UTC.
struct ZipFileTime {
  uint32_t dwLowDateTime;
  uint32_t dwHighDateTime;
};

// One archive entry as reported to callers.
struct ZIPENTRY {
  int index;                // position in the directory; the count for index -1
  char name[kMaxPath];      // cleaned name, zero-terminated
  uint32_t attributes;      // kAttr* bits: read-only, hidden, system, directory, archive
  ZipFileTime access_time;
  ZipFileTime create_time;
  ZipFileTime modify_time;
  uint32_t compressed_size;
  uint32_t uncompressed_size;
};

// An output path for `destination`, split the way extraction needs it.
struct OutputPath {
  std::string dirs;  // folders to make: the absolute prefix (if any) and the folder steps, ending in '/'
  std::string file;  // the file step; empty for a destination that names a folder
  bool absolute = false;
};

struct ZipArchive;

// One open archive behind a reading handle. It owns its reader state, which
// its destructor releases when Close has not (defined where ZipArchive is
// complete). Memory running out throws std::bad_alloc out of a method; the
// object stays usable and nothing is left allocated on the way.
class ArchiveReader {
 public:
  explicit ArchiveReader(const char* password);
  ~ArchiveReader();
  ArchiveReader(const ArchiveReader&) = delete;
  ArchiveReader& operator=(const ArchiveReader&) = delete;

  ZIPRESULT Open(const void* source, uint32_t length, uint32_t kind);
  ZIPRESULT SetUnzipBaseDir(const char* dir);
  ZIPRESULT Get(int index, ZIPENTRY* ze);
  // The entry's whole cleaned name in the system's text, as `name` would
  // show it were it long enough: the name that extraction under `name`
  // makes (a UTF-8 name with '?' for what the code page lacks).
  ZIPRESULT GetWholeName(int index, std::string* name);
  ZIPRESULT Find(const char* name, bool ignore_case, int* index, ZIPENTRY* ze);
  ZIPRESULT Unzip(int index, void* destination, uint32_t length, uint32_t kind);
  ZIPRESULT Close();
  // See RestoreFolderTimes below.
  bool RestoreFolderTimes(int index);

  const std::string& base_dir() const { return base_dir_; }

 private:
  // Where an entry goes for a destination name (a system text, or the
  // entry's own name standing for its exact UTF-8 name): the destination
  // split into folders and file, and the base folder in the same form.
  struct Placement {
    bool utf8 = false;  // the path is UTF-8, for the system's UTF-8 path functions
    std::string base;
    OutputPath out;
  };
  // False when the destination cannot be placed: it names a device, or it
  // is relative and there is no base folder.
  bool place(const char* destination, const ZIPENTRY& ze, Placement* at) const;
  bool walk_to(int index);
  void close_stream();
  ZIPRESULT unzip_to_memory(int index, void* destination, uint32_t length);
  ZIPRESULT unzip_to_file(int index, void* destination, uint32_t kind);

  std::unique_ptr<ZipArchive> archive_;  // the reader state (source, entry stream), or none
  int open_index_ = -1;        // entry whose stream is open for memory extraction
  ZIPENTRY cached_entry_{};    // the last entry described
  int cached_index_ = -1;
  std::string password_;       // empty for none: both give the same keys
  // What the description of cached_index_ leaves out: the entry's whole
  // cleaned name in UTF-8 when `name` cannot show it exactly (a UTF-8 name
  // on a system whose code page is not UTF-8), else empty; the whole
  // cleaned name in the system's text when it is not `name` (a stored name
  // longer than `name` holds), else empty; and the permission bits to give
  // its file (a file made on a Unix host), when has_mode_.
  std::string cached_utf8_name_;
  std::string cached_whole_name_;
  bool cached_has_mode_ = false;
  uint32_t cached_mode_ = 0;
  std::vector<unsigned char> buffer_block_;  // holds the extraction buffer, made on first use
  unsigned char* buffer_ = nullptr;          // the buffer, inside buffer_block_
  // Relative destinations go under this folder; it ends in '/' or '\\'. It
  // is kept whole even when beyond the system's limits, and left empty
  // when the current folder cannot be had, so that an unusable folder
  // makes extraction fail instead of landing elsewhere.
  std::string base_dir_;
};

// Creates `dir` (and every folder on its way) under `root`, or as given when
// root is null. Failures show up later, when a file cannot be created.
void EnsureDirectory(const char* root, const char* dir);
bool FileExists(const char* path);
// EnsureDirectory for a root and a directory in UTF-8, made through the
// system's UTF-8 path functions; lengths count as the system counts them.
void EnsureDirectoryUtf8(const char* root, const char* dir);
// Whether the system takes a path (a system text, or UTF-8 when `utf8`)
// whole: the path and each of its steps within the system's limits
// (qp::longest_path, qp::longest_step). A path beyond them is refused,
// never cut.
bool PathFits(const std::string& path, bool utf8);

// Strips what makes a stored name absolute or climbing: drive prefixes,
// leading separators, and everything up to the last parent step that has a
// separator on both sides. Returns the rest of `stored`.
const char* CleanEntryName(const char* stored);

// Splits a destination at '/' and '\\' and keeps only steps that stay where
// they are put: empty steps, '.' and '..' are dropped. Where the system reads
// more into a step (Windows), so are steps of dots and blanks only ('...',
// ' ') and a drive prefix ("C:") at the front of an inner step; elsewhere
// those are ordinary names and kept as given. A destination that is absolute
// (a leading separator, or a drive letter where the system has them) keeps
// that prefix. False when a step names a device.
bool MakeOutputPath(const char* destination, OutputPath* out);

// The API.
HZIP OpenZipInternal(const void* source, uint32_t length, uint32_t kind, const char* password);
HZIP OpenZipHandle(qp::Handle h, const char* password);
HZIP OpenZip(const char* file_name, const char* password);
HZIP OpenZip(const void* memory, uint32_t length, const char* password);
ZIPRESULT GetZipItem(HZIP hz, int index, ZIPENTRY* ze);
ZIPRESULT FindZipItem(HZIP hz, const char* name, bool ignore_case, int* index, ZIPENTRY* ze);
ZIPRESULT UnzipItemInternal(HZIP hz, int index, void* destination, uint32_t length, uint32_t kind);
ZIPRESULT UnzipItemHandle(HZIP hz, int index, qp::Handle h);
ZIPRESULT UnzipItem(HZIP hz, int index, const char* file_name);
ZIPRESULT UnzipItem(HZIP hz, int index, void* memory, uint32_t length);
ZIPRESULT SetUnzipBaseDir(HZIP hz, const char* dir);
// Gives the folder that UnzipItem made for folder item `index` under the
// item's own name the item's times. UnzipItem makes a folder without them,
// since every file made in it later moves its times again; the UNZIP export
// calls this for each folder item it extracted once every item is done.
// False when the item is no folder item, or its path names no folder (a
// file that was there first, a symbolic link, nothing). Leaves lasterrorU
// as it was.
bool RestoreFolderTimes(HZIP hz, int index);

}  // namespace quillon
