// Entry names to destination paths: a stored name is cleaned as the reader
// cleans it, cut to the entry's name buffer, and split into the folders and
// the file that extraction would make under a base folder. Whatever the
// name, the composed path must stay inside the base folder on the rules of
// the system it runs on: no absolute prefix, no empty step, and nothing that
// the system would read as the folder itself, its parent or a drive.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "zip/read/reader.h"

using namespace quillon;

namespace {

bool is_separator(char c) { return c == '/' || c == '\\'; }

// Windows drops trailing dots and blanks from a step, so "..", ". .", "..."
// and ".. " all name the parent or the folder itself there; elsewhere only
// "." and ".." do.
bool climbs_or_stays(const std::string& step) {
  if (step.empty()) return true;
#ifdef _WIN32
  for (char c : step)
    if (c != '.' && c != ' ') return false;
  return true;
#else
  return step == "." || step == "..";
#endif
}

void check_relative(const OutputPath& out) {
  if (out.absolute) std::abort();
  const std::string all = out.dirs + out.file;
  if (!out.dirs.empty() && out.dirs.back() != '/') std::abort();
  size_t start = 0;
  for (size_t i = 0; i <= all.size(); ++i) {
    if (i < all.size() && !is_separator(all[i])) continue;
    if (i == all.size() && i == start) break;  // a folder destination ends in its separator
    const std::string step = all.substr(start, i - start);
    if (climbs_or_stays(step)) std::abort();
#ifdef _WIN32
    if (step.size() >= 2 && step[1] == ':') std::abort();  // a drive-relative step
#endif
    start = i + 1;
  }
  // A file step never holds a separator of either kind.
  for (char c : out.file)
    if (is_separator(c)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  const std::string stored(reinterpret_cast<const char*>(data), size);
  const char* raw = stored.c_str();  // a name ends at its first zero byte

  // Cleaning keeps a tail of the stored name that is relative.
  const char* clean = CleanEntryName(raw);
  if (clean < raw || clean > raw + std::strlen(raw)) std::abort();
  if (is_separator(clean[0]) || (clean[0] != '\0' && clean[1] == ':')) std::abort();

  // As the entry reports it: cut to its name buffer.
  char name[kMaxPath];
  std::strncpy(name, clean, kMaxPath - 1);
  name[kMaxPath - 1] = '\0';
  OutputPath out;
  if (MakeOutputPath(name, &out)) check_relative(out);

  // A destination given by a caller as it stands: relative ones obey the
  // same rule; absolute ones keep only their prefix as given.
  OutputPath direct;
  if (MakeOutputPath(raw, &direct)) {
    if (direct.absolute) {
      OutputPath rest = direct;
      size_t k = 0;
      if (!is_separator(raw[0])) k = 2;  // a drive letter and its colon
      while (k < rest.dirs.size() && is_separator(rest.dirs[k])) ++k;
      rest.dirs.erase(0, k);
      rest.absolute = false;
      check_relative(rest);
    } else {
      check_relative(direct);
    }
  }
  return 0;
}
