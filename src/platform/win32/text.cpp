// platform/text.h on Windows: the ANSI code page and UTF-8 through the
// UTF-16 of MultiByteToWideChar and WideCharToMultiByte.
#include "platform/text.h"

#include <cstring>

#include "platform/win32/wide.h"

namespace qp {

namespace {

std::wstring wide_from(UINT code_page, DWORD flags, const char* text) {
  const int n = static_cast<int>(std::strlen(text));
  if (n == 0) return std::wstring();
  const int units = MultiByteToWideChar(code_page, flags, text, n, nullptr, 0);
  if (units <= 0) return std::wstring();
  std::wstring w(static_cast<size_t>(units), L'\0');
  MultiByteToWideChar(code_page, flags, text, n, &w[0], units);
  return w;
}

}  // namespace

bool wide_from_utf8(const char* utf8, std::wstring* out) {
  out->clear();
  if (utf8 == nullptr || !is_valid_utf8(utf8, std::strlen(utf8))) return false;
  *out = wide_from(CP_UTF8, MB_ERR_INVALID_CHARS, utf8);
  return out->size() == utf16_length(utf8, std::strlen(utf8));
}

std::string utf8_from_wide(const wchar_t* text, size_t n) {
  if (n == 0) return std::string();
  const int len = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
  if (len <= 0) return std::string();
  std::string s(static_cast<size_t>(len), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), &s[0], len, nullptr, nullptr);
  return s;
}

bool long_path_form(const char* path, bool utf8, std::wstring* out) {
  // Folders of the plain forms hold at most this many characters.
  constexpr DWORD kPlainLimit = MAX_PATH - 12;
  constexpr size_t kLongest = 32767;
  if (path == nullptr || *path == '\0' || std::strlen(path) > 4 * kLongest) return false;
  std::wstring given;
  if (utf8 ? !wide_from_utf8(path, &given) : (given = wide_from(CP_ACP, 0, path)).empty()) return false;
  const DWORD need = GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);  // with the terminator
  if (need == 0 || need <= kPlainLimit || need > kLongest) return false;
  std::wstring full(need, L'\0');
  const DWORD got = GetFullPathNameW(given.c_str(), need, &full[0], nullptr);
  if (got == 0 || got >= need) return false;
  full.resize(got);
  const bool prefixed = full.compare(0, 4, L"\\\\?\\") == 0 || full.compare(0, 4, L"\\\\.\\") == 0;
  if (prefixed) {
    *out = full;
  } else if (full.compare(0, 2, L"\\\\") == 0) {
    *out = L"\\\\?\\UNC\\" + full.substr(2);
  } else {
    *out = L"\\\\?\\" + full;
  }
  return out->size() <= kLongest;
}

bool system_text_is_utf8() { return GetACP() == CP_UTF8; }

std::string utf8_from_system(const char* text) {
  if (text == nullptr) return std::string();
  if (system_text_is_utf8()) return text;
  const std::wstring w = wide_from(CP_ACP, 0, text);
  return utf8_from_wide(w.data(), w.size());
}

bool system_from_utf8(const char* utf8, std::string* out, bool* exact) {
  out->clear();
  if (exact) *exact = true;
  std::wstring w;
  if (!wide_from_utf8(utf8, &w)) return false;
  if (system_text_is_utf8()) {
    *out = utf8;
    return true;
  }
  if (w.empty()) return true;
  // No best-fit look-alikes: a character without its own form in the code
  // page becomes '?', which no file name can hold.
  BOOL defaulted = FALSE;
  const int n = static_cast<int>(w.size());
  const int len = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, w.data(), n, nullptr, 0, "?", &defaulted);
  if (len <= 0) return false;
  out->assign(static_cast<size_t>(len), '\0');
  defaulted = FALSE;
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, w.data(), n, &(*out)[0], len, "?", &defaulted);
  if (exact) *exact = defaulted == FALSE;
  return true;
}

}  // namespace qp
