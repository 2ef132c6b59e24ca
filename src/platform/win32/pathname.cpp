// platform/pathname.h on Windows: the reserved device names.
#include "platform/pathname.h"

#include <cstring>

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

}  // namespace qp

namespace qp {

std::string step_identity(const char* step, size_t len) {
  while (len > 0 && (step[len - 1] == '.' || step[len - 1] == ' ')) --len;
  std::string id(step, len);
  for (char& c : id) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u >= 0x80) {
      c = '\x80';
    } else if (u >= 'A' && u <= 'Z') {
      c = static_cast<char>(u + 0x20);
    }
  }
  return id;
}

}  // namespace qp
