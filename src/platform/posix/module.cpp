// platform/module.h on POSIX systems: shared objects through dlopen and dlsym.
#include "platform/module.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

namespace qp {

void* module_handle(const char* name) {
  // There are no instance handles here: a loaded module (or the program,
  // for a null name) answers with its library handle.
  void* h = dlopen(name, RTLD_LAZY | RTLD_NOLOAD);
  if (h) dlclose(h);
  return h;
}

void* load_library(const char* path) { return dlopen(path, RTLD_NOW | RTLD_LOCAL); }

void* find_symbol(void* library, const char* name) { return dlsym(library, name); }

std::string load_error() {
  const char* e = dlerror();
  return e ? e : "unknown error";
}

std::string program_dir() {
  char path[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return "./";
  std::string s(path, static_cast<size_t>(n));
  return s.substr(0, s.find_last_of('/') + 1);
}

void set_stdout_binary() {}

}  // namespace qp
