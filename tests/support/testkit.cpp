#include "support/testkit.h"

#include <fstream>
#include <iterator>
#include <vector>

#include "platform/dir.h"
#include "platform/file.h"
#include "platform/fileinfo.h"

namespace testkit {

ScratchDir::ScratchDir() : path_(qp::make_temp_directory("qtest-")), saved_cwd_(current_dir()) {}

ScratchDir::~ScratchDir() {
  qp::change_directory(saved_cwd_.c_str());
  if (!path_.empty()) remove_tree(path_.substr(0, path_.size() - 1));
}

bool write_file(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(f);
}

std::string read_file(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

bool exists(const std::string& path) { return qp::get_file_attributes(path.c_str()) != qp::kNoPosition; }

bool is_directory(const std::string& path) {
  uint32_t a = qp::get_file_attributes(path.c_str());
  return a != qp::kNoPosition && (a & qp::kAttrDirectory);
}

std::string current_dir() {
  char buf[4096];
  qp::current_directory(sizeof buf, buf);
  return buf;
}

void remove_tree(const std::string& path) {
  std::vector<std::string> names;
  if (qp::Listing* l = qp::open_listing(path.c_str())) {
    while (const char* n = qp::next_entry(l)) {
      std::string s = n;
      if (s != "." && s != "..") names.push_back(s);
    }
    qp::close_listing(l);
  }
  for (const std::string& n : names) {
    std::string child = path + "/" + n;
    if (is_directory(child)) {
      remove_tree(child);
    } else {
      qp::delete_file(child.c_str());
    }
  }
  qp::remove_directory(path.c_str());
}

std::vector<std::string> entry_names(const std::string& dir) {
  std::vector<std::string> names;
  if (qp::Listing* l = qp::open_listing(dir.c_str())) {
    while (const char* n = qp::next_entry(l)) {
      const std::string s = n;
      if (s != "." && s != "..") names.push_back(s);
    }
    qp::close_listing(l);
  }
  return names;
}

}  // namespace testkit
