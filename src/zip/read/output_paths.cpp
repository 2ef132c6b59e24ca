// Names, output paths and folders of extracted entries.
#include <cstring>
#include <string>
#include <vector>

#include "platform/dir.h"
#include "platform/file.h"
#include "platform/fileinfo.h"
#include "platform/pathname.h"
#include "platform/text.h"
#include "zip/read/reader.h"

namespace quillon {

namespace {

bool is_separator(char c) { return c == '/' || c == '\\'; }

// Keeps a step that stays where it is put; false for a device name. What
// the system would read as a drive, as the folder itself or as its parent is
// dropped: on Windows drive prefixes ("C:") and steps of dots and blanks only
// ("...", " "), elsewhere only "." and ".." (and empty steps everywhere).
bool add_step(std::string step, std::vector<std::string>* steps) {
  while (size_t n = qp::drive_prefix_length(step.data(), step.size())) step.erase(0, n);
  if (step.empty() || qp::is_dot_step(step.data(), step.size())) return true;
  if (qp::is_device_name(step.data(), step.size())) return false;
  steps->push_back(step);
  return true;
}

}  // namespace

const char* CleanEntryName(const char* s) {
  static const char* const kParentSteps[] = {"\\..\\", "\\../", "/../", "/..\\"};
  for (;;) {
    if (s[0] != '\0' && s[1] == ':') {
      s += 2;
      continue;
    }
    if (is_separator(s[0])) {
      s += 1;
      continue;
    }
    const char* found = nullptr;
    for (const char* pattern : kParentSteps) {
      found = std::strstr(s, pattern);
      if (found != nullptr) break;
    }
    if (found == nullptr) return s;
    s = found + 4;
  }
}

bool MakeOutputPath(const char* destination, OutputPath* out) {
  out->dirs.clear();
  out->file.clear();
  out->absolute = false;
  const char* p = destination;
  std::string prefix;
  // Absolute: a leading separator, or a drive letter where the system has them.
  const size_t drive = is_separator(p[0]) ? 0 : qp::drive_prefix_length(p, std::strlen(p));
  if (is_separator(p[0]) || drive > 0) {
    out->absolute = true;
    prefix.assign(p, drive);  // a drive letter
    p += drive;
    while (is_separator(*p)) prefix += *p++;
    qp::use_system_separators(&prefix);
  }
  const char* last = nullptr;
  for (const char* q = p; *q; ++q)
    if (is_separator(*q)) last = q;
  std::vector<std::string> dir_steps, file_step;
  if (last != nullptr) {
    const char* start = p;
    for (const char* q = p; q <= last; ++q) {
      if (is_separator(*q)) {
        if (!add_step(std::string(start, q), &dir_steps)) return false;
        start = q + 1;
      }
    }
  }
  if (!add_step(last ? last + 1 : p, &file_step)) return false;
  out->dirs = prefix;
  for (const std::string& step : dir_steps) out->dirs += step + "/";
  if (!file_step.empty()) out->file = file_step[0];
  return true;
}

bool FileExists(const char* path) { return qp::get_file_attributes(path) != qp::kNoPosition; }

bool PathFits(const std::string& path, bool utf8) {
  if (qp::path_length(path.data(), path.size(), utf8) > qp::longest_path()) return false;
  size_t start = 0;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size() && !is_separator(path[i])) continue;
    if (qp::path_length(path.data() + start, i - start, utf8) > qp::longest_step()) return false;
    start = i + 1;
  }
  return true;
}

namespace {

// The directory chain of EnsureDirectory, through system texts or UTF-8.
void ensure_directory(bool utf8, const char* root, const char* dir) {
  if (dir == nullptr) return;
  const std::string base = root ? root : "";
  // Texts beyond the system's limits cannot make a usable path; they are
  // never cut into another.
  if (!PathFits(base + dir, utf8)) return;
  auto exists = [utf8](const std::string& p) {
    return (utf8 ? qp::get_file_attributes_utf8(p.c_str()) : qp::get_file_attributes(p.c_str())) != qp::kNoPosition;
  };
  auto make = [utf8](const std::string& p) { utf8 ? qp::make_directory_utf8(p.c_str()) : qp::make_directory(p.c_str()); };
  if (root != nullptr) {
    std::string top = base;
    if (!top.empty() && is_separator(top.back())) top.pop_back();
    if (!top.empty() && !exists(top)) make(top);
  }
  if (*dir == '\0') return;
  // Every folder on the way, outermost first: the text before each
  // separator (a leading one only starts an absolute path), then the whole.
  std::string path = base;
  for (const char* q = dir; *q; ++q) {
    if (is_separator(*q) && q != dir && !exists(path)) make(path);
    path += *q;
  }
  if (!exists(path)) make(path);
}

}  // namespace

void EnsureDirectory(const char* root, const char* dir) { ensure_directory(false, root, dir); }

void EnsureDirectoryUtf8(const char* root, const char* dir) { ensure_directory(true, root, dir); }

}  // namespace quillon
