// platform/window.h on GTK 3: windows behaving as the Win32 calls do.
//
// Windows are records behind small integer handles. A top-level window is a
// GtkWindow holding a GtkFixed, so children sit at exact pixel positions in
// its client area; an "edit" is a GtkEntry, or a GtkTextView in a scrolled
// window when multi-line; a "button" is a GtkButton.
//
// The message loop is emulated: get_message runs one iteration of GLib's main
// context on the calling thread per message. What the system would queue for
// the window procedure arrives as pseudo-messages: the close box gives
// WM_CLOSE, a button click WM_COMMAND, the Return key WM_KEYDOWN (the key is
// held back from the control until the message is dispatched, so a window
// that the key ends never sees it). Painting and WM_DESTROY reach the window
// procedure directly, as the system sends them.
//
// Differences that follow from the platform:
// - There are no module instances: a class is registered per process by
//   name; the instance given is kept and must match on unregistering.
// - The Return key's state is that of this process's windows (GTK has no
//   global keyboard state); a Return pressed in another application is not seen.
// - A window with a caption draws it itself (a header bar with the title and
//   the close box), so the outer size includes the caption as on Windows and
//   a window shows its title and close box with or without a window manager.
// - Texts are UTF-8; a text that is not valid UTF-8 is read as Windows-1252,
//   and an edit's text given so is read back in Windows-1252.
#include <gtk/gtk.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <deque>
#include <iterator>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/window.h"

namespace qp {
namespace {

// The colours of the system colour numbers a class background may name (the
// scroll-bar colour is the light grey that window classes here ask for).
uint32_t system_colour(int index) {
  switch (index) {
    case kColourScrollBar: return 0xC8C8C8;
    case kColourWindow: return 0xFFFFFF;
    case kColourButtonFace: return 0xC8D0D4;
    default: return 0xC8C8C8;
  }
}

bool toolkit_ready() {
  // Opens the display named by DISPLAY or WAYLAND_DISPLAY once; without one,
  // every window call fails at once instead of waiting for a window.
  static int state = 0;
  if (state == 0) state = gtk_init_check(nullptr, nullptr) ? 1 : -1;
  return state > 0;
}

std::string fold(const char* name) {
  std::string s = name ? name : "";
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// Windows-1252 bytes 0x80-0x9F as Unicode. The five bytes that the code page
// leaves unassigned stand for the control characters of the same number, as
// Windows maps them, so that every byte has a character and comes back as
// itself. Bytes below 0x80 and from 0xA0 on are the characters of the same
// number.
constexpr uint16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// A text for the toolkit, which takes UTF-8 only. A text that is not valid
// UTF-8 is read as Windows-1252, and *legacy says so (when asked).
std::string to_utf8(const char* text, bool* legacy = nullptr) {
  if (legacy) *legacy = false;
  if (!text) return {};
  if (g_utf8_validate(text, -1, nullptr)) return text;
  if (legacy) *legacy = true;
  std::string s;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
    const gunichar c = *p >= 0x80 && *p < 0xA0 ? kCp1252High[*p - 0x80] : *p;
    char bytes[6];
    s.append(bytes, static_cast<size_t>(g_unichar_to_utf8(c, bytes)));
  }
  return s;
}

// The Windows-1252 form of a UTF-8 text from the toolkit; false (and *out
// left alone) when some character has none.
bool to_cp1252(const std::string& text, std::string* out) {
  std::string s;
  s.reserve(text.size());
  for (const char* p = text.c_str(); *p; p = g_utf8_next_char(p)) {
    const gunichar c = g_utf8_get_char(p);
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
      s.push_back(static_cast<char>(c));
      continue;
    }
    const uint16_t* at = std::find(std::begin(kCp1252High), std::end(kCp1252High), c);
    if (at == std::end(kCp1252High)) return false;
    s.push_back(static_cast<char>(0x80 + (at - kCp1252High)));
  }
  *out = std::move(s);
  return true;
}

int clamp_size(int v) { return std::clamp(v, 0, 32767); }

void set_rgb(cairo_t* cr, uint32_t colour) {
  cairo_set_source_rgb(cr, (colour & 0xFF) / 255.0, ((colour >> 8) & 0xFF) / 255.0, ((colour >> 16) & 0xFF) / 255.0);
}

struct ClassRecord {
  WindowProc procedure;
  void* instance;
  int background;
};

enum class Kind { TopLevel, Entry, TextView, Button };

struct Record {
  Kind kind = Kind::TopLevel;
  GtkWidget* widget = nullptr;  // the GtkWindow, or what is placed in the parent
  GtkWidget* fixed = nullptr;   // top-level windows: where the children sit
  GtkWidget* caption = nullptr; // top-level windows with a caption: the header bar
  GtkWidget* text = nullptr;    // edits: the entry or the text view
  GtkCssProvider* font_css = nullptr;
  std::string class_name;       // top-level windows: their class, folded
  WindowProc procedure = nullptr;
  int background = 0;
  uintptr_t parent = 0;
  int id = 0;
  bool destroying = false;
  bool legacy_text = false;     // the text was given in Windows-1252 and goes back so
};

struct FontRecord {
  PangoFontDescription* description;
  GtkCssProvider* css;
  bool underline;
  bool strike_out;
};

struct PaintRecord {
  cairo_t* cr;
  uint32_t background;
  FontRecord* font;
};

std::map<std::string, ClassRecord> classes;
std::map<uintptr_t, Record> windows;
uintptr_t next_handle = 0x10000;

std::deque<Message> pending;
std::map<intptr_t, GdkEvent*> held_keys;  // Return presses not yet dispatched
intptr_t next_key = 0;
bool quit_posted = false;
int quit_code = 0;
bool return_down = false;
bool return_pressed = false;
cairo_t* painting = nullptr;  // the context of the draw under way

Window handle_of(uintptr_t h) { return reinterpret_cast<Window>(h); }
uintptr_t key_of(Window w) { return reinterpret_cast<uintptr_t>(w); }
gpointer data_of(uintptr_t h) { return reinterpret_cast<gpointer>(h); }
uintptr_t key_of(gpointer p) { return reinterpret_cast<uintptr_t>(p); }

Record* find(uintptr_t h) {
  auto it = windows.find(h);
  return it == windows.end() ? nullptr : &it->second;
}
Record* find(Window w) { return find(key_of(w)); }

void post(uintptr_t window, unsigned int message, uintptr_t wparam, intptr_t lparam) {
  Message m;
  m.window = handle_of(window);
  m.message = message;
  m.wparam = wparam;
  m.lparam = lparam;
  m.time = static_cast<uint32_t>(g_get_monotonic_time() / 1000);
  pending.push_back(m);
}

// The controls' look: white edit boxes with a one-pixel border, and controls
// no taller than the sizes they are given. Scoped by style classes, so a GTK
// host's own widgets are untouched.
void install_control_style() {
  static bool done = false;
  if (done) return;
  done = true;
  const char* css =
      ".quillon-edit, .quillon-edit text { background-color: #ffffff; color: #000000; }\n"
      "entry.quillon-edit { min-height: 0; padding: 0 2px; border: 1px solid #000000; border-radius: 0;"
      " box-shadow: none; background-image: none; }\n"
      "scrolledwindow.quillon-edit { border: 1px solid #000000; }\n"
      "textview.quillon-edit { padding: 0 2px; }\n"
      "button.quillon-button { min-height: 0; min-width: 0; padding: 0 2px; border-radius: 0; }\n"
      "window.quillon-window, window.quillon-window decoration { border-radius: 0; box-shadow: none;"
      " border: none; margin: 0; padding: 0; }\n"
      "headerbar.quillon-caption { min-height: 22px; padding: 0 1px 0 6px; margin: 0; border-radius: 0; }\n"
      "headerbar.quillon-caption .title { font-weight: bold; font-size: 9pt; margin: 0; padding: 0; }\n"
      "headerbar.quillon-caption button.titlebutton { min-height: 16px; min-width: 16px; padding: 0;"
      " margin: 0 1px; }\n";
  GtkCssProvider* provider = gtk_css_provider_new();
  gtk_css_provider_load_from_data(provider, css, -1, nullptr);
  gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(provider),
                                            GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  g_object_unref(provider);
}

void forget(uintptr_t h) {
  std::vector<uintptr_t> children;
  for (const auto& [key, r] : windows)
    if (r.parent == h) children.push_back(key);
  for (uintptr_t c : children) forget(c);
  Record* r = find(h);
  if (!r) return;
  if (r->font_css) g_object_unref(r->font_css);
  windows.erase(h);
}

// Ends a window: WM_DESTROY while it still exists, then it and its children
// are gone. `widget_alive` is false when the toolkit destroyed the widget.
bool end_window(uintptr_t h, bool widget_alive) {
  Record* r = find(h);
  if (!r || r->destroying) return false;
  r->destroying = true;
  if (r->procedure) r->procedure(handle_of(h), kMsgDestroy, 0, 0);
  r = find(h);
  if (!r) return true;
  GtkWidget* widget = r->widget;
  forget(h);
  if (widget_alive && widget) gtk_widget_destroy(widget);
  return true;
}

// --- signal handlers; user data is the window's handle.

gboolean on_delete(GtkWidget*, GdkEvent*, gpointer data) {
  post(key_of(data), kMsgClose, 0, 0);
  return TRUE;
}

bool is_return(guint keyval) {
  return keyval == GDK_KEY_Return || keyval == GDK_KEY_KP_Enter || keyval == GDK_KEY_ISO_Enter;
}

gboolean on_key_press(GtkWidget* widget, GdkEventKey* event, gpointer data) {
  if (!is_return(event->keyval)) return FALSE;
  return_down = true;
  return_pressed = true;
  // The key message goes to the control with the focus, or the window itself.
  uintptr_t target = key_of(data);
  GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(widget));
  for (const auto& [key, r] : windows)
    if (focus && r.parent == key_of(data) && (r.text == focus || r.widget == focus)) target = key;
  held_keys[++next_key] = gdk_event_copy(reinterpret_cast<GdkEvent*>(event));
  post(target, kMsgKeyDown, static_cast<uintptr_t>(kKeyReturn), next_key);
  return TRUE;
}

gboolean on_key_release(GtkWidget*, GdkEventKey* event, gpointer) {
  if (is_return(event->keyval)) return_down = false;
  return FALSE;
}

gboolean on_focus_out(GtkWidget*, GdkEvent*, gpointer) {
  return_down = false;  // a release that happens elsewhere is never seen
  return FALSE;
}

void on_clicked(GtkButton*, gpointer data) {
  const Record* r = find(key_of(data));
  if (!r) return;
  // WM_COMMAND: control id in the low word, BN_CLICKED (0) in the high word.
  post(r->parent, kMsgCommand, static_cast<uintptr_t>(r->id & 0xFFFF), static_cast<intptr_t>(key_of(data)));
}

gboolean on_draw(GtkWidget*, cairo_t* cr, gpointer data) {
  const Record* r = find(key_of(data));
  if (!r || !r->procedure) return FALSE;
  cairo_t* outer = painting;
  painting = cr;
  r->procedure(handle_of(key_of(data)), kMsgPaint, 0, 0);
  painting = outer;
  return FALSE;  // the children draw on top
}

void on_destroy(GtkWidget*, gpointer data) {
  // Destroyed by someone else than destroy_window: end the window all the same.
  end_window(key_of(data), false);
}

std::string text_of(const Record& r) {
  switch (r.kind) {
    case Kind::TopLevel: {
      const char* title = gtk_window_get_title(GTK_WINDOW(r.widget));
      return title ? title : "";
    }
    case Kind::Entry: return gtk_entry_get_text(GTK_ENTRY(r.text));
    case Kind::Button: return gtk_button_get_label(GTK_BUTTON(r.widget)) ? gtk_button_get_label(GTK_BUTTON(r.widget)) : "";
    case Kind::TextView: {
      GtkTextBuffer* b = gtk_text_view_get_buffer(GTK_TEXT_VIEW(r.text));
      GtkTextIter start, end;
      gtk_text_buffer_get_bounds(b, &start, &end);
      gchar* t = gtk_text_buffer_get_text(b, &start, &end, TRUE);
      std::string s = t ? t : "";
      g_free(t);
      return s;
    }
  }
  return {};
}

Window make_top_level(const ClassRecord& cls, const char* class_name, const char* text, uint32_t style, int x,
                      int y, int width, int height) {
  install_control_style();
  GtkWidget* top = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_style_context_add_class(gtk_widget_get_style_context(top), "quillon-window");
  GtkWidget* fixed = gtk_fixed_new();
  gtk_container_add(GTK_CONTAINER(top), fixed);
  const std::string title = to_utf8(text);
  gtk_window_set_title(GTK_WINDOW(top), title.c_str());
  GtkWidget* caption = nullptr;
  int caption_height = 0;
  if ((style & kStyleCaption) == kStyleCaption) {
    caption = gtk_header_bar_new();
    gtk_style_context_add_class(gtk_widget_get_style_context(caption), "quillon-caption");
    gtk_header_bar_set_title(GTK_HEADER_BAR(caption), title.c_str());
    gtk_header_bar_set_has_subtitle(GTK_HEADER_BAR(caption), FALSE);
    std::string buttons = ":";
    if (style & kStyleMinimizeBox) buttons += "minimize,";
    if (style & kStyleMaximizeBox) buttons += "maximize,";
    if (style & kStyleSystemMenu) buttons += "close";
    gtk_header_bar_set_decoration_layout(GTK_HEADER_BAR(caption), buttons.c_str());
    gtk_header_bar_set_show_close_button(GTK_HEADER_BAR(caption), TRUE);
    gtk_window_set_titlebar(GTK_WINDOW(top), caption);
    gtk_widget_show(caption);
    gtk_widget_get_preferred_height(caption, &caption_height, nullptr);
  }
  // The outer size includes the caption; the client area is what is left.
  const int w = std::max(1, clamp_size(width));
  const int h = std::max(1, clamp_size(height));
  if (style & kStyleSizingFrame) {
    gtk_window_set_default_size(GTK_WINDOW(top), w, std::max(1, h - caption_height));
  } else {
    gtk_widget_set_size_request(fixed, w, std::max(1, h - caption_height));
    gtk_window_set_resizable(GTK_WINDOW(top), FALSE);
  }
  if (x != kDefaultPosition && y != kDefaultPosition) gtk_window_move(GTK_WINDOW(top), x, y);
  gtk_widget_show(fixed);

  const uintptr_t h_key = next_handle;
  next_handle += 4;
  Record r;
  r.kind = Kind::TopLevel;
  r.widget = top;
  r.fixed = fixed;
  r.caption = caption;
  r.class_name = fold(class_name);
  r.procedure = cls.procedure;
  r.background = cls.background;
  windows[h_key] = r;

  gpointer data = data_of(h_key);
  g_signal_connect(top, "delete-event", G_CALLBACK(on_delete), data);
  g_signal_connect(top, "key-press-event", G_CALLBACK(on_key_press), data);
  g_signal_connect(top, "key-release-event", G_CALLBACK(on_key_release), data);
  g_signal_connect(top, "focus-out-event", G_CALLBACK(on_focus_out), data);
  g_signal_connect(top, "destroy", G_CALLBACK(on_destroy), data);
  g_signal_connect(fixed, "draw", G_CALLBACK(on_draw), data);
  Window window = handle_of(h_key);
  if (style & kStyleVisible) show_window(window, kShowShow);
  return window;
}

Window make_control(Record& parent, uintptr_t parent_key, const char* class_name, const char* text, uint32_t style,
                    int x, int y, int width, int height, int id) {
  install_control_style();
  const std::string cls = fold(class_name);
  Record r;
  r.parent = parent_key;
  r.id = id;
  if (cls == "edit") {
    if (style & kEditMultiline) {
      GtkWidget* scrolled = gtk_scrolled_window_new(nullptr, nullptr);
      GtkWidget* view = gtk_text_view_new();
      gtk_container_add(GTK_CONTAINER(scrolled), view);
      gtk_scrolled_window_set_overlay_scrolling(GTK_SCROLLED_WINDOW(scrolled), FALSE);
      gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled),
                                     (style & kStyleHScroll) ? GTK_POLICY_ALWAYS : GTK_POLICY_NEVER,
                                     (style & kStyleVScroll) ? GTK_POLICY_ALWAYS : GTK_POLICY_NEVER);
      // Lines run on sideways when the box scrolls horizontally; else they wrap.
      const bool sideways = (style & kStyleHScroll) || (style & kEditAutoHScroll);
      gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(view), sideways ? GTK_WRAP_NONE : GTK_WRAP_WORD_CHAR);
      gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(view)), to_utf8(text, &r.legacy_text).c_str(),
                               -1);
      gtk_style_context_add_class(gtk_widget_get_style_context(view), "quillon-edit");
      if (style & kStyleBorder) gtk_style_context_add_class(gtk_widget_get_style_context(scrolled), "quillon-edit");
      r.kind = Kind::TextView;
      r.widget = scrolled;
      r.text = view;
    } else {
      GtkWidget* entry = gtk_entry_new();
      gtk_entry_set_text(GTK_ENTRY(entry), to_utf8(text, &r.legacy_text).c_str());
      gtk_entry_set_has_frame(GTK_ENTRY(entry), (style & kStyleBorder) != 0);
      gtk_entry_set_width_chars(GTK_ENTRY(entry), 1);
      gtk_style_context_add_class(gtk_widget_get_style_context(entry), "quillon-edit");
      r.kind = Kind::Entry;
      r.widget = entry;
      r.text = entry;
    }
  } else if (cls == "button") {
    GtkWidget* button = gtk_button_new_with_label(to_utf8(text, &r.legacy_text).c_str());
    gtk_style_context_add_class(gtk_widget_get_style_context(button), "quillon-button");
    r.kind = Kind::Button;
    r.widget = button;
  } else {
    return nullptr;
  }
  gtk_fixed_put(GTK_FIXED(parent.fixed), r.widget, x, y);
  gtk_widget_set_size_request(r.widget, clamp_size(width), clamp_size(height));
  if (r.kind == Kind::Button && (style & kButtonTypeMask) == kButtonDefault) {
    gtk_widget_set_can_default(r.widget, TRUE);
    gtk_widget_grab_default(r.widget);
  }
  if (style & kStyleVisible) gtk_widget_show_all(r.widget);

  const uintptr_t key = next_handle;
  next_handle += 4;
  windows[key] = r;
  if (r.kind == Kind::Button) g_signal_connect(r.widget, "clicked", G_CALLBACK(on_clicked), data_of(key));
  return handle_of(key);
}

}  // namespace

bool register_window_class(const char* name, unsigned int, WindowProc procedure, void* instance, int background) {
  if (!name || !procedure) return false;
  const std::string key = fold(name);
  if (classes.count(key)) return false;
  classes[key] = ClassRecord{procedure, instance, background};
  return true;
}

bool unregister_window_class(const char* name, void* instance) {
  const std::string key = fold(name);
  auto it = classes.find(key);
  if (it == classes.end() || it->second.instance != instance) return false;
  for (const auto& entry : windows)
    if (entry.second.kind == Kind::TopLevel && entry.second.class_name == key) return false;
  classes.erase(it);
  return true;
}

Window create_window(uint32_t, const char* class_name, const char* text, uint32_t style, int x, int y, int width,
                     int height, Window parent, int id, void*) {
  if (!toolkit_ready()) return nullptr;
  if (!parent) {
    auto it = classes.find(fold(class_name));
    if (it == classes.end()) return nullptr;
    return make_top_level(it->second, class_name, text, style, x, y, width, height);
  }
  Record* p = find(parent);
  if (!p || p->kind != Kind::TopLevel || p->destroying) return nullptr;
  return make_control(*p, key_of(parent), class_name, text, style, x, y, width, height, id);
}

bool is_window(Window window) { return find(window) != nullptr; }

bool show_window(Window window, int command) {
  Record* r = find(window);
  if (!r) return false;
  const bool was = gtk_widget_get_visible(r->widget);
  if (command == kShowHide) {
    gtk_widget_hide(r->widget);
  } else if (!was) {
    if (r->kind == Kind::TopLevel) {
      gtk_widget_show(r->widget);
      gtk_window_present(GTK_WINDOW(r->widget));
      // The window itself takes the keyboard, not its first control: typing
      // reaches a box once the user has clicked into it.
      gtk_window_set_focus(GTK_WINDOW(r->widget), nullptr);
      for (const auto& entry : windows)
        if (entry.second.parent == key_of(window) && entry.second.kind == Kind::Entry)
          gtk_editable_select_region(GTK_EDITABLE(entry.second.text), 0, 0);
    } else {
      gtk_widget_show_all(r->widget);
    }
  }
  return was;
}

bool destroy_window(Window window) { return end_window(key_of(window), true); }

void set_window_text(Window window, const char* text) {
  Record* r = find(window);
  if (!r) return;
  const std::string t = to_utf8(text, &r->legacy_text);
  switch (r->kind) {
    case Kind::TopLevel:
      gtk_window_set_title(GTK_WINDOW(r->widget), t.c_str());
      if (r->caption) gtk_header_bar_set_title(GTK_HEADER_BAR(r->caption), t.c_str());
      break;
    case Kind::Entry: gtk_entry_set_text(GTK_ENTRY(r->text), t.c_str()); break;
    case Kind::Button: gtk_button_set_label(GTK_BUTTON(r->widget), t.c_str()); break;
    case Kind::TextView:
      gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(r->text)), t.c_str(),
                               static_cast<gint>(t.size()));
      break;
  }
}

void set_window_font(Window window, Font font, bool) {
  Record* r = find(window);
  auto* f = reinterpret_cast<FontRecord*>(font);
  // A window of a registered class draws its own text (with the paint's font).
  if (!r || !f || r->kind == Kind::TopLevel) return;
  GtkWidget* target = r->text ? r->text : r->widget;
  GtkStyleContext* context = gtk_widget_get_style_context(target);
  if (r->font_css) {
    gtk_style_context_remove_provider(context, GTK_STYLE_PROVIDER(r->font_css));
    g_object_unref(r->font_css);
  }
  r->font_css = GTK_CSS_PROVIDER(g_object_ref(f->css));
  gtk_style_context_add_provider(context, GTK_STYLE_PROVIDER(f->css), GTK_STYLE_PROVIDER_PRIORITY_APPLICATION + 1);
}

uint32_t dialog_item_text(Window parent, int id, char* buffer, uint32_t capacity) {
  if (capacity == 0) return 0;
  buffer[0] = '\0';
  for (const auto& entry : windows) {
    const Record& r = entry.second;
    if (r.parent != key_of(parent) || r.id != id || r.kind == Kind::TopLevel) continue;
    std::string text = text_of(r);
    // A text that came in as Windows-1252 goes back in it, edited or not, so
    // that an untouched text is returned as it was given. A character typed
    // in that the code page cannot hold keeps the whole text in UTF-8.
    const bool legacy = r.legacy_text && to_cp1252(text, &text);
    size_t n = text.size();
    if (n > capacity - 1) {
      n = capacity - 1;
      if (!legacy)
        while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;  // whole characters only
    }
    return copy_clipped(buffer, capacity, text.data(), n);
  }
  return 0;
}

int screen_dpi_y() {
  if (!toolkit_ready()) return 96;
  const double r = gdk_screen_get_resolution(gdk_screen_get_default());
  return r > 0 ? static_cast<int>(std::lround(r)) : 96;
}

Font create_font(int height, int weight, unsigned int italic, unsigned int underline, unsigned int strike_out,
                 const char* face) {
  std::string family;
  for (const char* p = face ? face : ""; *p; ++p)
    if (*p != '"' && *p != '\\' && *p != ';' && *p != '}' && *p != '{') family += *p;
  if (family.empty()) family = "Sans";
  // A negative height is the character height in pixels; a positive one the
  // cell height, of which the character takes about seven eighths.
  int px = height < 0 ? -height : height > 0 ? std::max(1, height * 7 / 8) : 13;
  px = std::min(px, 4096);
  const int css_weight = weight <= 0 ? 400 : std::clamp((weight + 50) / 100 * 100, 100, 900);

  auto* f = new FontRecord{};
  f->description = pango_font_description_new();
  pango_font_description_set_family(f->description, family.c_str());
  pango_font_description_set_absolute_size(f->description, px * PANGO_SCALE);
  pango_font_description_set_weight(f->description, static_cast<PangoWeight>(css_weight));
  pango_font_description_set_style(f->description, italic ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
  f->underline = underline != 0;
  f->strike_out = strike_out != 0;

  std::string decoration = "none";
  if (f->underline && f->strike_out) decoration = "underline line-through";
  else if (f->underline) decoration = "underline";
  else if (f->strike_out) decoration = "line-through";
  char css[512];
  std::snprintf(css, sizeof css,
                "* { font-family: \"%s\"; font-size: %dpx; font-weight: %d; font-style: %s;"
                " text-decoration-line: %s; }",
                family.c_str(), px, css_weight, italic ? "italic" : "normal", decoration.c_str());
  f->css = gtk_css_provider_new();
  gtk_css_provider_load_from_data(f->css, css, -1, nullptr);
  return reinterpret_cast<Font>(f);
}

void delete_font(Font font) {
  auto* f = reinterpret_cast<FontRecord*>(font);
  if (!f) return;
  pango_font_description_free(f->description);
  g_object_unref(f->css);  // controls that use it keep their own reference
  delete f;
}

Paint begin_paint(Window window) {
  auto* p = new PaintRecord{painting, 0xFFFFFF, nullptr};
  const Record* r = find(window);
  if (p->cr && r) {
    // The class background fills the client area first.
    const Rect rc = client_rect(window);
    set_rgb(p->cr, system_colour(r->background - 1));
    cairo_rectangle(p->cr, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top);
    cairo_fill(p->cr);
  }
  return reinterpret_cast<Paint>(p);
}

Rect client_rect(Window window) {
  const Record* r = find(window);
  if (!r) return Rect{};
  GtkWidget* area = r->fixed ? r->fixed : r->widget;
  Rect rc;
  rc.right = gtk_widget_get_allocated_width(area);
  rc.bottom = gtk_widget_get_allocated_height(area);
  return rc;
}

void set_background_colour(Paint paint, uint32_t colour) { reinterpret_cast<PaintRecord*>(paint)->background = colour; }

Font select_font(Paint paint, Font font) {
  auto* p = reinterpret_cast<PaintRecord*>(paint);
  FontRecord* previous = p->font;
  p->font = reinterpret_cast<FontRecord*>(font);
  return reinterpret_cast<Font>(previous);
}

int draw_text(Paint paint, const char* text, int length, Rect* rect, unsigned int format) {
  auto* p = reinterpret_cast<PaintRecord*>(paint);
  if (!p->cr || !text || !rect) return 0;
  const std::string raw = length < 0 ? std::string(text) : std::string(text, static_cast<size_t>(length));
  const std::string s = to_utf8(raw.c_str());
  cairo_t* cr = p->cr;
  PangoLayout* layout = pango_cairo_create_layout(cr);
  PangoFontDescription* fallback = nullptr;
  if (p->font) {
    pango_layout_set_font_description(layout, p->font->description);
    PangoAttrList* attrs = pango_attr_list_new();
    if (p->font->underline) pango_attr_list_insert(attrs, pango_attr_underline_new(PANGO_UNDERLINE_SINGLE));
    if (p->font->strike_out) pango_attr_list_insert(attrs, pango_attr_strikethrough_new(TRUE));
    pango_layout_set_attributes(layout, attrs);
    pango_attr_list_unref(attrs);
  } else {
    fallback = pango_font_description_from_string("Sans 10");
    pango_layout_set_font_description(layout, fallback);
  }
  if (format & kDrawSingleLine) pango_layout_set_single_paragraph_mode(layout, TRUE);
  pango_layout_set_text(layout, s.data(), static_cast<int>(s.size()));
  int tw = 0, th = 0;
  pango_layout_get_pixel_size(layout, &tw, &th);
  int x = rect->left, y = rect->top;
  if (format & kDrawCenter) x = rect->left + (rect->right - rect->left - tw) / 2;
  if ((format & kDrawSingleLine) && (format & kDrawVCenter)) y = rect->top + (rect->bottom - rect->top - th) / 2;
  cairo_save(cr);
  cairo_rectangle(cr, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top);
  cairo_clip(cr);
  if (tw > 0 && !s.empty()) {
    // The text's own box is filled with the background colour behind it.
    set_rgb(cr, p->background);
    cairo_rectangle(cr, x, y, tw, th);
    cairo_fill(cr);
  }
  cairo_set_source_rgb(cr, 0, 0, 0);
  cairo_move_to(cr, x, y);
  pango_cairo_show_layout(cr, layout);
  cairo_restore(cr);
  g_object_unref(layout);
  if (fallback) pango_font_description_free(fallback);
  return th;
}

void end_paint(Window, Paint paint) { delete reinterpret_cast<PaintRecord*>(paint); }

int get_message(Message* message) {
  for (;;) {
    if (!pending.empty()) {
      *message = pending.front();
      pending.pop_front();
      return 1;
    }
    if (quit_posted) {
      quit_posted = false;
      *message = Message{};
      message->message = kMsgQuit;
      message->wparam = static_cast<uintptr_t>(static_cast<uint32_t>(quit_code));
      return 0;
    }
    // One pass of the main context is one message; what it queued comes first.
    g_main_context_iteration(nullptr, TRUE);
    if (pending.empty()) {
      *message = Message{};
      message->time = static_cast<uint32_t>(g_get_monotonic_time() / 1000);
      return 1;
    }
  }
}

void translate_message(const Message&) {}

intptr_t dispatch_message(const Message& message) {
  GdkEvent* key = nullptr;
  if (message.message == kMsgKeyDown) {
    auto it = held_keys.find(message.lparam);
    if (it != held_keys.end()) {
      key = it->second;
      held_keys.erase(it);
    }
  }
  intptr_t result = 0;
  Record* r = find(message.window);
  if (r && key) {
    // The held-back key now reaches the control with the focus.
    Record* top = r->kind == Kind::TopLevel ? r : find(r->parent);
    if (top) gtk_window_propagate_key_event(GTK_WINDOW(top->widget), &key->key);
  } else if (r && r->procedure) {
    result = r->procedure(message.window, message.message, message.wparam, message.lparam);
  }
  if (key) gdk_event_free(key);
  return result;
}

void post_quit_message(int code) {
  quit_posted = true;
  quit_code = code;
}

intptr_t default_window_procedure(Window window, unsigned int message, uintptr_t, intptr_t) {
  if (message == kMsgClose) destroy_window(window);
  return 0;
}

int16_t return_key_state() {
  const int16_t state = static_cast<int16_t>((return_down ? 0x8000 : 0) | (return_pressed ? 1 : 0));
  return_pressed = false;
  return state;
}

int message_box(const char* text, const char* caption, unsigned int style) {
  if (!toolkit_ready()) return 0;
  const bool yes_no = (style & kBoxTypeMask) == kBoxYesNo;
  GtkWidget* box = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_OTHER,
                                          yes_no ? GTK_BUTTONS_YES_NO : GTK_BUTTONS_OK, "%s", to_utf8(text).c_str());
  g_object_ref_sink(box);
  gtk_window_set_title(GTK_WINDOW(box), to_utf8(caption).c_str());
  gtk_window_set_position(GTK_WINDOW(box), GTK_WIN_POS_CENTER);
  int answer = 0;
  for (;;) {
    const gint response = gtk_dialog_run(GTK_DIALOG(box));
    if (response == GTK_RESPONSE_OK) answer = kAnswerOk;
    else if (response == GTK_RESPONSE_YES) answer = kAnswerYes;
    else if (response == GTK_RESPONSE_NO) answer = kAnswerNo;
    else if (response == GTK_RESPONSE_DELETE_EVENT && yes_no) continue;  // a question must be answered
    else if (response == GTK_RESPONSE_DELETE_EVENT) answer = kAnswerOk;
    break;
  }
  gtk_widget_destroy(box);
  g_object_unref(box);
  // Let the box leave the screen before the caller goes on.
  while (gtk_events_pending()) gtk_main_iteration();
  return answer;
}

}  // namespace qp
