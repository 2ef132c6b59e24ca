// platform/version_info.h on POSIX systems: the loader's link map, and the
// version mark the library carries among its constant data.
#include "platform/version_info.h"
#include "platform/stream.h"

#include <dlfcn.h>
#include <link.h>

#include <cctype>
#include <cstdio>

namespace qp {

std::string library_file(void* library) {
  struct link_map* map = nullptr;
  if (library == nullptr || dlinfo(library, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr || map->l_name == nullptr)
    return std::string();
  return map->l_name;
}

std::string file_version(const std::string& path) {
  // The library carries "@(#)libquillon 0.1.1.218" among its constant data
  // (the what-string convention); the version is the dotted number after the
  // name. A library is a few megabytes: it is read whole.
  static const std::string kMark = "@(#)libquillon ";
  Stream f(std::fopen(path.c_str(), "rb"));
  if (!f) return std::string();
  std::string bytes;
  char chunk[65536];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, f.get())) > 0) bytes.append(chunk, n);
  for (size_t at = bytes.find(kMark); at != std::string::npos; at = bytes.find(kMark, at + 1)) {
    size_t end = at + kMark.size();
    while (end < bytes.size() && (std::isdigit(static_cast<unsigned char>(bytes[end])) || bytes[end] == '.')) ++end;
    if (end > at + kMark.size()) return bytes.substr(at + kMark.size(), end - at - kMark.size());
  }
  return std::string();
}

}  // namespace qp
