#include "protocol/discovery.hpp"

#include "protocol/frame.hpp"

#include <algorithm>
#include <array>
#include <vector>

namespace korvane {

int DiscoverDevices(Context& ctx, std::span<DeviceIdentity> records, int adapterIndex,
                    StopToken* stop) {
    const std::vector<DeviceIdentity> previous(records.begin(), records.end());
    const MacAddress own = ctx.link.ownAddress();
    ctx.link.send(BuildDiscoveryRequest(own).view()); // a refused send simply finds nothing

    const auto end = SteadyClock::now() + ctx.timing.discoveryWindow;
    std::vector<DeviceIdentity> found;
    found.reserve(std::min<std::size_t>(records.size(), 64));
    std::array<std::uint8_t, kReaderBuffer> buffer{};
    std::size_t length = 0;

    // Every reply is taken as soon as it is queued: a large segment answers
    // within a few milliseconds and must all fit in the one window.
    for (;;) {
        const auto seen = ctx.link.arrivals().generation();
        if (stop != nullptr && stop->stopRequested())
            break;
        while (ctx.link.read(buffer, length)) {
            const std::span<const std::uint8_t> frame(buffer.data(), length);
            const auto header = ParseHeader(frame);
            if (!header || header->source == own)
                continue;
            if (header->version != kProtocolVersion || header->code != code::kDiscoverReply)
                continue; // other traffic, looped-back requests: dropped
            // A device that answers twice is kept once: its first reply wins.
            if (found.size() >= records.size() ||
                std::any_of(found.begin(), found.end(),
                            [&](const DeviceIdentity& r) { return r.mac() == header->source; }))
                continue;
            DeviceIdentity identity;
            ParseIdentity(frame, identity);
            identity.setAdapterIndex(adapterIndex);
            found.push_back(identity);
        }
        if (SteadyClock::now() >= end)
            break;
        ctx.link.arrivals().waitUntil(seen, end);
    }

    for (auto& record : found)
        for (const auto& before : previous)
            if (before.mac() == record.mac())
                record.setRememberedPassword(before.rememberedPassword());
    std::copy(found.begin(), found.end(), records.begin());
    return static_cast<int>(found.size());
}

} // namespace korvane
