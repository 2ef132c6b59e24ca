#include "platform/text.h"

#include "platform/win32/wide.h"

namespace qp {

std::wstring to_wide(const char* text, UINT cp) {
  if (text == nullptr || *text == '\0') return std::wstring();
  const int n = MultiByteToWideChar(cp, 0, text, -1, nullptr, 0);
  if (n <= 1) return std::wstring();
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(cp, 0, text, -1, &w[0], n);
  w.resize(static_cast<size_t>(n - 1));
  return w;
}

std::string from_wide(const wchar_t* text, UINT cp, bool* exact) {
  if (exact) *exact = true;
  if (text == nullptr || *text == L'\0') return std::string();
  // UTF-8 takes neither a default character nor the best-fit flag.
  const bool utf8 = cp == CP_UTF8 || (cp == CP_ACP && GetACP() == CP_UTF8);
  const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  BOOL used_default = FALSE;
  BOOL* used = utf8 ? nullptr : &used_default;
  const int n = WideCharToMultiByte(cp, flags, text, -1, nullptr, 0, nullptr, used);
  if (n <= 1) {
    if (exact) *exact = false;
    return std::string();
  }
  std::string s(static_cast<size_t>(n), '\0');
  used_default = FALSE;
  WideCharToMultiByte(cp, flags, text, -1, &s[0], n, nullptr, used);
  s.resize(static_cast<size_t>(n - 1));
  if (exact) *exact = used_default == FALSE;
  return s;
}

namespace {

bool plain_ascii(const char* s) {
  for (; *s; ++s)
    if (static_cast<unsigned char>(*s) >= 0x80) return false;
  return true;
}

}  // namespace

std::string system_to_utf8(const char* text) {
  if (text == nullptr) return std::string();
  if (plain_ascii(text)) return text;
  return from_wide(to_wide(text, CP_ACP).c_str(), CP_UTF8);
}

bool utf8_to_system(const char* utf8, std::string* out) {
  if (utf8 == nullptr) {
    out->clear();
    return true;
  }
  if (plain_ascii(utf8)) {
    *out = utf8;
    return true;
  }
  bool exact = false;
  *out = from_wide(to_wide(utf8, CP_UTF8).c_str(), CP_ACP, &exact);
  return exact;
}

}  // namespace qp
