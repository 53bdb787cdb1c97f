#include "app/password_file.hpp"

#include <filesystem>
#include <fstream>

namespace korvane {

std::string PasswordFromFileText(std::string_view content) {
    std::string line(content.substr(0, content.find('\n')));
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

bool ReadFileHead(const std::string& path, std::size_t limit, std::string& content,
                  std::string& error, std::string_view what) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        error = "the " + std::string(what) + " '" + path + "' is a folder";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read the " + std::string(what) + " '" + path + "'";
        return false;
    }
    content.assign(limit + 1, '\0');
    in.read(content.data(), static_cast<std::streamsize>(content.size()));
    if (in.bad()) {
        error = "cannot read the " + std::string(what) + " '" + path + "'";
        return false;
    }
    content.resize(static_cast<std::size_t>(in.gcount()));
    return true;
}

bool ReadPasswordFile(const std::string& path, std::string& password, std::string& error) {
    std::string content;
    if (!ReadFileHead(path, kPasswordFileReadLimit, content, error))
        return false;
    if (content.size() > kPasswordFileReadLimit && content.find('\n') >= kPasswordFileReadLimit) {
        error = "the first line of the password file '" + path + "' is too long";
        return false;
    }
    password = PasswordFromFileText(content);
    return true;
}

} // namespace korvane
