// Password files (--password-file, --new-password-file): whatever a file
// holds, the password is its first line without the line end, and nothing
// after the first newline leaks into it.

#include "app/password_file.hpp"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace korvane;
    const std::string_view content(reinterpret_cast<const char*>(data), size);
    const std::string password = PasswordFromFileText(content);
    const std::string_view line = content.substr(0, content.find('\n'));
    if (password.find('\n') != std::string::npos || line.substr(0, password.size()) != password)
        __builtin_trap();
    // Only a CR that ends the line is dropped.
    if (password.size() + (!line.empty() && line.back() == '\r' ? 1 : 0) != line.size())
        __builtin_trap();
    return 0;
}
