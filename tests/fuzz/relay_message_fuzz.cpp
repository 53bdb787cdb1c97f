// The raw-frame relay's message parser on arbitrary bytes: what an
// unprivileged client may write to the program that holds cap_net_raw. The
// first byte of the input chooses how the rest is cut into reads, so that
// messages split across reads are covered too. Properties: every message
// that decodes encodes back to the very bytes it came from, and a frame the
// send rules let through is this protocol's from the adapter's own MAC or
// the address probe's request.

#include "base/byte_cursor.hpp"
#include "protocol/arp.hpp"
#include "relay/relay_protocol.hpp"
#include "wire_fields.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

using namespace korvane;
using namespace korvane::relay;

const MacAddress kOwn{{0x02, 0x00, 0x00, 0x5E, 0x00, 0x01}};

void checkSendRules(std::span<const std::uint8_t> frame) {
    if (RefusalOf(PortKind::Protocol, kOwn, frame).empty()) {
        if (frame.size() < 14 || readU16(frame, 12) != 0x5152 || macAt(frame, 6) != kOwn)
            __builtin_trap();
    }
    if (RefusalOf(PortKind::ArpProbe, kOwn, frame).empty() && !IsArpProbeFrom(frame, kOwn))
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::size_t chunk = 1 + data[0] % 64;
    std::span<const std::uint8_t> input(data + 1, size - 1);
    MessageReader reader;
    while (!input.empty()) {
        const std::size_t n = std::min(chunk, input.size());
        reader.feed(input.first(n));
        input = input.subspan(n);
        for (;;) {
            std::span<const std::uint8_t> body;
            std::string error;
            const auto status = reader.next(body, error);
            if (status == MessageReader::Status::NeedMore)
                break;
            if (status == MessageReader::Status::Malformed) {
                if (error.empty())
                    __builtin_trap();
                return 0; // the relay closes the connection here
            }
            if (body.empty() || body.size() > kMaxMessage)
                __builtin_trap();
            const auto message = DecodeMessage(body, error);
            if (!message) {
                if (error.empty())
                    __builtin_trap();
                continue;
            }
            std::vector<std::uint8_t> again;
            if (!AppendMessage(again, *message) || again.size() != kLengthBytes + body.size() ||
                !std::equal(body.begin(), body.end(), again.begin() + kLengthBytes))
                __builtin_trap();
            if (message->type == MessageType::Send)
                checkSendRules(message->frame);
        }
    }
    return 0;
}
