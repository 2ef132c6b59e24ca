// The guided tour of `quillon demo`. Each subsystem contributes one step in a
// file of its own (demo_*.cpp) that registers itself; the tour runs the steps
// in order of their rank.
#pragma once
#include <functional>
#include <string>

#include "library.h"

namespace host {

struct DemoContext {
  Library& lib;
  std::string dir;  // working folder, with a trailing separator
  bool display;     // a window system is there to show windows on
};

using DemoStep = std::function<void(DemoContext&)>;

struct DemoRegistration {
  DemoRegistration(int rank, const char* title, DemoStep step);
};

int run_demo(Library& lib, const std::string& dir);

// Writes `bytes` to `path`; false on failure.
bool write_file(const std::string& path, const std::string& bytes);
// Reads a whole file; empty when it cannot be read.
std::string read_file(const std::string& path);
// A line of the tour: "  label: value".
void show(const std::string& label, const std::string& value);

}  // namespace host
