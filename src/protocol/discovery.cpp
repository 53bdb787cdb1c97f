#include "protocol/discovery.hpp"

#include "base/byte_cursor.hpp"
#include "protocol/frame.hpp"

#include <algorithm>
#include <array>
#include <vector>

namespace korvane {

DiscoveryFrame ClassifyDiscoveryFrame(std::span<const std::uint8_t> frame, const MacAddress& own,
                                      DeviceIdentity& identity) {
    const auto header = ParseHeader(frame);
    if (!header || header->source == own)
        return DiscoveryFrame::NotAReply;
    if (header->version != kProtocolVersion || header->code != code::kDiscoverReply)
        return DiscoveryFrame::NotAReply; // other traffic, looped-back requests
    if (header->destination != own)
        return DiscoveryFrame::Misaddressed; // the capture may see foreign unicast
    if (frame.size() < kMinDiscoveryReply)
        return DiscoveryFrame::Malformed;
    ParseIdentity(frame, identity);
    // A record without a station address of its own would be queried at MAC
    // zero or at a group address: seconds of tries for a row that is no device.
    const MacAddress mac = identity.mac();
    if (mac == MacAddress{} || mac.isMulticast())
        return DiscoveryFrame::Malformed;
    return DiscoveryFrame::Device;
}

namespace {

// One device per source MAC and per identity MAC.
struct FoundDevice {
    MacAddress source;
    DeviceIdentity identity;
};

bool alreadyFound(const std::vector<FoundDevice>& found, const MacAddress& source,
                  const MacAddress& identityMac) {
    return std::any_of(found.begin(), found.end(), [&](const FoundDevice& f) {
        return f.source == source || f.identity.mac() == identityMac ||
               f.identity.mac() == source || f.source == identityMac;
    });
}

} // namespace

int DiscoverDevices(Context& ctx, std::span<DeviceIdentity> records, int adapterIndex,
                    StopToken* stop) {
    const std::vector<DeviceIdentity> previous(records.begin(), records.end());
    const MacAddress own = ctx.link.ownAddress();
    // Taken before the send: the quickest reply still arrives after it.
    const auto requestAt = SteadyClock::now();
    ctx.link.send(BuildDiscoveryRequest(own).view()); // a refused send simply finds nothing

    const auto end = requestAt + ctx.timing.discoveryWindow;
    std::vector<FoundDevice> found;
    found.reserve(std::min<std::size_t>(records.size(), 64));
    std::array<std::uint8_t, kEthernetMaxPayload> buffer{};
    std::size_t length = 0;
    SteadyClock::time_point arrivedAt;
    WireCounters& dropped = ctx.wire;

    // Every reply is taken as soon as it is queued: a large segment answers
    // within a few milliseconds and must all fit in the one window.
    const StopWakeScope wake(stop, ctx.link.arrivals());
    for (;;) {
        const auto seen = ctx.link.arrivals().generation();
        if (stop != nullptr && stop->stopRequested())
            break;
        while (ctx.link.read(buffer, length, arrivedAt)) {
            const std::span<const std::uint8_t> frame(buffer.data(), length);
            DeviceIdentity identity;
            const DiscoveryFrame kind = ClassifyDiscoveryFrame(frame, own, identity);
            if (kind == DiscoveryFrame::NotAReply)
                continue;
            if (arrivedAt < requestAt) {
                dropped.earlyDiscovery.fetch_add(1, std::memory_order_relaxed);
                continue; // queued before anyone asked: no answer to this request
            }
            if (kind == DiscoveryFrame::Misaddressed) {
                dropped.misaddressedDiscovery.fetch_add(1, std::memory_order_relaxed);
                continue;
            }
            const auto head = fixedHead<kFrameHead>(frame);
            if (kind == DiscoveryFrame::Malformed || !head) {
                dropped.malformedDiscovery.fetch_add(1, std::memory_order_relaxed);
                continue;
            }
            const MacAddress source =
                MacAddress::fromBytes(head->subspan<frame_offset::kSource, 6>());
            // A device that answers twice, even from another source MAC, is kept once.
            if (alreadyFound(found, source, identity.mac())) {
                dropped.duplicateDiscovery.fetch_add(1, std::memory_order_relaxed);
                continue;
            }
            if (found.size() >= records.size())
                continue;
            identity.setAdapterIndex(adapterIndex);
            found.push_back({source, identity});
        }
        if (SteadyClock::now() >= end)
            break;
        if (ctx.link.receiveEnded()) {
            // The adapter went away (down and up again): the rest of the
            // window listens on it reopened, if it comes back in time.
            if (!ctx.recoverLink(end, stop))
                break;
            continue;
        }
        ctx.link.arrivals().waitUntil(seen, end);
    }

    for (std::size_t i = 0; i < found.size(); ++i) {
        DeviceIdentity& record = found[i].identity;
        for (const auto& before : previous)
            if (before.mac() == record.mac())
                record.setRememberedPassword(before.rememberedPassword());
        records[i] = record;
    }
    return static_cast<int>(found.size());
}

} // namespace korvane
