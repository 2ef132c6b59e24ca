// The window exports: boxes, the plain and notepad windows, the popup.
#include "gui/toolkit.h"
#include "exports/export.h"
#include "base/message_box.h"

QUILLON_ENTRY double QUILLON_CALL GUI_show_message(const char* text) {
  return quillon::guarded(1.0, [&] { return quillon::showMessage(text ? text : ""); });
}

QUILLON_ENTRY double QUILLON_CALL GUI_show_question(const char* text) {
  return quillon::guarded(0.0, [&] { return quillon::showQuestion(text ? text : ""); });
}

QUILLON_ENTRY double QUILLON_CALL GUI_make_window(const char* title, const char* module, double width,
                                                  double height) {
  return quillon::guarded(0.0, [&] { return quillon::make_window(title, module, width, height); });
}

QUILLON_ENTRY char* QUILLON_CALL GUI_make_window_notepad(const char* title, const char* module, double size,
                                                         const char* text) {
  return quillon::guarded<char*>(quillon::window_error_text(),
                                 [&] { return quillon::make_window_notepad(title, module, size, text); });
}

QUILLON_ENTRY char* QUILLON_CALL GUI_get_string(const char* title, const char* module, double size,
                                                const char* text) {
  return quillon::guarded<char*>(quillon::window_error_text(),
                                 [&] { return quillon::get_string(title, module, size, text); });
}
