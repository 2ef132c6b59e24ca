// File information, attributes and times.
#pragma once
#include <cstdint>

#include "platform/handle.h"

namespace qp {

// Times are Windows file times: 100-nanosecond ticks since 1601-01-01 UTC.
struct FileInfo {
  uint32_t attributes = 0;    // kAttr* bits
  uint64_t size = 0;
  uint64_t creation_time = 0;
  uint64_t access_time = 0;
  uint64_t write_time = 0;
  // Where the system keeps Unix permission bits, they are reported here and
  // `has_unix_mode` is set; the owner-execute bit then marks an executable.
  bool has_unix_mode = false;
  uint32_t unix_mode = 0;
};

bool get_file_info(Handle h, FileInfo* info);

// kAttr* bits of a path, or kNoPosition (0xFFFFFFFF) when it does not exist.
uint32_t get_file_attributes(const char* path);

// get_file_attributes for a path in UTF-8 (see open_read_shared_utf8 in file.h).
uint32_t get_file_attributes_utf8(const char* path);

// Gives an open file the permission bits of `mode` (read, write and execute
// for owner, group and others; the bits above 0777 are never set) where the
// system keeps Unix permissions; false, changing nothing, elsewhere.
bool set_unix_permissions(Handle h, uint32_t mode);

// Sets the times given (null leaves a time alone). A creation time that the
// system cannot record is skipped without failing.
bool set_file_times(Handle h, const uint64_t* creation, const uint64_t* access, const uint64_t* write);

// Sets the times given of the folder at `path` (null leaves a time alone; a
// creation time that the system cannot record is skipped without failing).
// False, changing nothing, when the path names no folder: nothing, a file,
// or a symbolic link (whose target is left alone too).
bool set_folder_times(const char* path, const uint64_t* creation, const uint64_t* access, const uint64_t* write);
// set_folder_times for a path in UTF-8 (see open_read_shared_utf8 in file.h).
bool set_folder_times_utf8(const char* path, const uint64_t* creation, const uint64_t* access,
                           const uint64_t* write);

// What get_file_info tells of a file, for the folder at `path` in UTF-8
// (see open_read_shared_utf8 in file.h); false when the path names no
// folder, as for set_folder_times.
bool folder_info_utf8(const char* path, FileInfo* info);

// True when both paths exist and name the same file (through links,
// different spellings and relative parts alike). A device is never the same
// file as anything: two names of one device (/dev/null, NUL) read and write
// independently, so opening one does not empty the other.
bool same_file(const char* a, const char* b);

}  // namespace qp

namespace qp {

// True when `path` names a regular file (not a folder, pipe or device);
// *size receives its size. A cheap look before the file is opened.
bool regular_file_size(const char* path, uint64_t* size);
// regular_file_size for a path in UTF-8 (see open_read_shared_utf8 in file.h).
bool regular_file_size_utf8(const char* path, uint64_t* size);

}  // namespace qp
