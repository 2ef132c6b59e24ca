// platform/dir.h on POSIX systems: directories through dirent, mkdir and rmdir.
#include "platform/dir.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace qp {

bool make_directory(const char* path) { return path && ::mkdir(path, 0777) == 0; }

bool make_directory_utf8(const char* path) { return make_directory(path); }

bool remove_directory(const char* path) { return path && ::rmdir(path) == 0; }

int change_directory(const char* path) { return path && ::chdir(path) == 0 ? 0 : -1; }

uint32_t current_directory(uint32_t cap, char* buf) {
  char path[4096];
  if (::getcwd(path, sizeof path) == nullptr) {
    if (cap > 0) buf[0] = '\0';
    return 0;
  }
  uint32_t n = static_cast<uint32_t>(std::strlen(path));
  if (n + 1 > cap) {
    if (cap > 0) buf[0] = '\0';
    return n + 1;
  }
  std::memcpy(buf, path, n + 1);
  return n;
}

struct Listing {
  DIR* dir;
};

Listing* open_listing(const char* path) {
  if (path == nullptr) return nullptr;
  DIR* d = ::opendir(path);
  if (d == nullptr) return nullptr;
  return new Listing{d};
}

Listing* open_listing_utf8(const char* path) { return open_listing(path); }

const char* next_entry(Listing* listing) {
  struct dirent* e = ::readdir(listing->dir);
  return e ? e->d_name : nullptr;
}

void close_listing(Listing* listing) {
  ::closedir(listing->dir);
  delete listing;
}

}  // namespace qp

#include <stdlib.h>

namespace qp {

std::string make_temp_directory(const char* prefix) {
  const char* base = getenv("TMPDIR");
  std::string tmpl = std::string(base && *base ? base : "/tmp") + "/" + (prefix ? prefix : "q") + "XXXXXX";
  if (mkdtemp(&tmpl[0]) == nullptr) return "";
  return tmpl + "/";
}

}  // namespace qp
