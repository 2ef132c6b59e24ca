// platform/module.h on Windows: modules through the kernel's loader calls.
#include "platform/module.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

namespace qp {

void* module_handle(const char* name) { return GetModuleHandleA(name); }

void* load_library(const char* path) { return LoadLibraryA(path); }

void* find_symbol(void* library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

std::string load_error() { return "Windows error " + std::to_string(GetLastError()); }

std::string program_dir() {
  char path[MAX_PATH + 1];
  DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string s(path, n);
  size_t cut = s.find_last_of("\\/");
  return cut == std::string::npos ? std::string(".\\") : s.substr(0, cut + 1);
}

void set_stdout_binary() {
  fflush(stdout);
  _setmode(_fileno(stdout), _O_BINARY);
}

}  // namespace qp
