// The message-box helpers: the system's box through the platform's window
// library, with an empty caption.
#include "base/message_box.h"

#include "platform/window.h"

namespace quillon {

double showMessage(const char* text) {
  qp::message_box(text, "", qp::kBoxOk);
  return 1.0;
}

double showQuestion(const char* text) {
  // Anything but Yes, a box that could not be shown included, is a No.
  return qp::message_box(text, "", qp::kBoxYesNo) == qp::kAnswerYes ? 1.0 : 0.0;
}

}  // namespace quillon
