// Files by handle: open, read, write, position, size, close.
#pragma once
#include <cstdint>

#include "platform/handle.h"

namespace qp {

// File attribute bits, the same values on every platform.
enum : uint32_t {
  kAttrReadOnly = 0x01,
  kAttrHidden = 0x02,
  kAttrSystem = 0x04,
  kAttrDirectory = 0x10,
  kAttrArchive = 0x20,
  kAttrNormal = 0x80,
};

enum class SeekFrom { Begin, Current, End };

// Opens an existing file for reading; other readers may open it too, writers
// may not. Fails (kInvalidHandle) on a directory, a missing file, or a file
// that this process holds as an exclusive output.
Handle open_read_shared(const char* path);

// Creates or truncates a file for writing, shared with nobody: while it is
// open, no other open of the same file succeeds, in this process included.
// `attributes` are kAttr* bits; kAttrReadOnly makes the file read-only on disk.
// Fails on a file that this process has open in any way.
Handle create_exclusive(const char* path, uint32_t attributes);

// open_read_shared and create_exclusive for a path in UTF-8, so that names
// without a form in the system's code page can be opened and made too
// (Windows: the wide-character functions; POSIX: the same calls, names being
// bytes). A path that is not valid UTF-8 fails on Windows.
Handle open_read_shared_utf8(const char* path);
Handle create_exclusive_utf8(const char* path, uint32_t attributes);

// A file written whole before it takes its place: create_new makes a file
// where nothing is (it fails when `path` names anything, a dangling link
// included), shared with nobody as create_exclusive's files are;
// replace_file then gives it the name `to` in one step, replacing the file
// of that name, so that a reader of `to` finds the old file or the new one
// whole, never a part. `from` and `to` lie in one folder.
Handle create_new(const char* path, uint32_t attributes);
Handle create_new_utf8(const char* path, uint32_t attributes);
bool replace_file(const char* from, const char* to);
bool replace_file_utf8(const char* from, const char* to);
// Deletes a file that create_new made and that never took its place,
// read-only or not.
bool discard_new(const char* path);
bool discard_new_utf8(const char* path);

// Whether a file made by create_new may take the place of what `path`
// names now: true when nothing is there (*exists false) or a regular file
// that create_exclusive could truncate now (*exists true): not read-only,
// not held open by this process. False for a folder, a device or a pipe,
// and for a file that create_exclusive would refuse.
bool may_replace(const char* path, bool* exists);
bool may_replace_utf8(const char* path, bool* exists);

// Opens an existing file for reading and writing without truncating it,
// shared with nobody (a caller-side handle, used by tests and tools).
Handle open_read_write(const char* path);

// Synchronous transfers. `*done` receives the byte count moved; a read at the
// end of a file succeeds with fewer bytes (0 at the very end).
bool read_file(Handle h, void* buf, uint32_t n, uint32_t* done);
bool write_file(Handle h, const void* buf, uint32_t n, uint32_t* done);

// Moves the file position and returns the new position (low 32 bits), or
// kNoPosition when the handle cannot seek (a pipe) or the move fails.
// set_file_pointer(h, 0, SeekFrom::Current) queries the position.
uint32_t set_file_pointer(Handle h, int32_t distance, SeekFrom from);

// Size in bytes (low 32 bits), or kNoPosition on failure.
uint32_t file_size(Handle h);

// Positions of 64 bits, for files of 4 GiB and more. Moves the file position by a signed 64-bit distance and returns the new
// position, or kNoPosition64 when the handle cannot seek (a pipe) or the
// move fails (a target before the start). seek_file(h, 0, SeekFrom::Current)
// queries the position.
uint64_t seek_file(Handle h, int64_t distance, SeekFrom from);

bool close_handle(Handle h);

// An anonymous pipe: bytes written to `write_end` come out of `read_end`.
bool create_pipe(Handle* read_end, Handle* write_end);

}  // namespace qp

namespace qp {

// Deletes a file; never a directory, empty or not.
bool delete_file(const char* path);

// Deletes a file unless it is read-only, as the runtime's remove does on
// Windows: on POSIX systems a file without the owner-write bit stays, whoever
// asks (the superuser included). A symbolic link is a file of its own here:
// it goes, and what it names stays. Never a directory.
bool delete_writable_file(const char* path);

}  // namespace qp
