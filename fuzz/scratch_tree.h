// A scratch folder for the fuzz targets that write files: made once per
// process, listed after every input to see what landed where, and emptied.
#pragma once
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/dir.h"
#include "platform/file.h"
#include "platform/fileinfo.h"

namespace fuzzkit {

inline bool is_directory(const std::string& path) {
  const uint32_t a = qp::get_file_attributes(path.c_str());
  return a != qp::kNoPosition && (a & qp::kAttrDirectory);
}

// Every path under `dir` (which ends in '/'), folders with a trailing '/',
// relative to `dir`.
inline void list_tree(const std::string& dir, const std::string& rel, std::vector<std::string>* out) {
  std::vector<std::string> names;
  if (qp::Listing* l = qp::open_listing((dir + rel).c_str())) {
    while (const char* n = qp::next_entry(l)) {
      const std::string s = n;
      if (s != "." && s != "..") names.push_back(s);
    }
    qp::close_listing(l);
  }
  for (const std::string& n : names) {
    const std::string child = rel + n;
    if (is_directory(dir + child)) {
      out->push_back(child + "/");
      list_tree(dir, child + "/", out);
    } else {
      out->push_back(child);
    }
  }
}

// Deletes a folder (no trailing separator) and everything in it.
inline void remove_tree(const std::string& path) {
  std::vector<std::string> names;
  if (qp::Listing* l = qp::open_listing(path.c_str())) {
    while (const char* n = qp::next_entry(l)) {
      const std::string s = n;
      if (s != "." && s != "..") names.push_back(s);
    }
    qp::close_listing(l);
  }
  for (const std::string& n : names) {
    const std::string child = path + "/" + n;
    if (is_directory(child)) {
      remove_tree(child);
    } else {
      qp::delete_file(child.c_str());
    }
  }
  qp::remove_directory(path.c_str());
}

// The process's scratch folder, with a trailing separator; removed when the
// process exits. The text is never destroyed, so the exit handler can use it.
inline const std::string& scratch_root() {
  static const std::string* root = [] {
    const std::string r = qp::make_temp_directory("qfuzz-");
    if (r.empty()) std::abort();
    std::atexit([] { remove_tree(scratch_root().substr(0, scratch_root().size() - 1)); });
    return new std::string(r);
  }();
  return *root;
}

}  // namespace fuzzkit
