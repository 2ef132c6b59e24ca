// Small helpers shared by the test programs: scratch folders and files.
#pragma once
#include <string>
#include <vector>

namespace testkit {

// A fresh folder for one test, removed with everything in it at the end.
// The process's current directory is restored too, if a test changed it.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  // The folder, with a trailing separator.
  const std::string& path() const { return path_; }
  // path() + name.
  std::string operator/(const std::string& name) const { return path_ + name; }

 private:
  std::string path_;
  std::string saved_cwd_;
};

bool write_file(const std::string& path, const std::string& bytes);
std::string read_file(const std::string& path);
bool exists(const std::string& path);
bool is_directory(const std::string& path);
std::string current_dir();
// The names in a folder, "." and ".." left out, in listing order.
std::vector<std::string> entry_names(const std::string& dir);

// Deletes a folder and everything in it.
void remove_tree(const std::string& path);

}  // namespace testkit
