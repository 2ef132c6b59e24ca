// The command-line host's view of libquillon: the export table with each
// export's argument and result kinds, and calls through names bound at run
// time, exactly as a scripting host makes them.
#pragma once
#include <string>
#include <vector>

namespace host {

// One argument or result: a number or a text. A text result may be null.
struct Value {
  bool is_text = false;
  double number = 0;
  std::string text;
  bool null_text = false;
};

struct ExportInfo {
  const char* name;
  const char* args;  // one letter per argument: 'd' number, 's' text
  char result;       // 'd' number, 's' text
};

const std::vector<ExportInfo>& export_table();
const ExportInfo* find_export(const std::string& name);

class Library {
 public:
  // Loads the library from `path`; ok() tells whether that worked.
  explicit Library(const std::string& path);
  bool ok() const { return handle_ != nullptr; }
  const std::string& error() const { return error_; }
  void* handle() const { return handle_; }

  // Binds `name` and calls it with `args` (kinds must match the table).
  // Returns false, with error() set, when the export cannot be bound.
  bool call(const ExportInfo& info, const std::vector<Value>& args, Value* result);

  // Convenience forms for the demo.
  double number(const char* name, const std::vector<Value>& args);
  std::string text(const char* name, const std::vector<Value>& args, bool* was_null = nullptr);

 private:
  void* handle_ = nullptr;
  std::string error_;
};

inline Value num(double d) {
  Value v;
  v.number = d;
  return v;
}
inline Value txt(std::string s) {
  Value v;
  v.is_text = true;
  v.text = std::move(s);
  return v;
}

// Shortest decimal form that reads back as exactly the same double.
std::string format_number(double d);

}  // namespace host
