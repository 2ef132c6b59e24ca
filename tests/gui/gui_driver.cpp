// A small host for the window tests: it makes the calls that the command-line
// host cannot (several windows in one process, texts larger than a command
// line, null arguments) and prints what each call returned.
//
//   gui_driver windows-twice          two plain windows, one after the other
//   gui_driver popups-twice           two popups; shows that the second result
//                                     overwrites the first
//   gui_driver notepad-file PATH      a notepad window holding the file's text;
//                                     prints the result's length and whether it
//                                     is the file's text cut to that length
//   gui_driver null-texts             a popup and a notepad window with null
//                                     module and initial text, then a message
//                                     box with a null text
//   gui_driver no-display             every window export, for a process that
//                                     has no display: results and seconds taken
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "quillon.h"

namespace {

std::string read_file(const char* path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

void line(const char* label, const std::string& value) {
  std::printf("%s=%s\n", label, value.c_str());
  std::fflush(stdout);
}

std::string number(double d) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%g", d);
  return buf;
}

template <typename F>
double seconds(F&& call) {
  const auto start = std::chrono::steady_clock::now();
  call();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  const std::string what = argc > 1 ? argv[1] : "";
  if (what == "windows-twice") {
    line("first", number(GUI_make_window("Plain window", "", 320, 240)));
    line("second", number(GUI_make_window("Plain window", "", 320, 240)));
  } else if (what == "popups-twice") {
    char* first = GUI_get_string("First popup", "", 300, "one");
    const std::string first_text = first;
    line("first", first_text);
    char* second = GUI_get_string("Second popup", "", 300, "two");
    line("second", second);
    line("first-pointer-now", first);
    line("same-storage", first == second ? "yes" : "no");
  } else if (what == "notepad-file" && argc > 2) {
    const std::string text = read_file(argv[2]);
    const std::string result = GUI_make_window_notepad("Long text", "", 400, text.c_str());
    line("length", std::to_string(result.size()));
    line("prefix", text.compare(0, result.size(), result) == 0 ? "yes" : "no");
  } else if (what == "null-texts") {
    line("popup", GUI_get_string("Null text", nullptr, 300, nullptr));
    line("notepad", GUI_make_window_notepad("Null notepad", nullptr, 400, nullptr));
    line("message", number(GUI_show_message(nullptr)));
  } else if (what == "no-display") {
    double r = 0;
    std::string t;
    double s = seconds([&] { r = GUI_show_message("no display"); });
    line("GUI_show_message", number(r) + " " + number(s));
    s = seconds([&] { r = GUI_show_question("no display?"); });
    line("GUI_show_question", number(r) + " " + number(s));
    s = seconds([&] { r = GUI_make_window("No display", "", 320, 240); });
    line("GUI_make_window", number(r) + " " + number(s));
    s = seconds([&] { t = GUI_make_window_notepad("No display", "", 400, "text"); });
    line("GUI_make_window_notepad", t + " " + number(s));
    s = seconds([&] { t = GUI_get_string("No display", "", 300, "text"); });
    line("GUI_get_string", t + " " + number(s));
    // Nothing stays registered by a failed call: the same again gives the same.
    t = GUI_get_string("No display", "", 300, "text");
    line("GUI_get_string-again", t);
  } else {
    std::fprintf(stderr, "gui_driver: unknown command %s\n", what.c_str());
    return 64;
  }
  return 0;
}
