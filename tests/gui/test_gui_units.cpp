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

  // A buffer of the windows' capacity holds 3,999,999 characters and the
  // terminator.
  std::vector<char> full(quillon::kWindowTextCapacity, 'x');
  const std::string big(quillon::kWindowTextCapacity + 10, 'q');
  EXPECT_EQ(qp::copy_clipped(full.data(), quillon::kWindowTextCapacity, big.data(), big.size()),
            quillon::kWindowTextCapacity - 1);
  EXPECT_EQ(std::strlen(full.data()), quillon::kWindowTextCapacity - 1);
}

// The window texts are read into storage sized to them, a little at first
// and more when the copy may have been cut. Whatever the room of earlier
// reads, the result is what one copy into a buffer of the full capacity
// gives, with the cut that keeps whole UTF-8 characters where it falls.
TEST(GuiText, WindowTextsReadWholeOrCutAtTheCapacity) {
  constexpr size_t kCap = quillon::kWindowTextCapacity;
  // As the Linux edit copies: at most capacity - 1 bytes, backed off to the
  // start of a character.
  auto edit_copy = [](const std::string& text, std::vector<uint32_t>* rooms) {
    return [&text, rooms](char* buffer, uint32_t capacity) {
      rooms->push_back(capacity);
      size_t n = text.size();
      if (n > capacity - 1) {
        n = capacity - 1;
        while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
      }
      return qp::copy_clipped(buffer, capacity, text.data(), n);
    };
  };
  const std::string euro = "\xe2\x82\xac";      // three bytes
  const std::string emoji = "\xf0\x9f\x98\x80";  // four bytes
  struct Case {
    const char* what;
    std::string text;
    size_t before;  // length of the text read last time
    size_t expected;
  };
  const Case cases[] = {
      {"empty", "", 0, 0},
      {"short", "abc", 0, 3},
      {"fills the first room but for the margin", std::string(1019, 'a'), 0, 1019},
      {"one byte into the margin", std::string(1020, 'a'), 0, 1020},
      {"the first room exactly", std::string(1024, 'a'), 0, 1024},
      {"shorter than the last one", "xyz", 100000, 3},
      {"a little longer than the last one", std::string(100010, 'b'), 100000, 100010},
      {"much longer than the last one", std::string(300001, 'c'), 10, 300001},
      {"a four-byte character in the margin", std::string(1017, 'a') + emoji, 0, 1021},
      {"one byte short of the capacity", std::string(kCap - 2, 'd'), 0, kCap - 2},
      {"as long as the capacity can hold", std::string(kCap - 1, 'e'), 0, kCap - 1},
      {"the capacity", std::string(kCap, 'f'), kCap - 1, kCap - 1},
      {"beyond the capacity", std::string(kCap + 10, 'g'), 0, kCap - 1},
      {"a character across the cut", std::string(kCap - 2, 'h') + euro, 0, kCap - 2},
      {"a character ending at the cut", std::string(kCap - 4, 'i') + euro + "j", 0, kCap - 1},
  };
  for (const Case& c : cases) {
    std::string out(c.before, '.');
    std::vector<uint32_t> rooms;
    quillon::read_window_text(out, edit_copy(c.text, &rooms));
    std::vector<char> full(kCap);
    std::vector<uint32_t> unused;
    const uint32_t n = edit_copy(c.text, &unused)(full.data(), kCap);
    EXPECT_EQ(out.size(), c.expected) << c.what;
    EXPECT_EQ(n, c.expected) << c.what;
    EXPECT_TRUE(out == std::string(full.data(), n)) << c.what;
    for (uint32_t room : rooms) EXPECT_LE(room, kCap) << c.what;
    EXPECT_LE(rooms.size(), 13u) << c.what;
  }
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
