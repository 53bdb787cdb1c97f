#pragma once

// Request/reply exchanges with one device: send, wait for the matching reply
// or the end of the window, try again up to the table's number of tries.

#include "protocol/context.hpp"
#include "protocol/frame.hpp"

#include <cstdint>
#include <span>
#include <string_view>

namespace korvane {

// Builds a request and hands it to the link; true when the link took it.
// A password that does not fit the frame is refused here, never cut.
bool SendRequest(AdapterLink& link, const MacAddress& target, std::uint16_t command,
                 std::uint16_t replyCode, std::string_view password, std::uint16_t parameter,
                 std::span<const std::uint8_t> data, std::uint16_t dataLength);

// Reads: the request carries no data and is zero-filled for the reply's
// replyData.size() bytes; on a reply those bytes are copied from its offset
// 40 (bytes the device did not send read as zero). Returns the reply status,
// or 0 when no reply came in any try (or a stop was requested).
std::uint16_t QueryDevice(Context& ctx, const MacAddress& target, std::uint16_t command,
                          std::uint16_t replyCode, std::string_view password,
                          std::uint16_t parameter, std::span<std::uint8_t> replyData,
                          StopToken* stop = nullptr);

// How the send pause after a command is kept. A device needs
// Timing::commandSendPause between the commands it receives.
enum class CommandPacing {
    // The pause is held under the context's send lock: all commands of the
    // context, to whichever device, go out at most one per pause. The
    // conservative default.
    Shared,
    // The send lock covers only the send and the pause follows outside it:
    // each caller still keeps the pause between its own commands (so each
    // device, as long as one caller talks to it), while commands to
    // different devices overlap.
    PerDevice,
};

// Writes: the request carries `data`; sent under the send lock followed by
// the send pause (see CommandPacing). Returns the reply status, 4 turned into
// 2 after the status-4 pause, or 0.
std::uint16_t CommandDevice(Context& ctx, const MacAddress& target, std::uint16_t command,
                            std::uint16_t replyCode, std::string_view password,
                            std::uint16_t parameter, std::span<const std::uint8_t> data,
                            StopToken* stop = nullptr,
                            CommandPacing pacing = CommandPacing::Shared);

} // namespace korvane
