// quillon: a command-line host for libquillon. It loads the library at run
// time, binds exports by name and calls them as a scripting host does.
//
//   quillon NAME [ARG...]        call an export; print its result
//   quillon -x NAME [ARG...]     the same, every text argument in hex bytes
//   quillon --list               the exports with their kinds
//   quillon --help, -h           the usage and the exports
//   quillon --version            the library's version
//   quillon demo [DIR]           a guided tour of the library
//   --lib PATH                   load another library file (before the rest)
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "demo.h"
#include "library.h"
#include "platform/fileinfo.h"
#include "platform/module.h"
#include "platform/version_info.h"

namespace {

#if defined(_WIN32)
const char* kLibraryName = "libquillon.dll";
#else
const char* kLibraryName = "libquillon.so";
#endif

int usage(const std::string& problem) {
  std::fprintf(stderr,
               "quillon: %s (usage: quillon [--lib PATH] [-x] NAME [ARG...] | --list | --help | --version | "
               "demo [DIR])\n",
               problem.c_str());
  return 64;
}

void print_exports() {
  for (const host::ExportInfo& e : host::export_table()) {
    std::string kinds;
    for (const char* k = e.args; *k; ++k) kinds += std::string(kinds.empty() ? "" : ", ") + (*k == 'd' ? "double" : "char*");
    std::printf("%-24s (%s) -> %s\n", e.name, kinds.c_str(), e.result == 'd' ? "double" : "char*");
  }
}

int help() {
  std::printf(
      "usage: quillon [--lib PATH] [-x] NAME [ARG...]   call the export NAME and print its result\n"
      "       quillon --list                           the exports with their kinds\n"
      "       quillon --help | -h                      this text\n"
      "       quillon --version                        the library's version\n"
      "       quillon [--lib PATH] demo [DIR]          a guided tour of the library, in DIR\n"
      "\n"
      "  --lib PATH  load this library file instead of %s\n"
      "  -x          every text argument is given as hex bytes\n"
      "\n"
      "A number result is printed in its shortest exact form, a text result as raw\n"
      "bytes, both followed by a line feed. Exit status: 0 after a call, 2 for a null\n"
      "text result, 1 when the library cannot be loaded, 64 for a usage error.\n"
      "\n"
      "Exports:\n",
      kLibraryName);
  print_exports();
  return 0;
}

// The library beside the program, as the release archives place it; else
// the bare name, for the system's loader to find (an installed host in
// bin/ whose library is in lib/).
std::string default_library() {
  const std::string beside = qp::program_dir() + kLibraryName;
  if (qp::get_file_attributes(beside.c_str()) != qp::kNoPosition) return beside;
  return kLibraryName;
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
  std::string lib_path = default_library();
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
    print_exports();
    return 0;
  }
  if (name == "--help" || name == "-h") return help();

  host::Library lib(lib_path);
  if (!lib.ok()) {
    std::fprintf(stderr, "quillon: %s\n", lib.error().c_str());
    return 1;
  }
  if (name == "--version") {
    // Read from the file the loader took: the version resource of the DLL,
    // the version mark of a shared object.
    const std::string file = qp::library_file(lib.handle());
    const std::string version = file.empty() ? std::string() : qp::file_version(file);
    if (version.empty()) {
      std::fprintf(stderr, "quillon: no version record in %s\n", file.empty() ? lib_path.c_str() : file.c_str());
      return 1;
    }
    std::printf("libquillon %s\n", version.c_str());
    return 0;
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
