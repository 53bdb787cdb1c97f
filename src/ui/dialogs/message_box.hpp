#pragma once

// The message boxes the dialogs show on the GUI thread: the program's
// caption, the texts exactly as given, and the buttons and icon the
// question calls for.

#include "base/operator.hpp"

#include <QMessageBox>
#include <QString>

#include <string>
#include <vector>

namespace korvane::ui {

QMessageBox::Icon BoxIcon(MessageIcon icon);

// A box with OK.
void ShowMessageBox(QWidget* parent, const QString& text, MessageIcon icon = MessageIcon::Warning);
void ShowMessageBox(QWidget* parent, const std::string& text,
                    MessageIcon icon = MessageIcon::Warning);
// Yes and No; true for Yes.
bool AskYesNoBox(QWidget* parent, const std::string& text, MessageIcon icon);
// Abort, Retry and Ignore with the stop icon; a box closed otherwise aborts.
BlockFailureChoice AskAbortRetryIgnoreBox(QWidget* parent, const std::string& text);

// A question with buttons of its own, left to right, Enter choosing
// `defaultButton` and Escape (or the close box) `escapeButton`.
struct Question {
    std::string text;
    MessageIcon icon = MessageIcon::Question;
    std::vector<std::string> buttons;
    int defaultButton = 0;
    int escapeButton = 0;
};
// The index of the button chosen.
int AskQuestionBox(QWidget* parent, const Question& question);

// Widens `box` so that its caption is never cut in the title bar.
void FitBoxToCaption(QMessageBox& box);

// The window a box should stand over: the modal dialog in front, if any.
QWidget* BoxParent(QWidget* fallback);

// The normal pointer while a question or a dialog waits for the operator,
// over a command that shows the wait cursor meanwhile.
class NormalCursor {
  public:
    NormalCursor();
    ~NormalCursor();
    NormalCursor(const NormalCursor&) = delete;
    NormalCursor& operator=(const NormalCursor&) = delete;

  private:
    bool pushed_ = false;
};

} // namespace korvane::ui
