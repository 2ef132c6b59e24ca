// Tour step: the native windows. Each one waits for the person at the screen.
#include "demo.h"

namespace host {
namespace {

DemoRegistration reg(60, "windows", [](DemoContext& c) {
  if (!c.display) {
    show("windows", "skipped: there is no display to show them on");
    return;
  }
  const double yes =
      c.lib.number("GUI_show_question", {txt("libquillon demo: show the string-input popup and the notepad window?")});
  show("GUI_show_question", format_number(yes) + (yes == 1 ? " (Yes)" : " (No)"));
  if (yes != 1) return;

  const std::string name =
      c.lib.text("GUI_get_string", {txt("What is your name?"), txt(""), num(300), txt("quillon")});
  show("GUI_get_string", "\"" + name + "\"");

  std::string notes = c.lib.text("GUI_make_window_notepad",
                                 {txt("Notes"), txt(""), num(400), txt("Edit this text,\r\nthen press OK.")});
  for (char& ch : notes)
    if (ch == '\r') ch = '~';
  show("GUI_make_window_notepad (CR shown as ~)", notes);

  c.lib.number("GUI_show_message", {txt("Thank you, " + name + ".")});
  show("GUI_show_message", "shown");
});

}  // namespace
}  // namespace host
