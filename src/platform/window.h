// Windows, controls, fonts, painting, message boxes and the thread's message
// loop, in the shape of the Win32 user and GDI calls. On Windows each function
// is the system call of the same meaning; elsewhere a toolkit stands in for it
// and emulates the message loop (see posix/window_gtk.cpp).
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace qp {

// Opaque handles: a window (top-level or child control), a font, and the
// drawing context of one paint.
using Window = struct WindowTag*;
using Font = struct FontTag*;
using Paint = struct PaintTag*;

// The calling convention of window procedures (the callee removes its
// arguments on 32-bit Windows).
#if defined(_WIN32)
#define QP_WINDOW_PROC __stdcall
#else
#define QP_WINDOW_PROC
#endif
using WindowProc = intptr_t(QP_WINDOW_PROC*)(Window window, unsigned int message, uintptr_t wparam,
                                             intptr_t lparam);

// Message numbers the library handles or emulates.
constexpr unsigned int kMsgNull = 0x0000;
constexpr unsigned int kMsgDestroy = 0x0002;
constexpr unsigned int kMsgSetText = 0x000C;
constexpr unsigned int kMsgPaint = 0x000F;
constexpr unsigned int kMsgClose = 0x0010;
constexpr unsigned int kMsgQuit = 0x0012;
constexpr unsigned int kMsgSetFont = 0x0030;
constexpr unsigned int kMsgKeyDown = 0x0100;
constexpr unsigned int kMsgCommand = 0x0111;

// Window and control style bits, the values of the Win32 WS_, ES_ and BS_
// constants of the same meaning. Callers build their styles from these; the
// GTK implementation decodes them by the same names.
constexpr uint32_t kStyleChild = 0x40000000;
constexpr uint32_t kStyleVisible = 0x10000000;
constexpr uint32_t kStyleBorder = 0x00800000;
constexpr uint32_t kStyleVScroll = 0x00200000;
constexpr uint32_t kStyleHScroll = 0x00100000;
constexpr uint32_t kStyleCaption = 0x00C00000;  // a title bar (includes kStyleBorder)
constexpr uint32_t kStyleSystemMenu = 0x00080000;
constexpr uint32_t kStyleSizingFrame = 0x00040000;
constexpr uint32_t kStyleMinimizeBox = 0x00020000;
constexpr uint32_t kStyleMaximizeBox = 0x00010000;
// On a child control the bit of kStyleMaximizeBox means "reached by Tab".
constexpr uint32_t kStyleTabStop = 0x00010000;
// A captioned, resizable window with every caption button.
constexpr uint32_t kStyleOverlappedWindow =
    kStyleCaption | kStyleSystemMenu | kStyleSizingFrame | kStyleMinimizeBox | kStyleMaximizeBox;

// "edit" controls.
constexpr uint32_t kEditMultiline = 0x0004;
constexpr uint32_t kEditAutoVScroll = 0x0040;  // scrolls to follow the caret down
constexpr uint32_t kEditAutoHScroll = 0x0080;  // scrolls sideways instead of wrapping
constexpr uint32_t kEditWantReturn = 0x1000;   // Return makes a new line (multi-line)

// "button" controls: the low four bits are the button type.
constexpr uint32_t kButtonTypeMask = 0x000F;
constexpr uint32_t kButtonDefault = 0x0001;  // a push button that is the default

// Class style: the windows of the class receive double clicks.
constexpr unsigned int kClassDoubleClicks = 0x0008;

// System colour numbers (a class background is one of them plus one).
constexpr int kColourScrollBar = 0;
constexpr int kColourWindow = 5;
constexpr int kColourButtonFace = 15;

// Position that lets the window system place a top-level window.
constexpr int kDefaultPosition = static_cast<int>(0x80000000u);

// Show commands, virtual keys, message-box styles and answers.
constexpr int kShowHide = 0;
constexpr int kShowShow = 5;
constexpr int kKeyReturn = 0x0D;
// The low four bits of a message-box style choose its buttons.
constexpr unsigned int kBoxTypeMask = 0x0F;
constexpr unsigned int kBoxOk = 0;
constexpr unsigned int kBoxYesNo = 4;
constexpr int kAnswerOk = 1;
constexpr int kAnswerYes = 6;
constexpr int kAnswerNo = 7;

// Text layout flags of draw_text.
constexpr unsigned int kDrawCenter = 0x01;
constexpr unsigned int kDrawVCenter = 0x04;
constexpr unsigned int kDrawSingleLine = 0x20;

struct Message {
  Window window = nullptr;
  unsigned int message = kMsgNull;
  uintptr_t wparam = 0;
  intptr_t lparam = 0;
  uint32_t time = 0;
  int32_t x = 0, y = 0;
};

struct Rect {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
};

// Window classes: the procedure, class style and background (a system colour
// number plus one) shared by the windows made from the class; the default
// application icon and the arrow cursor. `instance` is a module handle.
bool register_window_class(const char* name, unsigned int class_style, WindowProc procedure, void* instance,
                           int background);
bool unregister_window_class(const char* name, void* instance);

// Makes a top-level window of a registered class (parent null) or a child
// control of the system classes "edit" and "button" (parent set, `id` its
// control id). Sizes are outer sizes; child positions are relative to the
// parent's client area. Null when the window cannot be made, which includes
// there being no display to show it on.
Window create_window(uint32_t ex_style, const char* class_name, const char* text, uint32_t style, int x, int y,
                     int width, int height, Window parent, int id, void* instance);
bool is_window(Window window);
// True when the window was visible before the call.
bool show_window(Window window, int command);
bool destroy_window(Window window);
// The caption of a top-level window, the contents of a control.
void set_window_text(Window window, const char* text);
// Gives a control a font; it draws with it until the window ends. The caller
// keeps the font and releases it after the window is gone.
void set_window_font(Window window, Font font, bool redraw);
// Copies the text of the child `id` of `parent` into `buffer`: at most
// capacity - 1 bytes and a terminating zero. The number of bytes copied; 0
// (and the empty text) when there is no such child.
uint32_t dialog_item_text(Window parent, int id, char* buffer, uint32_t capacity);

// Vertical dots per inch of the screen.
int screen_dpi_y();
// A font by face name; a negative height asks for that character height in
// pixels, weight 0 for the default weight.
Font create_font(int height, int weight, unsigned int italic, unsigned int underline, unsigned int strike_out,
                 const char* face);
void delete_font(Font font);

// Painting, between begin_paint and end_paint of a window being painted.
Paint begin_paint(Window window);
Rect client_rect(Window window);
// Colour behind drawn text, 0x00BBGGRR.
void set_background_colour(Paint paint, uint32_t colour);
// Makes `font` the font of the paint; returns the one it replaces.
Font select_font(Paint paint, Font font);
int draw_text(Paint paint, const char* text, int length, Rect* rect, unsigned int format);
void end_paint(Window window, Paint paint);

// The calling thread's messages. get_message waits for the next one: 0 for a
// quit message (its code in wparam), -1 on error, anything else otherwise.
int get_message(Message* message);
void translate_message(const Message& message);
intptr_t dispatch_message(const Message& message);
void post_quit_message(int code);
intptr_t default_window_procedure(Window window, unsigned int message, uintptr_t wparam, intptr_t lparam);

// The Return key's asynchronous state: bit 15 while it is down, bit 0 when it
// was pressed since the previous reading (which the reading clears).
int16_t return_key_state();

// A modal message box; its answer, or 0 when it cannot be shown.
int message_box(const char* text, const char* caption, unsigned int style);

// Copies at most capacity - 1 bytes of `text` (length n) and a terminating
// zero into `buffer`; the number of bytes copied. Never writes past capacity.
inline uint32_t copy_clipped(char* buffer, uint32_t capacity, const char* text, size_t n) {
  if (capacity == 0) return 0;
  const size_t keep = n < capacity - 1 ? n : capacity - 1;
  if (keep) std::memcpy(buffer, text, keep);
  buffer[keep] = '\0';
  return static_cast<uint32_t>(keep);
}

}  // namespace qp
