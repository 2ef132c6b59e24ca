// platform/dir.h on Windows: the kernel and runtime directory calls.
#include "platform/dir.h"

#include <direct.h>
#include <dirent.h>
#include <windows.h>

#include <string>

#include "platform/win32/wide.h"

namespace qp {

bool make_directory(const char* path) { return path && CreateDirectoryA(path, nullptr) != 0; }

bool make_directory_utf8(const char* path) {
  std::wstring w;
  return wide_from_utf8(path, &w) && CreateDirectoryW(w.c_str(), nullptr) != 0;
}

bool remove_directory(const char* path) { return path && RemoveDirectoryA(path) != 0; }

int change_directory(const char* path) { return path ? _chdir(path) : -1; }

uint32_t current_directory(uint32_t cap, char* buf) {
  DWORD n = GetCurrentDirectoryA(cap, buf);
  if (n >= cap && cap > 0) buf[0] = '\0';
  return n;
}

// The runtime's own directory listing, as the exports' callers know it.
struct Listing {
  DIR* dir;
};

Listing* open_listing(const char* path) {
  if (path == nullptr) return nullptr;
  DIR* d = opendir(path);
  if (d == nullptr) return nullptr;
  return new Listing{d};
}

const char* next_entry(Listing* listing) {
  struct dirent* e = readdir(listing->dir);
  return e ? e->d_name : nullptr;
}

void close_listing(Listing* listing) {
  closedir(listing->dir);
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
