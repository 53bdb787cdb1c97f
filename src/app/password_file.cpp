#include "app/password_file.hpp"

namespace korvane {

std::string PasswordFromFileText(std::string_view content) {
    std::string line(content.substr(0, content.find('\n')));
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

bool ReadPasswordFile(const std::string& path, std::string& password, std::string& error) {
    std::string content;
    if (!ReadFileHead(path, kPasswordFileReadLimit, content, error, "password file"))
        return false;
    if (content.size() > kPasswordFileReadLimit && content.find('\n') >= kPasswordFileReadLimit) {
        error = "the first line of the password file '" + path + "' is too long";
        return false;
    }
    password = PasswordFromFileText(content);
    return true;
}

} // namespace korvane
