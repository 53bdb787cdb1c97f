#pragma once

// UTF-8 to and from the UTF-16 of the wide Windows functions (Windows only).

#include <windows.h>

#include <string>
#include <string_view>

namespace korvane::platform {

inline std::wstring ToWide(std::string_view text) {
    if (text.empty())
        return {};
    const int n =
        ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return wide;
}

inline std::string FromWide(std::wstring_view wide) {
    if (wide.empty())
        return {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                        nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), n,
                          nullptr, nullptr);
    return text;
}

} // namespace korvane::platform
