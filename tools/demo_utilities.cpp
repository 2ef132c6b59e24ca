// Tour step: numbers, directories and the two file helpers.
#include "demo.h"

namespace host {
namespace {

DemoRegistration reg(10, "numbers, folders and files", [](DemoContext& c) {
  show("add(1.5, 2.25)", format_number(c.lib.number("add", {num(1.5), num(2.25)})));

  const std::string folder = c.dir + "made-by-MKDIR2";
  c.lib.number("MKDIR2", {txt(folder)});
  write_file(folder + "/keep.txt", "kept\n");
  c.lib.number("RMDIR2", {txt(folder)});
  show("RMDIR2 on a folder holding a file", read_file(folder + "/keep.txt").empty() ? "removed" : "kept");

  const std::string source = c.dir + "lines.txt";
  write_file(source, "first line\r\nsecond line\nthird");
  bool was_null = false;
  std::string line = c.lib.text("makeBuffer", {txt(source)}, &was_null);
  show("makeBuffer(lines.txt)", was_null ? "(null)" : "\"" + line.substr(0, line.find('\r')) + "\\r\\n\"");

  const std::string copy = c.dir + "lines-hashed.txt";
  double r = c.lib.number("T2GMT", {txt(source), txt(copy)});
  std::string hashed = read_file(copy);
  for (char& ch : hashed)
    if (ch == '\r') ch = '~';
  show("T2GMT result", format_number(r));
  show("T2GMT copy (CR shown as ~)", hashed);
});

}  // namespace
}  // namespace host
