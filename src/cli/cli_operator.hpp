#pragma once

// The command line's Operator: questions and password prompts are answered
// by flags and files first, then by a person at a terminal. Without a
// terminal nothing waits for input that cannot come: an unanswered question
// or password prompt fails with a message that names the flag to use.
// Passwords are never echoed or printed.

#include "app/password_file.hpp"
#include "base/operator.hpp"
#include "cli/cli.hpp"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace korvane::cli {

// What the flags answer in advance.
struct CliAnswers {
    std::optional<std::string> password;    // the device's current password
    std::optional<std::string> newPassword; // a new password (asked twice when absent)
    bool yes = false;                       // --yes: the general Yes/No questions answered Yes
    std::optional<BlockFailureChoice> onBlockFailure;
    // Questions about harm are answered only by their own flags, never by
    // --yes or at a prompt: a person must have meant them when starting.
    bool allowShortImage = false; // --allow-short-image
    bool allowOlderBoot = false;  // --allow-older-boot
    bool force = false;           // --force: a serial number that collides or leaves the range
};

inline constexpr const char* kPasswordEnvironment = "KORVANE_PASSWORD";

// "abort", "retry" or "ignore" (the value of --on-block-failure).
std::optional<BlockFailureChoice> ParseBlockFailureChoice(std::string_view text);

// Fills answers.password from --password-file F, else KORVANE_PASSWORD;
// answers.newPassword from --new-password-file F when `newPasswordFile` is
// given. False with `error` when a named file cannot be read.
bool LoadPasswordAnswers(const std::optional<std::string>& passwordFile,
                         const std::optional<std::string>& newPasswordFile, CliAnswers& answers,
                         std::string& error);

// A question's text without its closing question ("Continue?" on a line of
// its own): what is printed when a flag answers the question, or nobody can.
std::string WithoutQuestion(const std::string& text);

class CliOperator : public Operator {
  public:
    // `prefix` starts every line written to the error stream ("korvane settings set").
    CliOperator(Streams io, std::string prefix, CliAnswers answers);

    std::optional<std::string> askPassword(const std::string& label,
                                           const std::string& preset) override;
    void showMessage(const std::string& text, MessageIcon icon) override;
    Answer ask(const Question& question) override;

    // A new password: the flag's answer, else asked twice at a terminal.
    // The second answer goes to `confirm`, so the caller's rules compare them.
    bool askNewPassword(std::string& password, std::string& confirm);

    // Something was asked that neither a flag nor a person could answer.
    bool unanswered() const { return unanswered_; }
    // A question about harm was answered with its safe button for want of its flag.
    bool declined() const { return declined_; }
    // Prints a line to the error stream with the prefix.
    void error(const std::string& text);

  private:
    // A general yes/no question, and the Abort/Retry/Ignore box, at the
    // terminal or from the flags.
    bool answerYesNo(const std::string& text);
    BlockFailureChoice answerBlockFailure(const std::string& text);
    std::optional<std::string> readSecret(const std::string& prompt);
    std::optional<std::string> readLine(const std::string& prompt);
    void refuse(const std::string& why);

    Streams io_;
    std::string prefix_;
    CliAnswers answers_;
    bool unanswered_ = false;
    bool declined_ = false;
};

} // namespace korvane::cli
