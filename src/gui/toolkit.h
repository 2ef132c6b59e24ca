// Native windows for the host: message and question boxes, a plain window, a
// notepad window and the string-input popup. Each is modal: it runs its own
// message loop on the calling thread and returns when its window is gone.
#pragma once
#include <cstdint>

#include "platform/module.h"
#include "platform/window.h"

namespace quillon {

// Receives the edit text of the notepad window and the popup; what those
// return. Keeps its contents between calls.
constexpr uint32_t kClipReturnSize = 4000000;
extern char clipReturn[kClipReturnSize];
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

double showMessage(const char* text);
double showQuestion(const char* text);

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
// With `capture`, the edit's text is copied into clipReturn before each
// message while `main` is alive.
uint32_t run_modal_loop(qp::Window main, bool capture);

double make_window(const char* title, const char* module, double width, double height);
char* make_window_notepad(const char* title, const char* module, double size, const char* text);
char* get_string(const char* title, const char* module, double size, const char* text);

}  // namespace quillon
