// The window code's arithmetic and rules, which need no display: child
// placement, font heights, the Return-key gate, cutting of long texts, and
// how the modal loop ends on a quit message.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "gui/geometry.h"
#include "gui/toolkit.h"
#include "platform/window.h"

using quillon::Box;

namespace {

void expect_box(const Box& b, int x, int y, int w, int h) {
  EXPECT_EQ(b.x, x);
  EXPECT_EQ(b.y, y);
  EXPECT_EQ(b.width, w);
  EXPECT_EQ(b.height, h);
}

}  // namespace

TEST(GuiGeometry, NotepadAndPopupPlaceTheirChildren) {
  const quillon::SquareLayout notepad = quillon::notepad_layout(400);
  EXPECT_EQ(notepad.size, 400);
  expect_box(notepad.edit, 0, 0, 391, 344);
  expect_box(notepad.button, 5, 344, 385, 22);

  const quillon::SquareLayout popup = quillon::popup_layout(300);
  EXPECT_EQ(popup.size, 300);
  expect_box(popup.edit, 0, 200, 291, 20);
  expect_box(popup.button, 5, 244, 285, 22);

  // Fractions are cut after the arithmetic, not before.
  const quillon::SquareLayout odd = quillon::popup_layout(301.5);
  EXPECT_EQ(odd.size, 301);
  expect_box(odd.edit, 0, 200, 292, 20);
  expect_box(odd.button, 5, 245, 286, 22);

  // A window too small for its edit gives the size as computed.
  expect_box(quillon::notepad_layout(50).edit, 0, 0, 41, -6);
}

TEST(GuiGeometry, HostNumbersBecomePixelsSafely) {
  EXPECT_EQ(quillon::to_pixels(320.99), 320);
  EXPECT_EQ(quillon::to_pixels(-1.7), -1);
  EXPECT_EQ(quillon::to_pixels(std::nan("")), 0);
  EXPECT_EQ(quillon::to_pixels(1e300), INT_MAX);
  EXPECT_EQ(quillon::to_pixels(-1e300), INT_MIN);
  EXPECT_EQ(quillon::notepad_layout(1e300).edit.height, INT_MAX);
}

TEST(GuiFonts, HeightFollowsTheScreenResolution) {
  EXPECT_EQ(quillon::font_height(10, 96), -13);
  EXPECT_EQ(quillon::font_height(10, 120), -16);
  EXPECT_EQ(quillon::font_height(10, 144), -20);
  EXPECT_EQ(quillon::font_height(12, 96), -16);
  EXPECT_EQ(quillon::font_height(0, 96), 0);
  EXPECT_EQ(quillon::font_height(7, 72), -7);
}

TEST(GuiReturnKey, IgnoredForFiveMessagesThenCounts) {
  quillon::ReturnKeyGate gate;
  std::vector<bool> seen;
  for (int i = 0; i < 8; ++i) seen.push_back(gate.armed());
  EXPECT_EQ(seen, (std::vector<bool>{false, false, false, false, false, true, true, true}));
}

TEST(GuiText, LongTextsAreCutNeverOverrun) {
  std::vector<char> buffer(8, 'x');
  EXPECT_EQ(qp::copy_clipped(buffer.data(), 5, "abcdefgh", 8), 4u);
  EXPECT_STREQ(buffer.data(), "abcd");
  EXPECT_EQ(buffer[5], 'x');  // nothing written past the capacity

  EXPECT_EQ(qp::copy_clipped(buffer.data(), 5, "abcd", 4), 4u);
  EXPECT_STREQ(buffer.data(), "abcd");
  EXPECT_EQ(qp::copy_clipped(buffer.data(), 5, "", 0), 0u);
  EXPECT_STREQ(buffer.data(), "");
  buffer[0] = 'y';
  EXPECT_EQ(qp::copy_clipped(buffer.data(), 0, "abc", 3), 0u);
  EXPECT_EQ(buffer[0], 'y');

  // The result buffer holds 3,999,999 characters and the terminator.
  const std::string big(quillon::kClipReturnSize + 10, 'q');
  EXPECT_EQ(qp::copy_clipped(quillon::clipReturn, quillon::kClipReturnSize, big.data(), big.size()),
            quillon::kClipReturnSize - 1);
  EXPECT_EQ(std::strlen(quillon::clipReturn), quillon::kClipReturnSize - 1);
}

TEST(GuiLoop, EndsOnAQuitMessageWithItsCode) {
  // A quit posted by someone else ends the loop at once with its code, and
  // the window procedure posts code 0 when its window is destroyed.
  qp::post_quit_message(7);
  EXPECT_EQ(quillon::run_modal_loop(nullptr, false), 7u);
  EXPECT_EQ(quillon::WindowProcedure(nullptr, qp::kMsgDestroy, 0, 0), 0);
  EXPECT_EQ(quillon::run_modal_loop(nullptr, false), 0u);
}

TEST(GuiText, FailureTextIsAlwaysError) {
  char* e = quillon::window_error_text();
  e[0] = 'X';
  EXPECT_STREQ(quillon::window_error_text(), "error");
  EXPECT_STREQ(quillon::drawMe, "");
}
