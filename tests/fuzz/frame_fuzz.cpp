// Received frames: the header parser, the reply matcher, the link's receive
// path (length limits, the notice), the stray queue and the frame log's line,
// on arbitrary bytes.

#include "link/adapter_link.hpp"
#include "link/simulated_segment.hpp"
#include "protocol/frame.hpp"
#include "protocol/frame_log.hpp"
#include "protocol/stray_queue.hpp"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

using namespace korvane;

const MacAddress kOwn{{0x02, 0x00, 0x00, 0x5E, 0x00, 0x01}};
const MacAddress kTarget{{0x02, 0x19, 0xA7, 0x00, 0x00, 0x01}};

struct Receiver {
    Receiver() : link(segment, 64) {
        segment.addAdapter("fuzz0", "fuzz", kOwn);
        link.setDiagnosticSink(nullptr);
        link.open("fuzz0");
    }
    SimulatedSegment segment;
    AdapterLink link;
    StrayReplyQueue strays{std::chrono::hours(1), 64};
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Receiver receiver;
    const std::span<const std::uint8_t> frame(data, size);

    const auto header = ParseHeader(frame);
    if (header && size < 22)
        __builtin_trap(); // the head up to the status field
    const std::uint16_t replyCode =
        size >= 2 ? static_cast<std::uint16_t>(data[0] << 8 | data[1]) : 0;
    const ReplyMatch match = MatchReply(frame, kOwn, kTarget, replyCode);
    if ((match == ReplyMatch::Malformed) != !header)
        __builtin_trap();

    // The log's line is one line of printable text, whatever the frame holds.
    for (const auto direction : {FrameDirection::Sent, FrameDirection::Received}) {
        const std::string line =
            FormatFrameLogLine(std::chrono::milliseconds(size), direction, "fuzz0", frame);
        for (const char c : line)
            if (c < 0x20 || c > 0x7E)
                __builtin_trap();
    }

    // The receive thread's path, then the readers' side.
    receiver.link.deliver(frame);
    std::array<std::uint8_t, kEthernetMaxPayload> buffer{};
    std::size_t length = 0;
    while (receiver.link.read(buffer, length)) {
        if (length > buffer.size())
            __builtin_trap();
        const std::span<const std::uint8_t> got(buffer.data(), length);
        if (MatchReply(got, kOwn, kTarget, replyCode) == ReplyMatch::OtherSource)
            receiver.strays.push(got);
    }
    const auto source = header ? header->source : kTarget;
    const std::size_t taken = receiver.strays.take(source, buffer);
    if (taken > buffer.size())
        __builtin_trap();
    return 0;
}
