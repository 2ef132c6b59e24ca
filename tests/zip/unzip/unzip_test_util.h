// Helpers shared by the reading API's tests.
#pragma once
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "platform/dir.h"
#include "platform/file.h"
#include "platform/fileinfo.h"
#include "support/testkit.h"

namespace ziptest {

// Every file below `dir` (recursively), as paths relative to it with '/'.
inline void list_files(const std::string& dir, const std::string& rel, std::vector<std::string>* out) {
  const std::vector<std::string> names = testkit::entry_names(dir);
  for (const std::string& n : names) {
    const std::string child = dir + "/" + n;
    if (testkit::is_directory(child)) {
      out->push_back(rel + n + "/");
      list_files(child, rel + n + "/", out);
    } else {
      out->push_back(rel + n);
    }
  }
}

inline std::vector<std::string> tree(const std::string& dir) {
  std::vector<std::string> out;
  list_files(dir, "", &out);
  return out;
}

// Read-only files would stop a scratch folder from going away on Windows.
inline void make_writable(const std::string& dir) {
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(dir, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add, ec);
  }
}

// A scratch folder that can hold read-only files.
class Scratch : public testkit::ScratchDir {
 public:
  ~Scratch() { make_writable(path()); }
};

// The file's information through a read handle; false when it cannot be read.
inline bool file_info(const std::string& path, qp::FileInfo* info) {
  qp::Handle h = qp::open_read_shared(path.c_str());
  if (!qp::is_valid(h)) return false;
  const bool ok = qp::get_file_info(h, info);
  qp::close_handle(h);
  return ok;
}

}  // namespace ziptest
