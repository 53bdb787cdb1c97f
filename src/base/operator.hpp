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

// The answer a yes or no gives on a question's buttons (Continue or Cancel
// on a Continue/Cancel question; Abort is the no of Abort/Retry/Ignore).
inline Answer YesNoAnswer(QuestionButtons buttons, bool yes) {
    switch (buttons) {
    case QuestionButtons::ContinueCancel:
        return yes ? Answer::Continue : Answer::Cancel;
    case QuestionButtons::AbortRetryIgnore:
        return yes ? Answer::Retry : Answer::Abort;
    case QuestionButtons::YesNo:
        break;
    }
    return yes ? Answer::Yes : Answer::No;
}

inline Answer BlockFailureAnswer(BlockFailureChoice choice) {
    switch (choice) {
    case BlockFailureChoice::Retry:
        return Answer::Retry;
    case BlockFailureChoice::Ignore:
        return Answer::Ignore;
    case BlockFailureChoice::Abort:
        break;
    }
    return Answer::Abort;
}

class Operator {
  public:
    virtual ~Operator() = default;

    // Password Input dialog: `label` is shown above the masked edit, `preset`
    // is the text already in it. nullopt when the person cancelled.
    virtual std::optional<std::string> askPassword(const std::string& label,
                                                   const std::string& preset) = 0;
    // A message box with OK.
    virtual void showMessage(const std::string& text, MessageIcon icon) = 0;

    // A question with its own buttons and default. A GUI shows a modal box
    // with `text`, `icon` and exactly the buttons of `buttons` (labelled
    // "Continue"/"Cancel", "Yes"/"No" or "Abort"/"Retry"/"Ignore"), makes
    // `defaultAnswer` the default button (Enter), and maps Escape or the
    // close box to Cancel, No or Abort -- never to the button that goes ahead.
    // Every question goes through here.
    virtual Answer ask(const Question& question) = 0;

    // Conveniences over ask(): a general Yes/No question (No the default),
    // true for Yes; and the firmware download's Abort/Retry/Ignore box
    // (Abort the default).
    bool askYesNo(const std::string& text, MessageIcon icon) {
        Question question;
        question.text = text;
        question.icon = icon;
        return ask(question) == Answer::Yes;
    }
    BlockFailureChoice askAbortRetryIgnore(const std::string& text) {
        Question question;
        question.topic = QuestionTopic::BlockFailure;
        question.text = text;
        question.icon = MessageIcon::Error;
        question.buttons = QuestionButtons::AbortRetryIgnore;
        question.defaultAnswer = Answer::Abort;
        switch (ask(question)) {
        case Answer::Retry:
            return BlockFailureChoice::Retry;
        case Answer::Ignore:
            return BlockFailureChoice::Ignore;
        default:
            return BlockFailureChoice::Abort;
        }
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
