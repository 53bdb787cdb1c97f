#pragma once

// The one way the core asks or tells a person something. The GUI answers on
// its own thread, the command line with prompts and flags, tests with scripts.

#include "base/mac_address.hpp"

#include <optional>
#include <string>
#include <vector>

namespace korvane {

enum class MessageIcon { None, Information, Warning, Error, Question };
enum class BlockFailureChoice { Abort, Retry, Ignore };

// The buttons a question offers, and which of them was pressed.
enum class QuestionButtons { YesNo, ContinueCancel, AbortRetryIgnore };
enum class Answer { Yes, No, Continue, Cancel, Abort, Retry, Ignore };

// What a question is about, so that a front end can answer it from a flag
// given in advance (the command line) or word its buttons (the GUI).
enum class QuestionTopic {
    General,
    ShortImage,       // the image file lacks its boot word and factory block
    OlderBootVersion, // the image's boot version is older than the devices' flash
    BlockFailure,     // a firmware block was not accepted
    SerialNumberRisk, // a new serial number collides with a device or leaves the factory range
    AddressInUse,     // another station already answers to the chosen IP address
};

// A question with its buttons and the button that Enter (or a closed box)
// gives. `text` is complete: it names every device it is about, which are
// also listed in `devices`.
struct Question {
    QuestionTopic topic = QuestionTopic::General;
    std::string text;
    MessageIcon icon = MessageIcon::Question;
    QuestionButtons buttons = QuestionButtons::YesNo;
    Answer defaultAnswer = Answer::No;
    std::vector<MacAddress> devices;
};

// True for the answers that go ahead (Yes, Continue, Retry, Ignore).
inline bool GoesAhead(Answer answer) {
    return answer == Answer::Yes || answer == Answer::Continue || answer == Answer::Retry ||
           answer == Answer::Ignore;
}

class Operator {
  public:
    virtual ~Operator() = default;

    // Password Input dialog: `label` is shown above the masked edit, `preset`
    // is the text already in it. nullopt when the person cancelled.
    virtual std::optional<std::string> askPassword(const std::string& label,
                                                   const std::string& preset) = 0;
    // Yes/No question; true for Yes.
    virtual bool askYesNo(const std::string& text, MessageIcon icon) = 0;
    // Abort/Retry/Ignore box of the firmware download.
    virtual BlockFailureChoice askAbortRetryIgnore(const std::string& text) = 0;
    // A message box with OK.
    virtual void showMessage(const std::string& text, MessageIcon icon) = 0;

    // A question with its own buttons and default. A GUI shows a modal box
    // with `text`, `icon` and exactly the buttons of `buttons` (labelled
    // "Continue"/"Cancel", "Yes"/"No" or "Abort"/"Retry"/"Ignore"), makes
    // `defaultAnswer` the default button (Enter), and maps Escape or the
    // close box to Cancel, No or Abort -- never to the button that goes ahead.
    // The default here asks through askYesNo (the first button for Yes) and
    // askAbortRetryIgnore, so an Operator that knows only those still works.
    virtual Answer ask(const Question& question) {
        switch (question.buttons) {
        case QuestionButtons::AbortRetryIgnore:
            switch (askAbortRetryIgnore(question.text)) {
            case BlockFailureChoice::Retry:
                return Answer::Retry;
            case BlockFailureChoice::Ignore:
                return Answer::Ignore;
            case BlockFailureChoice::Abort:
                break;
            }
            return Answer::Abort;
        case QuestionButtons::ContinueCancel:
            return askYesNo(question.text, question.icon) ? Answer::Continue : Answer::Cancel;
        case QuestionButtons::YesNo:
            break;
        }
        return askYesNo(question.text, question.icon) ? Answer::Yes : Answer::No;
    }

    // Non-blocking notifications; default: ignored.
    virtual void setWaitCursor(bool /*on*/) {}
    virtual void setStatusLine(const std::string& /*text*/) {}
    virtual void setUnitStatus(const std::string& /*unitKey*/, const std::string& /*text*/) {}
    virtual void setProgress(int /*percent*/) {}
};

// How questions and messages name one device: "2801795073 (02-19-A7-00-00-01)".
inline std::string DeviceName(const MacAddress& mac) {
    return std::to_string(mac.serialNumber()) + " (" + mac.toString() + ")";
}

} // namespace korvane
