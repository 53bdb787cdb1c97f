#include "base/file_head.hpp"

#include <filesystem>
#include <fstream>

namespace korvane {

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

} // namespace korvane
