// Tour step: a folder packed with ZIP, the archive looked at, and the folder
// unpacked again with UNZIP.
#include <cstdio>
#include <stdexcept>
#include <vector>

#include "demo.h"
#include "platform/dir.h"

namespace host {
namespace {

bool is_absolute(const std::string& p) {
  return (!p.empty() && (p[0] == '/' || p[0] == '\\')) || (p.size() > 1 && p[1] == ':');
}

std::string current_dir() {
  char buf[4096];
  qp::current_directory(sizeof buf, buf);
  std::string d = buf;
  if (!d.empty() && d.back() != '/' && d.back() != '\\') d += '/';
  return d;
}

uint32_t le(const std::string& b, size_t at, int n) {
  uint32_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(b[at + i]);
  return v;
}

DemoRegistration reg(50, "packing a folder into an archive and back", [](DemoContext& c) {
  const std::string dir = is_absolute(c.dir) ? c.dir : current_dir() + c.dir;
  const std::string folder = dir + "to-pack/", archive = dir + "packed.zip", unpacked = dir + "unpacked";
  std::string text;
  for (int i = 0; i < 2000; ++i) text += "line " + std::to_string(i) + " of a text that packs well\n";
  const std::vector<std::pair<std::string, std::string>> files = {
      {"notes.txt", text}, {"already.gz", "bytes that are stored as they are"}, {"empty.txt", ""}};
  c.lib.number("MKDIR2", {txt(folder)});
  for (const auto& f : files) write_file(folder + f.first, f.second);
  c.lib.number("MKDIR2", {txt(folder + "sub-folder")});

  // ZIP opens each listed name in the current directory, so go there first.
  const std::string back = current_dir();
  c.lib.number("CD", {txt(folder)});
  show("ZIP(packed.zip, \".\") prints every entry it lists", "");
  std::fflush(stdout);
  const double r = c.lib.number("ZIP", {txt(archive), txt(".")});
  std::fflush(stdout);
  c.lib.number("CD", {txt(back)});
  show("ZIP result", format_number(r));

  const std::string bytes = read_file(archive);
  char head[32] = "";
  if (bytes.size() >= 4)
    std::snprintf(head, sizeof head, "%02x %02x %02x %02x", static_cast<unsigned char>(bytes[0]),
                  static_cast<unsigned char>(bytes[1]), static_cast<unsigned char>(bytes[2]),
                  static_cast<unsigned char>(bytes[3]));
  show("packed.zip", std::to_string(bytes.size()) + " bytes of " +
                         std::to_string(text.size() + files[1].second.size()) + ", starting " + head +
                         (bytes.compare(0, 4, "PK\x03\x04") == 0 ? " (a local header)" : " (NOT an archive)"));
  if (bytes.size() >= 22 && le(bytes, bytes.size() - 22, 4) == 0x06054B50)
    show("end record", std::to_string(le(bytes, bytes.size() - 12, 2)) +
                           " items (the sub-folder, \".\" and \"..\" add none)");

  try {
    c.lib.number("UNZIP", {txt(archive), txt(unpacked)});
  } catch (const std::runtime_error& e) {
    show("UNZIP", std::string(e.what()) + "; skipping the way back");
    return;
  }
  int same = 0;
  for (const auto& f : files) same += read_file(unpacked + "/" + f.first) == f.second;
  show("UNZIP(packed.zip, unpacked)", std::to_string(same) + " of " + std::to_string(files.size()) +
                                          " files came back identical");
});

}  // namespace
}  // namespace host
