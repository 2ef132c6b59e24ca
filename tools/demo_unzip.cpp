// Tour step: UNZIP extracts a small archive, written here byte by byte as
// two stored entries (one in a folder named with a backslash, as Windows
// tools write it, one trying to climb out of the target folder).
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "demo.h"

namespace host {
namespace {

uint32_t crc32_of(const std::string& s) {
  uint32_t c = 0xFFFFFFFFu;
  for (unsigned char b : s) {
    c ^= b;
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
  }
  return ~c;
}

void put(std::string& out, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

// A stored archive: local header and data per entry, then the directory.
std::string stored_zip(const std::vector<std::pair<std::string, std::string>>& entries) {
  std::string body, dir;
  const uint32_t dos_time = 0x6000, dos_date = 0x5A21;  // 2025-01-01 12:00
  for (const auto& [name, data] : entries) {
    const uint32_t offset = static_cast<uint32_t>(body.size()), crc = crc32_of(data);
    const uint32_t size = static_cast<uint32_t>(data.size()), len = static_cast<uint32_t>(name.size());
    put(body, 0x04034B50, 4), put(body, 10, 2), put(body, 0, 2), put(body, 0, 2);
    put(body, dos_time, 2), put(body, dos_date, 2), put(body, crc, 4), put(body, size, 4), put(body, size, 4);
    put(body, len, 2), put(body, 0, 2);
    body += name + data;
    put(dir, 0x02014B50, 4), put(dir, 0x031E, 2), put(dir, 10, 2), put(dir, 0, 2), put(dir, 0, 2);
    put(dir, dos_time, 2), put(dir, dos_date, 2), put(dir, crc, 4), put(dir, size, 4), put(dir, size, 4);
    put(dir, len, 2), put(dir, 0, 2), put(dir, 0, 2), put(dir, 0, 2), put(dir, 0, 2);
    put(dir, 0x81A40000u, 4), put(dir, offset, 4);
    dir += name;
  }
  std::string zip = body + dir;
  put(zip, 0x06054B50, 4), put(zip, 0, 2), put(zip, 0, 2);
  put(zip, static_cast<uint32_t>(entries.size()), 2), put(zip, static_cast<uint32_t>(entries.size()), 2);
  put(zip, static_cast<uint32_t>(dir.size()), 4), put(zip, static_cast<uint32_t>(body.size()), 4), put(zip, 0, 2);
  return zip;
}

DemoRegistration reg(40, "extracting an archive", [](DemoContext& c) {
  const std::string archive = c.dir + "demo.zip";
  write_file(archive, stored_zip({{"docs\\readme.txt", "Extracted by UNZIP.\n"},
                                  {"../outside.txt", "kept inside the target folder\n"}}));
  const std::string target = c.dir + "unzipped";
  show("UNZIP(demo.zip, unzipped)", format_number(c.lib.number("UNZIP", {txt(archive), txt(target)})));
  std::string readme = read_file(target + "/docs/readme.txt");
  while (!readme.empty() && readme.back() == '\n') readme.pop_back();
  show("unzipped/docs/readme.txt", "\"" + readme + "\"");
  const bool inside = !read_file(target + "/outside.txt").empty();
  show("entry ../outside.txt landed in", inside ? "unzipped/outside.txt" : "(nowhere)");
  show("UNZIP of a missing archive", format_number(c.lib.number("UNZIP", {txt(c.dir + "missing.zip"), txt(target)})));
});

}  // namespace
}  // namespace host
