// platform/file.h on Windows: each function is the kernel call of the same meaning.
#include "platform/file.h"

#include <windows.h>

#include <string>

#include "platform/win32/wide.h"

namespace qp {

namespace {

DWORD create_flags(uint32_t attributes) {
  DWORD flags = attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                              FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NORMAL);
  return flags == 0 ? FILE_ATTRIBUTE_NORMAL : flags;
}

Handle checked(HANDLE h) { return h == INVALID_HANDLE_VALUE ? kInvalidHandle : static_cast<Handle>(h); }

// The wide form of a path for CreateFileW: its long form when the plain
// forms cannot take it, else the UTF-8 text converted.
bool wide_file_path(const char* path, std::wstring* w) { return long_path_form(path, true, w) || wide_from_utf8(path, w); }

}  // namespace

Handle open_read_shared(const char* path) {
  if (path == nullptr) return kInvalidHandle;
  std::wstring w;
  if (long_path_form(path, false, &w))
    return checked(CreateFileW(w.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
  HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  return h == INVALID_HANDLE_VALUE ? kInvalidHandle : static_cast<Handle>(h);
}

Handle create_exclusive(const char* path, uint32_t attributes) {
  if (path == nullptr) return kInvalidHandle;
  std::wstring w;
  if (long_path_form(path, false, &w))
    return checked(CreateFileW(w.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, create_flags(attributes), nullptr));
  return checked(CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, create_flags(attributes), nullptr));
}

Handle open_read_shared_utf8(const char* path) {
  std::wstring w;
  if (!wide_file_path(path, &w)) return kInvalidHandle;
  return checked(CreateFileW(w.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
}

Handle create_exclusive_utf8(const char* path, uint32_t attributes) {
  std::wstring w;
  if (!wide_file_path(path, &w)) return kInvalidHandle;
  return checked(CreateFileW(w.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, create_flags(attributes), nullptr));
}

namespace {

// The wide form of a path in UTF-8 (`utf8`) or in the ANSI code page.
bool wide_path(const char* path, bool utf8, std::wstring* w) {
  if (long_path_form(path, utf8, w)) return true;
  if (utf8) return wide_from_utf8(path, w);
  const int n = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
  if (n <= 0) return false;
  w->assign(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, path, -1, &(*w)[0], n);
  w->resize(static_cast<size_t>(n - 1));
  return true;
}

Handle create_new_in(const char* path, bool utf8, uint32_t attributes) {
  std::wstring w;
  if (path == nullptr || !wide_path(path, utf8, &w)) return kInvalidHandle;
  return checked(CreateFileW(w.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, create_flags(attributes), nullptr));
}

bool replace_file_in(const char* from, const char* to, bool utf8) {
  std::wstring wf, wt;
  if (from == nullptr || to == nullptr || !wide_path(from, utf8, &wf) || !wide_path(to, utf8, &wt)) return false;
  return MoveFileExW(wf.c_str(), wt.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool discard_new_in(const char* path, bool utf8) {
  std::wstring w;
  if (path == nullptr || !wide_path(path, utf8, &w)) return false;
  SetFileAttributesW(w.c_str(), FILE_ATTRIBUTE_NORMAL);  // a read-only file refuses deletion
  return DeleteFileW(w.c_str()) != 0;
}

bool may_replace_in(const char* path, bool utf8, bool* exists) {
  *exists = false;
  std::wstring w;
  if (path == nullptr || !wide_path(path, utf8, &w)) return false;
  const DWORD attributes = GetFileAttributesW(w.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  }
  if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DEVICE)) return false;
  // Held open by anyone without sharing, or not ours to write: the
  // truncating create would fail, and so may the replacement.
  HANDLE h = CreateFileW(w.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const bool disk = GetFileType(h) == FILE_TYPE_DISK;
  CloseHandle(h);
  *exists = disk;
  return disk;
}

}  // namespace

Handle create_new(const char* path, uint32_t attributes) { return create_new_in(path, false, attributes); }
Handle create_new_utf8(const char* path, uint32_t attributes) { return create_new_in(path, true, attributes); }
bool replace_file(const char* from, const char* to) { return replace_file_in(from, to, false); }
bool replace_file_utf8(const char* from, const char* to) { return replace_file_in(from, to, true); }
bool discard_new(const char* path) { return discard_new_in(path, false); }
bool discard_new_utf8(const char* path) { return discard_new_in(path, true); }
bool may_replace(const char* path, bool* exists) { return may_replace_in(path, false, exists); }
bool may_replace_utf8(const char* path, bool* exists) { return may_replace_in(path, true, exists); }

Handle open_read_write(const char* path) {
  if (path == nullptr) return kInvalidHandle;
  HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  return h == INVALID_HANDLE_VALUE ? kInvalidHandle : static_cast<Handle>(h);
}

bool read_file(Handle h, void* buf, uint32_t n, uint32_t* done) {
  DWORD got = 0;
  BOOL ok = ReadFile(static_cast<HANDLE>(h), buf, n, &got, nullptr);
  if (done) *done = ok ? got : 0;
  // A read from a pipe whose writer has gone reports a broken pipe: that is
  // the end of the data, not an error.
  if (!ok && GetLastError() == ERROR_BROKEN_PIPE) return true;
  return ok != 0;
}

bool write_file(Handle h, const void* buf, uint32_t n, uint32_t* done) {
  DWORD put = 0;
  BOOL ok = WriteFile(static_cast<HANDLE>(h), buf, n, &put, nullptr);
  if (done) *done = ok ? put : 0;
  return ok != 0;
}

uint32_t set_file_pointer(Handle h, int32_t distance, SeekFrom from) {
  // Absolute positions count up to 4 GiB; relative moves are signed.
  DWORD method = from == SeekFrom::Begin ? FILE_BEGIN : from == SeekFrom::Current ? FILE_CURRENT : FILE_END;
  if (GetFileType(static_cast<HANDLE>(h)) != FILE_TYPE_DISK) return kNoPosition;
  LONG high = (from != SeekFrom::Begin && distance < 0) ? -1 : 0;
  SetLastError(NO_ERROR);
  DWORD low = SetFilePointer(static_cast<HANDLE>(h), distance, &high, method);
  if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return kNoPosition;
  return high == 0 ? low : kNoPosition;
}

uint32_t file_size(Handle h) { return GetFileSize(static_cast<HANDLE>(h), nullptr); }

uint64_t seek_file(Handle h, int64_t distance, SeekFrom from) {
  if (GetFileType(static_cast<HANDLE>(h)) != FILE_TYPE_DISK) return kNoPosition64;
  DWORD method = from == SeekFrom::Begin ? FILE_BEGIN : from == SeekFrom::Current ? FILE_CURRENT : FILE_END;
  LARGE_INTEGER move, now;
  move.QuadPart = distance;
  if (!SetFilePointerEx(static_cast<HANDLE>(h), move, &now, method) || now.QuadPart < 0) return kNoPosition64;
  return static_cast<uint64_t>(now.QuadPart);
}

bool close_handle(Handle h) { return CloseHandle(static_cast<HANDLE>(h)) != 0; }

bool create_pipe(Handle* read_end, Handle* write_end) {
  HANDLE r = nullptr, w = nullptr;
  if (!CreatePipe(&r, &w, nullptr, 0)) return false;
  *read_end = r;
  *write_end = w;
  return true;
}

}  // namespace qp

#include <cstdio>

namespace qp {

bool delete_file(const char* path) {
  std::wstring w;
  if (path != nullptr && long_path_form(path, false, &w)) return DeleteFileW(w.c_str()) != 0;
  return path && std::remove(path) == 0;
}

// remove refuses read-only files by itself here.
bool delete_writable_file(const char* path) { return delete_file(path); }

}  // namespace qp
