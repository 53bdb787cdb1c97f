#pragma once

// The one way the core asks or tells a person something. The GUI answers on
// its own thread, the command line with prompts and flags, tests with scripts.

#include <optional>
#include <string>

namespace korvane {

enum class MessageIcon { None, Information, Warning, Error, Question };
enum class BlockFailureChoice { Abort, Retry, Ignore };

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

    // Non-blocking notifications; default: ignored.
    virtual void setWaitCursor(bool /*on*/) {}
    virtual void setStatusLine(const std::string& /*text*/) {}
    virtual void setUnitStatus(const std::string& /*unitKey*/, const std::string& /*text*/) {}
    virtual void setProgress(int /*percent*/) {}
};

} // namespace korvane
