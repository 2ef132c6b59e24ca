// The message-box helpers behind GUI_show_message and GUI_show_question:
// a system box with OK, or with Yes and No, modal on the calling thread.
#pragma once

namespace quillon {

// Shows `text` with an OK button; 1 once the box is closed.
double showMessage(const char* text);

// Asks `text` with Yes and No; 1 for Yes, 0 for No or a box that could not
// be shown.
double showQuestion(const char* text);

}  // namespace quillon
