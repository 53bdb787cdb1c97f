#include "app/link_access.hpp"

#include <string_view>

namespace korvane {

LinkAccess RequestedLinkAccess(std::optional<bool> relayOption, const char* environmentValue) {
    if (relayOption)
        return *relayOption ? LinkAccess::Relay : LinkAccess::Direct;
    const std::string_view value = environmentValue != nullptr ? environmentValue : "";
    if (value == "1" || value == "yes" || value == "on")
        return LinkAccess::Relay;
    if (value == "0" || value == "no" || value == "off")
        return LinkAccess::Direct;
    return LinkAccess::Auto;
}

LinkAccess ResolveLinkAccess(LinkAccess requested, bool canOpenRawSocket, bool relayBuilt) {
    if (!relayBuilt)
        return LinkAccess::Direct;
    if (requested != LinkAccess::Auto)
        return requested;
    return canOpenRawSocket ? LinkAccess::Direct : LinkAccess::Relay;
}

} // namespace korvane
