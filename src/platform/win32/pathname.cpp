// platform/pathname.h on Windows: the reserved device names.
#include "platform/pathname.h"

#include <windows.h>

#include <cstring>

#include "platform/text.h"

namespace qp {
namespace {

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 0x20) : c; }

}  // namespace

bool is_device_name(const char* step, size_t len) {
  // The device is named by the part before the first dot, trailing blanks
  // ignored: "con", "CON.txt" and "nul .tar.gz" all name a device.
  size_t stem = 0;
  while (stem < len && step[stem] != '.') ++stem;
  while (stem > 0 && step[stem - 1] == ' ') --stem;
  char s[5] = {0, 0, 0, 0, 0};
  if (stem != 3 && stem != 4) return false;
  for (size_t i = 0; i < stem; ++i) s[i] = upper(step[i]);
  if (stem == 3)
    return !std::strcmp(s, "CON") || !std::strcmp(s, "PRN") || !std::strcmp(s, "AUX") || !std::strcmp(s, "NUL");
  const bool com = !std::strncmp(s, "COM", 3), lpt = !std::strncmp(s, "LPT", 3);
  return (com || lpt) && s[3] >= '1' && s[3] <= '9';
}

bool is_dot_step(const char* step, size_t len) {
  for (size_t i = 0; i < len; ++i)
    if (step[i] != '.' && step[i] != ' ') return false;
  return true;
}

size_t drive_prefix_length(const char* step, size_t len) { return len >= 2 && step[1] == ':' ? 2 : 0; }

void use_system_separators(std::string*) {}

size_t longest_path() { return 32767; }

size_t longest_step() { return 255; }

size_t path_length(const char* text, size_t n, bool utf8) {
  if (utf8 || system_text_is_utf8()) return utf16_length(text, n);
  // A text far beyond every limit is not converted to be counted.
  if (n == 0 || n > 4 * longest_path()) return n;
  const int units = MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(n), nullptr, 0);
  return units > 0 ? static_cast<size_t>(units) : n;
}

}  // namespace qp

namespace qp {

std::string step_identity(const char* step, size_t len) {
  // A colon starts a stream of the file named before it: "a.txt:s" and
  // "a.txt::$DATA" write into a.txt.
  const void* colon = std::memchr(step, ':', len);
  if (colon != nullptr) len = static_cast<size_t>(static_cast<const char*>(colon) - step);
  while (len > 0 && (step[len - 1] == '.' || step[len - 1] == ' ')) --len;
  std::string id(step, len);
  for (char& c : id) {
    const unsigned char u = static_cast<unsigned char>(c);
    // How letters beyond ASCII fold depends on the file system's tables,
    // and a character the code page lacks is shown as '?'. Those, and the
    // ASCII letters that some of them fold to (i: dotless i and dotted
    // capital I; s: long s; k: the Kelvin sign), are one class, so that
    // names that might be one file are taken for one.
    if (u >= 0x80 || u == '?' || u == 'i' || u == 'I' || u == 's' || u == 'S' || u == 'k' || u == 'K') {
      c = '\x80';
    } else if (u >= 'A' && u <= 'Z') {
      c = static_cast<char>(u + 0x20);
    }
  }
  return id;
}

bool step_may_be_alias(const char* step, size_t len) {
  // A short 8.3 name ("PROGRA~1.TXT") may stand for a long name in the
  // same folder that nothing in its text gives away.
  for (size_t i = 0; i + 1 < len; ++i)
    if (step[i] == '~' && step[i + 1] >= '0' && step[i + 1] <= '9') return true;
  return false;
}

}  // namespace qp
