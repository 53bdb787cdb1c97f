#include "cli/cli_operator.hpp"

#include "base/platform.hpp"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <istream>
#include <mutex>
#include <ostream>

namespace korvane::cli {

namespace {

void stripLineEnd(std::string& line) {
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
}

} // namespace

std::optional<BlockFailureChoice> ParseBlockFailureChoice(std::string_view text) {
    if (text == "abort")
        return BlockFailureChoice::Abort;
    if (text == "retry")
        return BlockFailureChoice::Retry;
    if (text == "ignore")
        return BlockFailureChoice::Ignore;
    return std::nullopt;
}

bool LoadPasswordAnswers(const std::optional<std::string>& passwordFile,
                         const std::optional<std::string>& newPasswordFile, CliAnswers& answers,
                         std::string& error) {
    if (passwordFile) {
        std::string password;
        if (!ReadPasswordFile(*passwordFile, password, error))
            return false;
        answers.password = std::move(password);
    } else if (const char* env = std::getenv(kPasswordEnvironment)) {
        answers.password = std::string(env);
    }
    if (newPasswordFile) {
        std::string password;
        if (!ReadPasswordFile(*newPasswordFile, password, error))
            return false;
        answers.newPassword = std::move(password);
    }
    return true;
}

CliOperator::CliOperator(Streams io, std::string prefix, CliAnswers answers)
    : io_(io), prefix_(std::move(prefix)), answers_(std::move(answers)) {}

void CliOperator::error(const std::string& text) {
    io_.err << prefix_ << ": " << text << "\n";
}

void CliOperator::refuse(const std::string& why) {
    unanswered_ = true;
    error(why);
}

std::optional<std::string> CliOperator::readLine(const std::string& prompt) {
    io_.err << prompt << std::flush;
    std::string line;
    if (!std::getline(io_.in, line))
        return std::nullopt;
    stripLineEnd(line);
    return line;
}

std::optional<std::string> CliOperator::readSecret(const std::string& prompt) {
    // Echo can only be switched off on the process's own terminal.
    platform::ConsoleEchoOff quiet(&io_.in == &std::cin);
    return readLine(prompt);
}

std::optional<std::string> CliOperator::askPassword(const std::string& label,
                                                    const std::string& /*preset*/) {
    if (answers_.password)
        return answers_.password;
    if (!io_.interactive) {
        refuse("the device has a password: give it with --password-file FILE or the "
               "environment variable " +
               std::string(kPasswordEnvironment));
        return std::nullopt;
    }
    // The preset (a remembered password) is never shown, not even masked.
    const std::string prompt =
        (label.empty() ? std::string() : label + " ") + "Korvane Utility Password: ";
    auto answer = readSecret(prompt);
    if (!answer)
        refuse("no password given");
    return answer;
}

bool CliOperator::askNewPassword(std::string& password, std::string& confirm) {
    if (answers_.newPassword) {
        password = confirm = *answers_.newPassword;
        return true;
    }
    if (!io_.interactive) {
        refuse("a new password is needed: give it with --new-password-file FILE");
        return false;
    }
    auto first = readSecret("New password: ");
    if (!first) {
        refuse("no new password given");
        return false;
    }
    auto second = readSecret("Confirm password: ");
    if (!second) {
        refuse("no new password given");
        return false;
    }
    password = *first;
    confirm = *second;
    return true;
}

bool CliOperator::answerYesNo(const std::string& text) {
    if (answers_.yes) {
        io_.err << prefix_ << ": " << text << " yes (--yes)\n";
        return true;
    }
    if (!io_.interactive) {
        error(text);
        refuse("no terminal to answer the question: answer it with --yes");
        return false;
    }
    for (;;) {
        auto answer = readLine(text + " [y/N] ");
        if (!answer)
            return false;
        if (*answer == "y" || *answer == "Y" || *answer == "yes")
            return true;
        if (answer->empty() || *answer == "n" || *answer == "N" || *answer == "no")
            return false;
    }
}

BlockFailureChoice CliOperator::answerBlockFailure(const std::string& text) {
    if (answers_.onBlockFailure) {
        error(text);
        return *answers_.onBlockFailure;
    }
    if (!io_.interactive) {
        error(text);
        refuse("no terminal to answer Abort, Retry or Ignore: choose with --on-block-failure");
        return BlockFailureChoice::Abort;
    }
    for (;;) {
        auto answer = readLine(text + " [a]bort, [r]etry, [i]gnore? ");
        if (!answer || *answer == "a" || *answer == "abort")
            return BlockFailureChoice::Abort;
        if (*answer == "r" || *answer == "retry")
            return BlockFailureChoice::Retry;
        if (*answer == "i" || *answer == "ignore")
            return BlockFailureChoice::Ignore;
    }
}

void CliOperator::showMessage(const std::string& text, MessageIcon /*icon*/) {
    error(text);
}

std::string WithoutQuestion(const std::string& text) {
    const auto lineStart = text.rfind('\n');
    if (lineStart == std::string::npos || text.empty() || text.back() != '?')
        return text;
    return text.substr(0, lineStart);
}

Answer CliOperator::ask(const Question& question) {
    const char* flag = nullptr;
    bool given = false;
    Answer goAhead = Answer::Yes;
    Answer safe = Answer::No;
    switch (question.topic) {
    case QuestionTopic::ShortImage:
        flag = "--allow-short-image";
        given = answers_.allowShortImage;
        goAhead = Answer::Continue;
        safe = Answer::Cancel;
        break;
    case QuestionTopic::OlderBootVersion:
        flag = "--allow-older-boot";
        given = answers_.allowOlderBoot;
        break;
    case QuestionTopic::SerialNumberRisk:
        flag = "--force";
        given = answers_.force;
        break;
    default:
        if (question.buttons == QuestionButtons::AbortRetryIgnore)
            return BlockFailureAnswer(answerBlockFailure(question.text));
        return YesNoAnswer(question.buttons, answerYesNo(question.text));
    }
    // Nobody is asked: the flag answers, so the question itself is not printed.
    error(WithoutQuestion(question.text));
    if (given) {
        error(std::string("going on (") + flag + ")");
        return goAhead;
    }
    error(std::string("refused: ") + flag + " is needed to go on");
    declined_ = true;
    return safe;
}

} // namespace korvane::cli
