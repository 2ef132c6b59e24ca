// platform/fileinfo.h on Windows: the kernel's file attribute and information calls.
#include "platform/fileinfo.h"

#include <windows.h>

#include <cstring>
#include <string>

#include "platform/win32/wide.h"

namespace qp {
namespace {

uint64_t ticks(const FILETIME& ft) { return (uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime; }

FILETIME filetime(uint64_t t) {
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(t);
  ft.dwHighDateTime = static_cast<DWORD>(t >> 32);
  return ft;
}

}  // namespace

bool get_file_info(Handle h, FileInfo* info) {
  BY_HANDLE_FILE_INFORMATION bhi;
  if (!GetFileInformationByHandle(static_cast<HANDLE>(h), &bhi)) return false;
  info->attributes = bhi.dwFileAttributes;
  info->size = (uint64_t(bhi.nFileSizeHigh) << 32) | bhi.nFileSizeLow;
  info->creation_time = ticks(bhi.ftCreationTime);
  info->access_time = ticks(bhi.ftLastAccessTime);
  info->write_time = ticks(bhi.ftLastWriteTime);
  info->has_unix_mode = false;
  info->unix_mode = 0;
  return true;
}

uint32_t get_file_attributes(const char* path) {
  if (path == nullptr) return kNoPosition;
  std::wstring w;
  if (long_path_form(path, false, &w)) return GetFileAttributesW(w.c_str());
  return GetFileAttributesA(path);
}

uint32_t get_file_attributes_utf8(const char* path) {
  std::wstring w;
  if (path == nullptr || !(long_path_form(path, true, &w) || wide_from_utf8(path, &w))) return kNoPosition;
  return GetFileAttributesW(w.c_str());
}

bool set_unix_permissions(Handle, uint32_t) { return false; }

bool set_file_times(Handle h, const uint64_t* creation, const uint64_t* access, const uint64_t* write) {
  FILETIME c, a, w;
  if (creation) c = filetime(*creation);
  if (access) a = filetime(*access);
  if (write) w = filetime(*write);
  return SetFileTime(static_cast<HANDLE>(h), creation ? &c : nullptr, access ? &a : nullptr,
                     write ? &w : nullptr) != 0;
}

namespace {

// A folder opened for its times alone: FILE_FLAG_BACKUP_SEMANTICS opens a
// folder at all, FILE_FLAG_OPEN_REPARSE_POINT opens a link or junction
// itself rather than its target, and every kind of sharing lets others keep
// the folder open meanwhile.
constexpr DWORD kFolderShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kFolderFlags = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;

// Sets the times on `h` when it is a folder that is no reparse point; closes it.
bool set_times_of_folder(HANDLE h, const uint64_t* creation, const uint64_t* access, const uint64_t* write) {
  if (h == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION bhi;
  const bool ok = GetFileInformationByHandle(h, &bhi) && (bhi.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                  !(bhi.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
                  set_file_times(h, creation, access, write);
  CloseHandle(h);
  return ok;
}

}  // namespace

bool set_folder_times(const char* path, const uint64_t* creation, const uint64_t* access, const uint64_t* write) {
  if (path == nullptr) return false;
  return set_times_of_folder(CreateFileA(path, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, kFolderShare, nullptr,
                                         OPEN_EXISTING, kFolderFlags, nullptr),
                             creation, access, write);
}

bool set_folder_times_utf8(const char* path, const uint64_t* creation, const uint64_t* access,
                           const uint64_t* write) {
  std::wstring w;
  if (path == nullptr || !wide_from_utf8(path, &w)) return false;
  return set_times_of_folder(CreateFileW(w.c_str(), FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, kFolderShare,
                                         nullptr, OPEN_EXISTING, kFolderFlags, nullptr),
                             creation, access, write);
}

bool folder_info_utf8(const char* path, FileInfo* info) {
  std::wstring w;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (path == nullptr || !wide_from_utf8(path, &w) || !GetFileAttributesExW(w.c_str(), GetFileExInfoStandard, &data))
    return false;
  if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return false;
  info->attributes = data.dwFileAttributes;
  info->size = 0;
  info->creation_time = ticks(data.ftCreationTime);
  info->access_time = ticks(data.ftLastAccessTime);
  info->write_time = ticks(data.ftLastWriteTime);
  info->has_unix_mode = false;
  info->unix_mode = 0;
  return true;
}

bool same_file(const char* a, const char* b) {
  if (a == nullptr || b == nullptr) return false;
  auto identify = [](const char* path, BY_HANDLE_FILE_INFORMATION* out) {
    HANDLE h = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    // Devices (NUL, CON, COM1...) have no identity of their own to compare.
    BOOL ok = GetFileType(h) != FILE_TYPE_CHAR && GetFileInformationByHandle(h, out);
    CloseHandle(h);
    return ok != 0;
  };
  BY_HANDLE_FILE_INFORMATION ia, ib;
  if (!identify(a, &ia) || !identify(b, &ib)) return false;
  return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber && ia.nFileIndexHigh == ib.nFileIndexHigh &&
         ia.nFileIndexLow == ib.nFileIndexLow;
}

}  // namespace qp

namespace qp {

bool regular_file_size(const char* path, uint64_t* size) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (path == nullptr || !GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return false;
  if (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE | FILE_ATTRIBUTE_REPARSE_POINT))
    return false;
  *size = (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return true;
}

bool regular_file_size_utf8(const char* path, uint64_t* size) {
  std::wstring wide;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (path == nullptr || !wide_from_utf8(path, &wide) ||
      !GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data))
    return false;
  if (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE | FILE_ATTRIBUTE_REPARSE_POINT))
    return false;
  *size = (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return true;
}

}  // namespace qp
