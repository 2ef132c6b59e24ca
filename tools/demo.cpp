#include "demo.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <vector>

#include "platform/dir.h"

namespace host {
namespace {

struct Registered {
  int rank;
  const char* title;
  DemoStep step;
};

std::vector<Registered>& steps() {
  static std::vector<Registered> all;
  return all;
}

}  // namespace

DemoRegistration::DemoRegistration(int rank, const char* title, DemoStep step) {
  steps().push_back({rank, title, std::move(step)});
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

void show(const std::string& label, const std::string& value) {
  std::printf("  %s: %s\n", label.c_str(), value.c_str());
  std::fflush(stdout);
}

int run_demo(Library& lib, const std::string& dir_arg) {
  std::string dir = dir_arg;
  if (dir.empty()) {
    dir = qp::make_temp_directory("quillon-demo-");
    if (dir.empty()) {
      std::fprintf(stderr, "quillon demo: cannot make a temporary folder\n");
      return 1;
    }
  } else {
    qp::make_directory(dir.c_str());
    if (dir.back() != '/' && dir.back() != '\\') dir += '/';
  }
#if defined(_WIN32)
  const bool display = true;
#else
  const char* x = std::getenv("DISPLAY");
  const char* w = std::getenv("WAYLAND_DISPLAY");
  const bool display = (x && *x) || (w && *w);
#endif
  std::printf("libquillon demo, working in %s\n", dir.c_str());
  DemoContext ctx{lib, dir, display};
  auto all = steps();
  std::stable_sort(all.begin(), all.end(), [](const Registered& a, const Registered& b) { return a.rank < b.rank; });
  int failures = 0;
  for (const Registered& r : all) {
    std::printf("\n== %s ==\n", r.title);
    std::fflush(stdout);
    try {
      r.step(ctx);
    } catch (const std::exception& e) {
      std::printf("  FAILED: %s\n", e.what());
      ++failures;
    }
  }
  std::printf("\n%s\n", failures ? "demo finished with failures" : "demo finished");
  return failures ? 1 : 0;
}

}  // namespace host
