#include "library.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "platform/module.h"
#include "quillon.h"

namespace host {

const std::vector<ExportInfo>& export_table() {
  static const std::vector<ExportInfo> table = {
      {"add", "dd", 'd'},
      {"CD", "s", 'd'},
      {"MKDIR2", "s", 'd'},
      {"RMDIR", "", 'd'},
      {"RMDIR2", "s", 'd'},
      {"T2GMT", "ss", 'd'},
      {"makeBuffer", "s", 's'},
      {"QCRYPT_makeKeys", "ssss", 'd'},
      {"QCRYPT_combineKeys", "ssss", 'd'},
      {"QCRYPT_combineKeys2", "sss", 'd'},
      {"QCRYPT_encrypt", "sss", 'd'},
      {"QCRYPT_encrypt2", "ssss", 'd'},
      {"QCRYPT_decrypt", "sss", 'd'},
      {"HASHmd5", "s", 's'},
      {"HASHsha1", "s", 's'},
      {"GUI_show_message", "s", 'd'},
      {"GUI_show_question", "s", 'd'},
      {"GUI_make_window", "ssdd", 'd'},
      {"GUI_make_window_notepad", "ssds", 's'},
      {"GUI_get_string", "ssds", 's'},
      {"UNZIP", "ss", 'd'},
      {"ZIP", "ss", 'd'},
  };
  return table;
}

const ExportInfo* find_export(const std::string& name) {
  for (const ExportInfo& e : export_table())
    if (name == e.name) return &e;
  return nullptr;
}

Library::Library(const std::string& path) {
  handle_ = qp::load_library(path.c_str());
  if (!handle_) error_ = "cannot load " + path + ": " + qp::load_error();
}

namespace {

// The function types of the export table, as a host declares them.
using D_DD = double(QUILLON_CALL*)(double, double);
using D_V = double(QUILLON_CALL*)();
using D_S = double(QUILLON_CALL*)(const char*);
using D_SS = double(QUILLON_CALL*)(const char*, const char*);
using D_SSS = double(QUILLON_CALL*)(const char*, const char*, const char*);
using D_SSSS = double(QUILLON_CALL*)(const char*, const char*, const char*, const char*);
using D_SSDD = double(QUILLON_CALL*)(const char*, const char*, double, double);
using S_S = char*(QUILLON_CALL*)(const char*);
using S_SSDS = char*(QUILLON_CALL*)(const char*, const char*, double, const char*);

template <typename F>
F as(void* p) {
  return reinterpret_cast<F>(reinterpret_cast<void (*)()>(p));
}

}  // namespace

bool Library::call(const ExportInfo& info, const std::vector<Value>& a, Value* result) {
  void* fn = handle_ ? qp::find_symbol(handle_, info.name) : nullptr;
  if (!fn) {
    error_ = std::string("the library has no export ") + info.name;
    return false;
  }
  const std::string kinds = std::string(info.args) + "->" + info.result;
  auto s = [&](size_t i) { return a[i].text.c_str(); };
  auto d = [&](size_t i) { return a[i].number; };
  Value r;
  char* t = nullptr;
  if (kinds == "dd->d") {
    r.number = as<D_DD>(fn)(d(0), d(1));
  } else if (kinds == "->d") {
    r.number = as<D_V>(fn)();
  } else if (kinds == "s->d") {
    r.number = as<D_S>(fn)(s(0));
  } else if (kinds == "ss->d") {
    r.number = as<D_SS>(fn)(s(0), s(1));
  } else if (kinds == "sss->d") {
    r.number = as<D_SSS>(fn)(s(0), s(1), s(2));
  } else if (kinds == "ssss->d") {
    r.number = as<D_SSSS>(fn)(s(0), s(1), s(2), s(3));
  } else if (kinds == "ssdd->d") {
    r.number = as<D_SSDD>(fn)(s(0), s(1), d(2), d(3));
  } else if (kinds == "s->s") {
    r.is_text = true;
    t = as<S_S>(fn)(s(0));
  } else if (kinds == "ssds->s") {
    r.is_text = true;
    t = as<S_SSDS>(fn)(s(0), s(1), d(2), s(3));
  } else {
    error_ = "unsupported signature " + kinds;
    return false;
  }
  if (r.is_text) {
    r.null_text = t == nullptr;
    if (t) r.text = t;  // copied at once, as a host must
  }
  *result = r;
  return true;
}

double Library::number(const char* name, const std::vector<Value>& args) {
  Value r;
  const ExportInfo* e = find_export(name);
  if (!e || !call(*e, args, &r)) throw std::runtime_error(error_);
  return r.number;
}

std::string Library::text(const char* name, const std::vector<Value>& args, bool* was_null) {
  Value r;
  const ExportInfo* e = find_export(name);
  if (!e || !call(*e, args, &r)) throw std::runtime_error(error_);
  if (was_null) *was_null = r.null_text;
  return r.text;
}

std::string format_number(double d) {
  char buf[64];
  for (int precision = 1; precision <= 17; ++precision) {
    std::snprintf(buf, sizeof buf, "%.*g", precision, d);
    if (std::strtod(buf, nullptr) == d) break;
  }
  return buf;
}

}  // namespace host
