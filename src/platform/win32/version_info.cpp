// platform/version_info.h on Windows: the loader's module file name and the
// file's version resource.
#include "platform/version_info.h"

#include <windows.h>

#include <vector>

namespace qp {

std::string library_file(void* library) {
  if (library == nullptr) return std::string();
  char path[MAX_PATH + 1];
  DWORD n = GetModuleFileNameA(static_cast<HMODULE>(library), path, MAX_PATH);
  return n == 0 || n >= MAX_PATH ? std::string() : std::string(path, n);
}

std::string file_version(const std::string& path) {
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
  if (size == 0) return std::string();
  std::vector<char> record(size);
  if (!GetFileVersionInfoA(path.c_str(), 0, size, record.data())) return std::string();
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixed_len = 0;
  if (!VerQueryValueA(record.data(), "\\", reinterpret_cast<void**>(&fixed), &fixed_len) || fixed == nullptr ||
      fixed_len < sizeof *fixed || fixed->dwSignature != 0xFEEF04BD)
    return std::string();
  return std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." + std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
         std::to_string(HIWORD(fixed->dwFileVersionLS)) + "." + std::to_string(LOWORD(fixed->dwFileVersionLS));
}

}  // namespace qp
