// The arithmetic of the windows: sizes from the host's numbers, child
// placement, font heights, and when the Return key starts to count.
#pragma once
#include <climits>
#include <cmath>
#include <cstdint>

namespace quillon {

// A host's number as a pixel count: truncated toward zero; values beyond the
// int range stop at its ends, and NaN counts as 0.
inline int to_pixels(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 2147483647.0) return INT_MAX;
  if (v <= -2147483648.0) return INT_MIN;
  return static_cast<int>(v);
}

struct Box {
  int x, y, width, height;
};

// A square window of outer size S with its edit box and OK button, placed
// in its client area.
struct SquareLayout {
  int size;
  Box edit;
  Box button;
};

// The OK button is the same in both square windows: along the bottom.
inline Box ok_button_box(double s) { return Box{5, to_pixels(s - 56), to_pixels((s - 10) - 5), 22}; }

// Notepad window: the edit fills the window above the button.
inline SquareLayout notepad_layout(double s) {
  return SquareLayout{to_pixels(s), Box{0, 0, to_pixels(s - 9), to_pixels(s - 56)}, ok_button_box(s)};
}

// String-input popup: a one-line edit 50 pixels below the middle, which
// leaves the middle of the window to the prompt.
inline SquareLayout popup_layout(double s) {
  return SquareLayout{to_pixels(s), Box{0, to_pixels(s / 2 + 50), to_pixels(s - 9), 20}, ok_button_box(s)};
}

// Font height for a point size at a screen resolution: negative, so that it
// asks for the character height in pixels. The product is a 32-bit signed
// one, divided by 72 with truncation.
inline int font_height(int points, int dpi) {
  const int32_t product = static_cast<int32_t>(static_cast<uint32_t>(points) * static_cast<uint32_t>(dpi));
  return -(product / 72);
}

// The Return key is ignored during the first five messages of a window's
// life, so that a key still held from before the window opened cannot end it.
class ReturnKeyGate {
 public:
  // Called once per message: false for the first five, true from the sixth.
  bool armed() {
    if (count_ <= 4) {
      ++count_;
      return false;
    }
    return true;
  }

 private:
  int count_ = 0;
};

}  // namespace quillon
