// quillon: a command-line host for libquillon. It loads the library at run
// time, binds exports by name and calls them as a scripting host does.
//
//   quillon NAME [ARG...]        call an export; print its result
//   quillon -x NAME [ARG...]     the same, every text argument in hex bytes
//   quillon --list               the exports with their kinds
//   quillon demo [DIR]           a guided tour of the library
//   --lib PATH                   load another library file (before the rest)
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "demo.h"
#include "library.h"
#include "platform/module.h"

namespace {

#if defined(_WIN32)
const char* kLibraryName = "libquillon.dll";
#else
const char* kLibraryName = "libquillon.so";
#endif

int usage(const std::string& problem) {
  std::fprintf(stderr, "quillon: %s (usage: quillon [--lib PATH] [-x] NAME [ARG...] | --list | demo [DIR])\n",
               problem.c_str());
  return 64;
}

bool parse_number(const std::string& s, double* out) {
  if (s.empty()) return false;
  char* end = nullptr;
  *out = std::strtod(s.c_str(), &end);
  return end && *end == '\0';
}

bool parse_hex(const std::string& s, std::string* out) {
  if (s.size() % 2) return false;
  out->clear();
  for (size_t i = 0; i < s.size(); i += 2) {
    int v = 0;
    for (size_t k = i; k < i + 2; ++k) {
      char c = s[k];
      int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
      if (d < 0) return false;
      v = v * 16 + d;
    }
    out->push_back(static_cast<char>(v));
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  qp::set_stdout_binary();
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string lib_path = qp::program_dir() + kLibraryName;
  bool hex = false;
  size_t i = 0;
  for (; i < args.size(); ++i) {
    if (args[i] == "--lib" && i + 1 < args.size()) {
      lib_path = args[++i];
    } else if (args[i] == "-x") {
      hex = true;
    } else {
      break;
    }
  }
  if (i >= args.size()) return usage("no export named");
  const std::string name = args[i++];

  if (name == "--list") {
    for (const host::ExportInfo& e : host::export_table()) {
      std::string kinds;
      for (const char* k = e.args; *k; ++k) kinds += std::string(kinds.empty() ? "" : ", ") + (*k == 'd' ? "double" : "char*");
      std::printf("%-24s (%s) -> %s\n", e.name, kinds.c_str(), e.result == 'd' ? "double" : "char*");
    }
    return 0;
  }

  host::Library lib(lib_path);
  if (!lib.ok()) {
    std::fprintf(stderr, "quillon: %s\n", lib.error().c_str());
    return 1;
  }
  if (name == "demo") {
    if (args.size() - i > 1) return usage("demo takes at most one folder");
    return host::run_demo(lib, i < args.size() ? args[i] : std::string());
  }

  const host::ExportInfo* info = host::find_export(name);
  if (!info) return usage("unknown export " + name);
  const size_t want = std::strlen(info->args);
  if (args.size() - i != want)
    return usage(name + " takes " + std::to_string(want) + " argument" + (want == 1 ? "" : "s"));

  std::vector<host::Value> values;
  for (size_t k = 0; k < want; ++k) {
    const std::string& a = args[i + k];
    if (info->args[k] == 'd') {
      double d;
      if (!parse_number(a, &d)) return usage("argument " + std::to_string(k + 1) + " of " + name + " is not a number");
      values.push_back(host::num(d));
    } else if (hex) {
      std::string bytes;
      if (!parse_hex(a, &bytes)) return usage("argument " + std::to_string(k + 1) + " of " + name + " is not hex");
      values.push_back(host::txt(bytes));
    } else {
      values.push_back(host::txt(a));
    }
  }

  host::Value result;
  if (!lib.call(*info, values, &result)) {
    std::fprintf(stderr, "quillon: %s\n", lib.error().c_str());
    return 1;
  }
  std::fflush(stdout);  // whatever the export printed comes first
  if (result.is_text) {
    if (result.null_text) return 2;
    std::fwrite(result.text.data(), 1, result.text.size(), stdout);
    std::fputc('\n', stdout);
  } else {
    std::printf("%s\n", host::format_number(result.number).c_str());
  }
  return 0;
}
