// platform/window.h on Windows: each function is the user or GDI call of the same meaning.
#include "platform/window.h"

#include <windows.h>

namespace qp {

// The numbers of window.h are the system's own and pass through unchanged;
// the build stops here if one of them ever differs.
static_assert(kMsgNull == WM_NULL && kMsgDestroy == WM_DESTROY && kMsgSetText == WM_SETTEXT &&
              kMsgPaint == WM_PAINT && kMsgClose == WM_CLOSE && kMsgQuit == WM_QUIT && kMsgSetFont == WM_SETFONT &&
              kMsgKeyDown == WM_KEYDOWN && kMsgCommand == WM_COMMAND);
static_assert(kStyleChild == WS_CHILD && kStyleVisible == WS_VISIBLE && kStyleBorder == WS_BORDER &&
              kStyleVScroll == WS_VSCROLL && kStyleHScroll == WS_HSCROLL && kStyleCaption == WS_CAPTION &&
              kStyleSystemMenu == WS_SYSMENU && kStyleSizingFrame == WS_THICKFRAME &&
              kStyleMinimizeBox == WS_MINIMIZEBOX && kStyleMaximizeBox == WS_MAXIMIZEBOX &&
              kStyleTabStop == WS_TABSTOP && kStyleOverlappedWindow == WS_OVERLAPPEDWINDOW);
static_assert(kEditMultiline == ES_MULTILINE && kEditAutoVScroll == ES_AUTOVSCROLL &&
              kEditAutoHScroll == ES_AUTOHSCROLL && kEditWantReturn == ES_WANTRETURN);
static_assert(kButtonTypeMask == BS_TYPEMASK && kButtonDefault == BS_DEFPUSHBUTTON);
static_assert(kClassDoubleClicks == CS_DBLCLKS && kColourScrollBar == COLOR_SCROLLBAR &&
              kColourWindow == COLOR_WINDOW && kColourButtonFace == COLOR_BTNFACE);
static_assert(kDefaultPosition == static_cast<int>(CW_USEDEFAULT) && kShowHide == SW_HIDE && kShowShow == SW_SHOW &&
              kKeyReturn == VK_RETURN);
static_assert(kBoxTypeMask == MB_TYPEMASK && kBoxOk == MB_OK && kBoxYesNo == MB_YESNO && kAnswerOk == IDOK &&
              kAnswerYes == IDYES && kAnswerNo == IDNO);
static_assert(kDrawCenter == DT_CENTER && kDrawVCenter == DT_VCENTER && kDrawSingleLine == DT_SINGLELINE);

namespace {

HWND hwnd(Window w) { return reinterpret_cast<HWND>(w); }
HFONT hfont(Font f) { return reinterpret_cast<HFONT>(f); }

struct PaintRecord {
  HWND window;
  HDC dc;
  PAINTSTRUCT ps;
};

PaintRecord* record(Paint p) { return reinterpret_cast<PaintRecord*>(p); }

MSG to_msg(const Message& m) {
  MSG msg{};
  msg.hwnd = hwnd(m.window);
  msg.message = m.message;
  msg.wParam = static_cast<WPARAM>(m.wparam);
  msg.lParam = static_cast<LPARAM>(m.lparam);
  msg.time = m.time;
  msg.pt.x = m.x;
  msg.pt.y = m.y;
  return msg;
}

}  // namespace

bool register_window_class(const char* name, unsigned int class_style, WindowProc procedure, void* instance,
                           int background) {
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof wc;
  wc.style = class_style;
  // Same arguments and convention as WNDPROC; the cast only renames the types.
  wc.lpfnWndProc = reinterpret_cast<WNDPROC>(reinterpret_cast<void (*)()>(procedure));
  wc.cbClsExtra = 0;
  wc.cbWndExtra = 0;
  wc.hInstance = static_cast<HINSTANCE>(instance);
  wc.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
  wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(background));
  wc.lpszMenuName = nullptr;
  wc.lpszClassName = name;
  wc.hIconSm = LoadIconA(nullptr, IDI_APPLICATION);
  return RegisterClassExA(&wc) != 0;
}

bool unregister_window_class(const char* name, void* instance) {
  return UnregisterClassA(name, static_cast<HINSTANCE>(instance)) != 0;
}

Window create_window(uint32_t ex_style, const char* class_name, const char* text, uint32_t style, int x, int y,
                     int width, int height, Window parent, int id, void* instance) {
  HMENU menu = reinterpret_cast<HMENU>(static_cast<INT_PTR>(id));
  return reinterpret_cast<Window>(CreateWindowExA(ex_style, class_name, text, style, x, y, width, height,
                                                  hwnd(parent), menu, static_cast<HINSTANCE>(instance), nullptr));
}

bool is_window(Window window) { return window && IsWindow(hwnd(window)); }

bool show_window(Window window, int command) { return ShowWindow(hwnd(window), command) != 0; }

bool destroy_window(Window window) { return DestroyWindow(hwnd(window)) != 0; }

void set_window_text(Window window, const char* text) {
  SendMessageA(hwnd(window), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}

void set_window_font(Window window, Font font, bool redraw) {
  SendMessageA(hwnd(window), WM_SETFONT, reinterpret_cast<WPARAM>(font), redraw ? 1 : 0);
}

uint32_t dialog_item_text(Window parent, int id, char* buffer, uint32_t capacity) {
  return GetDlgItemTextA(hwnd(parent), id, buffer, static_cast<int>(capacity));
}

int screen_dpi_y() {
  HDC dc = GetDC(nullptr);
  int dpi = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(nullptr, dc);
  return dpi;
}

Font create_font(int height, int weight, unsigned int italic, unsigned int underline, unsigned int strike_out,
                 const char* face) {
  return reinterpret_cast<Font>(CreateFontA(height, 0, 0, 0, weight, italic, underline, strike_out, ANSI_CHARSET,
                                            OUT_TT_PRECIS, 0, 0, 0, face));
}

void delete_font(Font font) {
  if (font) DeleteObject(hfont(font));
}

Paint begin_paint(Window window) {
  auto* p = new PaintRecord{};
  p->window = hwnd(window);
  p->dc = BeginPaint(p->window, &p->ps);
  return reinterpret_cast<Paint>(p);
}

Rect client_rect(Window window) {
  RECT rc{};
  GetClientRect(hwnd(window), &rc);
  return Rect{rc.left, rc.top, rc.right, rc.bottom};
}

void set_background_colour(Paint paint, uint32_t colour) { SetBkColor(record(paint)->dc, colour); }

Font select_font(Paint paint, Font font) {
  return reinterpret_cast<Font>(SelectObject(record(paint)->dc, hfont(font)));
}

int draw_text(Paint paint, const char* text, int length, Rect* rect, unsigned int format) {
  RECT rc{rect->left, rect->top, rect->right, rect->bottom};
  int h = DrawTextA(record(paint)->dc, text, length, &rc, format);
  *rect = Rect{rc.left, rc.top, rc.right, rc.bottom};
  return h;
}

void end_paint(Window window, Paint paint) {
  PaintRecord* p = record(paint);
  EndPaint(hwnd(window), &p->ps);
  delete p;
}

int get_message(Message* message) {
  MSG msg{};
  BOOL r = GetMessageA(&msg, nullptr, 0, 0);
  message->window = reinterpret_cast<Window>(msg.hwnd);
  message->message = msg.message;
  message->wparam = static_cast<uintptr_t>(msg.wParam);
  message->lparam = static_cast<intptr_t>(msg.lParam);
  message->time = msg.time;
  message->x = msg.pt.x;
  message->y = msg.pt.y;
  return r;
}

void translate_message(const Message& message) {
  MSG msg = to_msg(message);
  TranslateMessage(&msg);
}

intptr_t dispatch_message(const Message& message) {
  MSG msg = to_msg(message);
  return DispatchMessageA(&msg);
}

void post_quit_message(int code) { PostQuitMessage(code); }

intptr_t default_window_procedure(Window window, unsigned int message, uintptr_t wparam, intptr_t lparam) {
  return DefWindowProcA(hwnd(window), message, static_cast<WPARAM>(wparam), static_cast<LPARAM>(lparam));
}

int16_t return_key_state() { return GetAsyncKeyState(VK_RETURN); }

int message_box(const char* text, const char* caption, unsigned int style) {
  return MessageBoxA(nullptr, text, caption, style);
}

}  // namespace qp
