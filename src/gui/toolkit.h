// Native windows for the host: a plain window, a notepad window and the
// string-input popup (the message and question boxes are in host/). Each is
// modal: it runs its own message loop on the calling thread and returns when
// its window is gone.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/module.h"
#include "platform/window.h"

namespace quillon {

// The notepad window and the popup return their edit's text up to
// kWindowTextCapacity - 1 bytes (3,999,999); a longer text is cut there (at a
// whole character where the text is UTF-8).
constexpr uint32_t kWindowTextCapacity = 4000000;

// Reads a text into `out`, sized to the text and cut as above. `read(buffer,
// capacity)` copies at most capacity - 1 bytes and a terminating zero and
// returns the count, as qp::dialog_item_text does; it may stop up to three
// bytes short of capacity - 1 to keep whole characters. So a copy that ends
// more than four bytes short of its capacity is the whole text, and any
// other is read again with more room, up to kWindowTextCapacity.
template <typename Read>
void read_window_text(std::string& out, Read read) {
  // Room for the text as it stood, a quarter more and some: a text that grew
  // by a few characters since is read once.
  size_t room = out.size() + out.size() / 4 + 1024;
  uint32_t capacity = room < kWindowTextCapacity ? static_cast<uint32_t>(room) : kWindowTextCapacity;
  for (;;) {
    out.resize(capacity);  // the terminator goes into out[capacity - 1] at most
    const uint32_t n = read(&out[0], capacity);
    if (n + 4 < capacity || capacity == kWindowTextCapacity) {
      out.resize(n);
      return;
    }
    capacity = capacity < kWindowTextCapacity / 2 ? 2 * capacity : kWindowTextCapacity;
  }
}

// The edit text the modal loop read last: what the notepad window and the
// popup return. Both share it and it keeps its contents between calls, so a
// window that ends before its edit was read returns the text read before.
const std::string& captured_text();

// The prompt that every paint of the library's windows draws.
extern const char* drawMe;

// Child ids in the notepad window and the popup.
constexpr int TEXT_EDIT_ID = 10000;
constexpr int OK_BUTTON_ID = 1353;

// Window styles of the square windows: caption, system menu, minimise box and
// (popup only) maximise box; neither can be resized.
constexpr uint32_t WS_NORESIZE_NOMAXIMIZE = qp::kStyleCaption | qp::kStyleSystemMenu | qp::kStyleMinimizeBox;
constexpr uint32_t WS_NORESIZE = WS_NORESIZE_NOMAXIMIZE | qp::kStyleMaximizeBox;

// The children of the notepad window and the popup. The notepad's edit is
// multi-line with a border and both scroll bars; the popup's is one line with
// a border that scrolls sideways as the text grows. Both take Return as text
// (the modal loop ends the window on Return itself). The OK button is the
// default push button and a tab stop.
constexpr uint32_t kVisibleChild = qp::kStyleChild | qp::kStyleVisible;
constexpr uint32_t kNotepadEditStyle = kVisibleChild | qp::kStyleBorder | qp::kStyleVScroll | qp::kStyleHScroll |
                                       qp::kEditMultiline | qp::kEditAutoVScroll | qp::kEditAutoHScroll |
                                       qp::kEditWantReturn;
constexpr uint32_t kPopupEditStyle = kVisibleChild | qp::kStyleBorder | qp::kEditAutoHScroll | qp::kEditWantReturn;
constexpr uint32_t kOkButtonStyle = kVisibleChild | qp::kStyleTabStop | qp::kButtonDefault;

// The text the window exports return when they cannot show their window.
char* window_error_text();

intptr_t QP_WINDOW_PROC WindowProcedure(qp::Window window, unsigned int message, uintptr_t wparam, intptr_t lparam);

// Makes a font and gives it to the window. The font stays with the window
// and is released once the window is gone (release_window_fonts).
void BCX_Set_Font(qp::Window window, const char* face, int points, int weight, int italic, int underline,
                  int strike_out);
// Makes a font at the screen's resolution; the window is not used.
qp::Font BCX_Create_Font(qp::Window window, const char* face, int points, int weight, int italic, int underline,
                         int strike_out);
// Releases the fonts of windows that no longer exist.
void release_window_fonts();

// Registers one of the library's window classes under the module's instance.
bool register_class(const char* name, void* instance);

// The loop every window export runs until a quit message; returns its code.
// With `capture`, the edit's text is read into captured_text() before each
// message while `main` is alive.
uint32_t run_modal_loop(qp::Window main, bool capture);

double make_window(const char* title, const char* module, double width, double height);
char* make_window_notepad(const char* title, const char* module, double size, const char* text);
char* get_string(const char* title, const char* module, double size, const char* text);

}  // namespace quillon
