#pragma once

// The message boxes the dialogs show on the GUI thread: the program's
// caption, the texts exactly as given, and the buttons and icon the
// question calls for.

#include "base/operator.hpp"

#include <QMessageBox>
#include <QString>

#include <string>

namespace korvane::ui {

QMessageBox::Icon BoxIcon(MessageIcon icon);

// A box with OK.
void ShowMessageBox(QWidget* parent, const QString& text, MessageIcon icon = MessageIcon::Warning);
void ShowMessageBox(QWidget* parent, const std::string& text,
                    MessageIcon icon = MessageIcon::Warning);

// The core's question as a modal box: its text and icon, exactly its
// buttons ("Yes"/"No", "Continue"/"Cancel", "Abort"/"Retry"/"Ignore"),
// Enter choosing its default answer, and Escape, the close box or a box
// closed any other way choosing SafeAnswer().
Answer AskQuestionBox(QWidget* parent, const Question& question);
// The answer that does not go ahead: No, Cancel or Abort.
Answer SafeAnswer(QuestionButtons buttons);

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
