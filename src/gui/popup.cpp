// The string-input popup: a square window that shows its title as a prompt
// in the middle, a one-line edit below it and an OK button at the bottom.
#include "base/text_result.h"
#include "gui/geometry.h"
#include "gui/toolkit.h"

namespace quillon {

char* get_string(const char* title, const char* module, double size, const char* text) {
  static const char kClass[] = "get_str_popup";
  if (!title) title = "";
  void* instance = qp::module_handle(module);
  if (!register_class(kClass, instance)) return window_error_text();
  const SquareLayout layout = popup_layout(size);
  qp::Window main = qp::create_window(0, kClass, title, WS_NORESIZE, qp::kDefaultPosition, qp::kDefaultPosition,
                                      layout.size, layout.size, nullptr, 0, instance);
  if (!main) {
    qp::unregister_window_class(kClass, instance);
    return window_error_text();
  }
  qp::Window edit = qp::create_window(0, "edit", "", kPopupEditStyle, layout.edit.x, layout.edit.y,
                                      layout.edit.width, layout.edit.height, main, TEXT_EDIT_ID, instance);
  BCX_Set_Font(edit, "Arial", 10, 0, 0, 0, 0);
  // The title is the prompt of every paint until the popup ends; the call
  // does not return before then, so the host's text stays valid.
  drawMe = title;
  qp::Window ok = qp::create_window(0, "button", "OK", kOkButtonStyle, layout.button.x, layout.button.y,
                                    layout.button.width, layout.button.height, main, OK_BUTTON_ID, instance);
  BCX_Set_Font(ok, "Arial", 10, 0, 0, 0, 0);
  BCX_Set_Font(main, "Arial", 10, 0, 0, 0, 0);
  qp::set_window_text(edit, text ? text : "");
  qp::show_window(main, qp::kShowShow);
  run_modal_loop(main, true);
  qp::unregister_window_class(kClass, instance);
  drawMe = "";
  release_window_fonts();
  static TextResult result;
  return result.set(captured_text());
}

}  // namespace quillon
