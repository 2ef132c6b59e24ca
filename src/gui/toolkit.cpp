// The window toolkit: the shared window procedure, fonts, the modal loop,
// and the plain and notepad windows.
#include "gui/toolkit.h"

#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "base/text_result.h"
#include "gui/geometry.h"

namespace quillon {

const char* drawMe = "";

namespace {

std::string latest_edit_text;

constexpr int kScrollBarBrush = qp::kColourScrollBar + 1;  // a brush value is the colour number plus one
constexpr uint32_t kPromptBackground = 0xCED3D6;  // RGB(214, 211, 206)
constexpr unsigned int kPromptFormat = qp::kDrawCenter | qp::kDrawVCenter | qp::kDrawSingleLine;

// Fonts given to windows, kept until their window is gone.
std::vector<std::pair<qp::Window, qp::Font>> window_fonts;

}  // namespace

const std::string& captured_text() { return latest_edit_text; }

char* window_error_text() {
  static char error[6];
  std::memcpy(error, "error", 6);  // fresh each time, whatever a host did to it
  return error;
}

qp::Font BCX_Create_Font(qp::Window, const char* face, int points, int weight, int italic, int underline,
                         int strike_out) {
  const int height = font_height(points, qp::screen_dpi_y());
  return qp::create_font(height, weight, static_cast<unsigned>(italic), static_cast<unsigned>(underline),
                         static_cast<unsigned>(strike_out), face);
}

void BCX_Set_Font(qp::Window window, const char* face, int points, int weight, int italic, int underline,
                  int strike_out) {
  qp::Font font = BCX_Create_Font(window, face, points, weight, italic, underline, strike_out);
  if (!font) return;
  window_fonts.emplace_back(window, font);
  qp::set_window_font(window, font, true);
}

void release_window_fonts() {
  // A window that a foreign quit message left alive keeps its fonts; they
  // go with a later call once it is gone.
  std::vector<std::pair<qp::Window, qp::Font>> kept;
  for (const auto& [window, font] : window_fonts) {
    if (qp::is_window(window)) kept.emplace_back(window, font);
    else qp::delete_font(font);
  }
  window_fonts.swap(kept);
}

intptr_t QP_WINDOW_PROC WindowProcedure(qp::Window window, unsigned int message, uintptr_t wparam, intptr_t lparam) {
  switch (message) {
    case qp::kMsgPaint: {
      // The prompt, one line centred in the client area.
      qp::Font font = BCX_Create_Font(window, "Arial", 10, 0, 0, 0, 0);
      qp::Paint paint = qp::begin_paint(window);
      qp::Rect rc = qp::client_rect(window);
      qp::set_background_colour(paint, kPromptBackground);
      qp::Font previous = qp::select_font(paint, font);
      qp::draw_text(paint, drawMe ? drawMe : "", -1, &rc, kPromptFormat);
      qp::select_font(paint, previous);
      qp::end_paint(window, paint);
      qp::delete_font(font);
      return 0;
    }
    case qp::kMsgDestroy:
      qp::post_quit_message(0);
      return 0;
    case qp::kMsgCommand:
      // BN_CLICKED (notification 0) from the OK button ends the window.
      if ((wparam >> 16 & 0xFFFF) == 0 && (wparam & 0xFFFF) == static_cast<uintptr_t>(OK_BUTTON_ID))
        qp::destroy_window(window);
      return qp::default_window_procedure(window, message, wparam, lparam);
    default:
      return qp::default_window_procedure(window, message, wparam, lparam);
  }
}

bool register_class(const char* name, void* instance) {
  return qp::register_window_class(name, qp::kClassDoubleClicks, WindowProcedure, instance, kScrollBarBrush);
}

uint32_t run_modal_loop(qp::Window main, bool capture) {
  ReturnKeyGate gate;
  qp::Message msg;
  while (qp::get_message(&msg) != 0) {
    // While the window lives (it was visible before this show), its edit's
    // text is the latest answer.
    if (capture && qp::show_window(main, qp::kShowShow)) {
      try {
        read_window_text(latest_edit_text, [main](char* buffer, uint32_t capacity) {
          return qp::dialog_item_text(main, TEXT_EDIT_ID, buffer, capacity);
        });
      } catch (const std::bad_alloc&) {
        // No room for a longer text: keep what the last copy holds, up to its
        // terminator, and let the window end as usual (and its class be
        // unregistered) rather than leave it behind.
        latest_edit_text.resize(std::strlen(latest_edit_text.c_str()));
      }
    }
    // The first reading clears the key's pressed-since mark, so the second
    // tells whether it is down now.
    qp::return_key_state();
    if (gate.armed() && qp::return_key_state() != 0) qp::destroy_window(main);
    qp::translate_message(msg);
    qp::dispatch_message(msg);
  }
  return static_cast<uint32_t>(msg.wparam);
}

double make_window(const char* title, const char* module, double width, double height) {
  static const char kClass[] = "mainwindow";
  void* instance = qp::module_handle(module);
  if (!register_class(kClass, instance)) return 0.0;
  qp::Window main = qp::create_window(0, kClass, title ? title : "", qp::kStyleOverlappedWindow, qp::kDefaultPosition,
                                      qp::kDefaultPosition, to_pixels(width), to_pixels(height), nullptr, 0, instance);
  if (!main) {
    // No window means no quit message will ever come: end at once.
    qp::unregister_window_class(kClass, instance);
    return 0.0;
  }
  qp::show_window(main, qp::kShowShow);
  const uint32_t code = run_modal_loop(main, false);
  // Unregistered, so that the next call can register the class again.
  qp::unregister_window_class(kClass, instance);
  return static_cast<double>(code);
}

char* make_window_notepad(const char* title, const char* module, double size, const char* text) {
  static const char kClass[] = "mainwindow_notepad";
  void* instance = qp::module_handle(module);
  if (!register_class(kClass, instance)) return window_error_text();
  const SquareLayout layout = notepad_layout(size);
  qp::Window main = qp::create_window(0, kClass, title ? title : "", WS_NORESIZE_NOMAXIMIZE, qp::kDefaultPosition,
                                      qp::kDefaultPosition, layout.size, layout.size, nullptr, 0, instance);
  if (!main) {
    qp::unregister_window_class(kClass, instance);
    return window_error_text();
  }
  qp::Window edit = qp::create_window(0, "edit", "", kNotepadEditStyle, layout.edit.x, layout.edit.y,
                                      layout.edit.width, layout.edit.height, main, TEXT_EDIT_ID, instance);
  BCX_Set_Font(edit, "Arial", 10, 0, 0, 0, 0);
  qp::Window ok = qp::create_window(0, "button", "OK", kOkButtonStyle, layout.button.x, layout.button.y,
                                    layout.button.width, layout.button.height, main, OK_BUTTON_ID, instance);
  BCX_Set_Font(ok, "Arial", 10, 0, 0, 0, 0);
  qp::set_window_text(edit, text ? text : "");
  qp::show_window(main, qp::kShowShow);
  run_modal_loop(main, true);
  qp::unregister_window_class(kClass, instance);
  release_window_fonts();
  static TextResult result;
  return result.set(latest_edit_text);
}

}  // namespace quillon
