// platform/dir.h on Windows: the kernel and runtime directory calls.
#include "platform/dir.h"

#include <direct.h>
#include <dirent.h>
#include <windows.h>

#include <cerrno>
#include <cwchar>
#include <string>

#include "platform/text.h"
#include "platform/win32/wide.h"

namespace qp {

namespace {

// CreateDirectoryW on the long form of a path. The system no longer reads
// that form, so the separators that end a folder's path are dropped here
// (never the root's).
bool make_long_directory(std::wstring w) {
  while (w.size() > 7 && w.back() == L'\\' && w[w.size() - 2] != L':') w.pop_back();
  return CreateDirectoryW(w.c_str(), nullptr) != 0;
}

}  // namespace

bool make_directory(const char* path) {
  std::wstring w;
  if (path != nullptr && long_path_form(path, false, &w)) return make_long_directory(w);
  return path && CreateDirectoryA(path, nullptr) != 0;
}

bool make_directory_utf8(const char* path) {
  std::wstring w;
  if (path != nullptr && long_path_form(path, true, &w)) return make_long_directory(w);
  return wide_from_utf8(path, &w) && CreateDirectoryW(w.c_str(), nullptr) != 0;
}

bool remove_directory(const char* path) {
  std::wstring w;
  if (path != nullptr && long_path_form(path, false, &w)) return RemoveDirectoryW(w.c_str()) != 0;
  return path && RemoveDirectoryA(path) != 0;
}

int change_directory(const char* path) { return path ? _chdir(path) : -1; }

uint32_t current_directory(uint32_t cap, char* buf) {
  DWORD n = GetCurrentDirectoryA(cap, buf);
  if (n >= cap && cap > 0) buf[0] = '\0';
  return n;
}

// The runtime's own directory listing, as the exports' callers know it
// (ANSI names), or the wide-character listing whose names are given out in
// UTF-8.
struct Listing {
  DIR* dir = nullptr;
  HANDLE find = INVALID_HANDLE_VALUE;
  WIN32_FIND_DATAW found;
  bool pending = false;  // `found` holds an entry not given out yet
  std::string name;      // the UTF-8 name last given out
};

Listing* open_listing(const char* path) {
  if (path == nullptr) return nullptr;
  DIR* d = opendir(path);
  if (d == nullptr) return nullptr;
  Listing* l = new Listing;
  l->dir = d;
  return l;
}

namespace {

// errno for perror, from the reason the wide listing could not start.
int errno_of(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
    case ERROR_INVALID_DRIVE: return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION: return EACCES;
    case ERROR_DIRECTORY: return ENOTDIR;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: return ENOMEM;
    default: return EINVAL;
  }
}

}  // namespace

Listing* open_listing_utf8(const char* path) {
  if (path == nullptr) return nullptr;
  std::wstring pattern;
  if (!wide_from_utf8(utf8_from_system(path).c_str(), &pattern) || pattern.empty()) {
    errno = ENOENT;
    return nullptr;
  }
  // A folder that is a file lists nothing: the runtime's listing refuses it
  // too, rather than listing the file alone.
  const DWORD attributes = GetFileAttributesW(pattern.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    errno = errno_of(GetLastError());
    return nullptr;
  }
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    errno = ENOTDIR;
    return nullptr;
  }
  const wchar_t last = pattern[pattern.size() - 1];
  if (last != L'\\' && last != L'/' && last != L':') pattern += L'\\';
  pattern += L'*';
  Listing* l = new Listing;
  l->find = FindFirstFileW(pattern.c_str(), &l->found);
  if (l->find == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    delete l;
    // A folder without entries (the root of an empty drive) is listed as empty.
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES) return new Listing;
    errno = errno_of(error);
    return nullptr;
  }
  l->pending = true;
  return l;
}

const char* next_entry(Listing* listing) {
  if (listing->dir) {
    struct dirent* e = readdir(listing->dir);
    return e ? e->d_name : nullptr;
  }
  if (listing->find == INVALID_HANDLE_VALUE) return nullptr;
  if (!listing->pending && !FindNextFileW(listing->find, &listing->found)) return nullptr;
  listing->pending = false;
  listing->name = utf8_from_wide(listing->found.cFileName, wcslen(listing->found.cFileName));
  return listing->name.c_str();
}

void close_listing(Listing* listing) {
  if (listing->dir) closedir(listing->dir);
  if (listing->find != INVALID_HANDLE_VALUE) FindClose(listing->find);
  delete listing;
}

}  // namespace qp

#include <string>

namespace qp {

std::string make_temp_directory(const char* prefix) {
  char base[MAX_PATH + 1];
  DWORD n = GetTempPathA(sizeof base, base);
  if (n == 0 || n > MAX_PATH) return "";
  for (unsigned attempt = 0; attempt < 1000; ++attempt) {
    std::string path = std::string(base) + (prefix ? prefix : "q") + std::to_string(GetCurrentProcessId()) + "_" +
                       std::to_string(GetTickCount() + attempt);
    if (CreateDirectoryA(path.c_str(), nullptr)) return path + "\\";
    if (GetLastError() != ERROR_ALREADY_EXISTS) return "";
  }
  return "";
}

}  // namespace qp
