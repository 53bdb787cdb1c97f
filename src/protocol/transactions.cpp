#include "protocol/transactions.hpp"

#include "base/byte_cursor.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <thread>

namespace korvane {

bool SendRequest(AdapterLink& link, const MacAddress& target, std::uint16_t command,
                 std::uint16_t /*replyCode*/, std::string_view password, std::uint16_t parameter,
                 std::span<const std::uint8_t> data, std::uint16_t dataLength) {
    const auto frame =
        BuildRequest(link.ownAddress(), target, command, password, parameter, data, dataLength);
    if (!frame)
        return false;
    return link.send(frame->view());
}

namespace {

enum class Kind { Query, Command };

bool stopped(const StopToken* stop) {
    return stop != nullptr && stop->stopRequested();
}

struct Received {
    std::array<std::uint8_t, kEthernetMaxPayload> bytes{};
    std::size_t length = 0;
    std::span<const std::uint8_t> view() const { return {bytes.data(), length}; }
};

// One try's window. Instead of reading one frame per 10 ms poll, it takes
// every frame as soon as the link has it and sleeps on the link's arrival
// signal in between: the window itself is unchanged.
//
// A reply from the target that arrived before `firstSend` answers an earlier
// transaction (0x7003 answers both the password check and the password
// write): it is dropped, never taken as this transaction's answer. A reply to
// an earlier try of this same transaction is welcome.
std::optional<std::uint16_t> waitForReply(Context& ctx, const MacAddress& target,
                                          std::uint16_t replyCode,
                                          std::span<std::uint8_t> replyData, Micros window,
                                          SteadyClock::time_point firstSend, StopToken* stop) {
    const auto end = SteadyClock::now() + window;
    const MacAddress own = ctx.link.ownAddress();
    Received frame;
    SteadyClock::time_point arrivedAt;
    auto check = [&]() -> std::optional<std::uint16_t> {
        if (MatchReply(frame.view(), own, target, replyCode) != ReplyMatch::Reply)
            return std::nullopt; // from the target but not this reply: dropped
        if (!replyData.empty()) {
            std::fill(replyData.begin(), replyData.end(), std::uint8_t{0});
            if (frame.length > frame_offset::kData)
                std::memcpy(replyData.data(), frame.bytes.data() + frame_offset::kData,
                            std::min(replyData.size(), frame.length - frame_offset::kData));
        }
        return ByteReader(frame.view(), frame_offset::kStatus).u16();
    };

    const StopWakeScope wake(stop, ctx.link.arrivals());
    for (;;) {
        const auto seen = ctx.link.arrivals().generation();
        if (stopped(stop))
            return std::nullopt;
        while (ctx.link.read(frame.bytes, frame.length, arrivedAt)) {
            switch (MatchReply(frame.view(), own, target, replyCode)) {
            case ReplyMatch::OwnFrame:
            case ReplyMatch::Malformed:
                continue;
            case ReplyMatch::OtherSource:
                ctx.strays.push(frame.view(), arrivedAt);
                continue;
            case ReplyMatch::Reply:
            case ReplyMatch::NotThisReply:
                if (arrivedAt < firstSend) {
                    ctx.wire.staleReplies.fetch_add(1, std::memory_order_relaxed);
                    continue;
                }
                if (auto status = check())
                    return status;
                continue;
            }
        }
        while ((frame.length = ctx.strays.take(target, frame.bytes, firstSend)) != 0)
            if (auto status = check())
                return status;
        if (SteadyClock::now() >= end)
            return std::nullopt;
        if (ctx.link.receiveEnded()) {
            // The adapter went away under this try (down and up again): it
            // is reopened, and the try fails only if it is still gone when
            // the window ends.
            if (!ctx.recoverLink(end, stop))
                return std::nullopt;
            continue;
        }
        ctx.link.arrivals().waitUntil(seen, end);
    }
}

// A command's send and the pause after it. Devices need this gap between
// commands. Shared: the pause is held under the lock, so that the units of a
// multi-device download keep it towards every device, whatever order their
// commands go in. PerDevice: only the send is under the lock; the caller's
// next command (to the same device) still comes after the pause.
template <class Send>
bool sendCommand(Context& ctx, CommandPacing pacing, StopToken* stop, Send&& send) {
    bool sent = false;
    {
        std::lock_guard lock(ctx.sendLock);
        sent = send();
        if (pacing == CommandPacing::Shared)
            Pause(ctx.timing.commandSendPause, stop);
    }
    if (pacing == CommandPacing::PerDevice)
        Pause(ctx.timing.commandSendPause, stop);
    return sent;
}

std::uint16_t transact(Kind kind, Context& ctx, const MacAddress& target, std::uint16_t command,
                       std::uint16_t replyCode, std::string_view password, std::uint16_t parameter,
                       std::span<const std::uint8_t> data, std::uint16_t dataLength,
                       std::span<std::uint8_t> replyData, StopToken* stop,
                       CommandPacing pacing = CommandPacing::Shared) {
    const Timing& t = ctx.timing;
    // Taken before the first send, so that a reply as quick as the wire
    // still arrives after it.
    const auto firstSend = SteadyClock::now();
    for (int attempt = 1; attempt <= t.tries; ++attempt) {
        if (stopped(stop))
            return status::kNoReply;
        auto sendTry = [&] {
            if (kind == Kind::Command)
                return sendCommand(ctx, pacing, stop, [&] {
                    return SendRequest(ctx.link, target, command, replyCode, password, parameter,
                                       data, dataLength);
                });
            return SendRequest(ctx.link, target, command, replyCode, password, parameter, {},
                               dataLength);
        };
        const Micros window = kind == Kind::Query ? t.queryWindow : t.commandWindow;
        bool sent = sendTry();
        // Refused because the adapter went away: this try waits up to its
        // window for it to come back and then sends over the reopened link.
        if (!sent && ctx.link.recoverable() && ctx.recoverLink(SteadyClock::now() + window, stop))
            sent = sendTry();
        if (!sent) {
            // A refused send counts as a failed try; only the link's state changes it.
            if (!PasswordFitsFrame(password))
                return status::kNoReply;
            continue;
        }
        if (kind == Kind::Query && !Pause(t.querySendPause, stop))
            return status::kNoReply;
        if (const auto status =
                waitForReply(ctx, target, replyCode, replyData, window, firstSend, stop)) {
            if (kind == Kind::Command && *status == status::kDoneAfterPause) {
                Pause(t.status4Pause, stop);
                return status::kDone;
            }
            return *status;
        }
    }
    return status::kNoReply;
}

} // namespace

std::uint16_t QueryDevice(Context& ctx, const MacAddress& target, std::uint16_t command,
                          std::uint16_t replyCode, std::string_view password,
                          std::uint16_t parameter, std::span<std::uint8_t> replyData,
                          StopToken* stop) {
    if (replyData.size() > kMaxRequestData)
        return status::kNoReply;
    return transact(Kind::Query, ctx, target, command, replyCode, password, parameter, {},
                    static_cast<std::uint16_t>(replyData.size()), replyData, stop);
}

std::uint16_t CommandDevice(Context& ctx, const MacAddress& target, std::uint16_t command,
                            std::uint16_t replyCode, std::string_view password,
                            std::uint16_t parameter, std::span<const std::uint8_t> data,
                            StopToken* stop, CommandPacing pacing) {
    if (data.size() > kMaxRequestData)
        return status::kNoReply;
    return transact(Kind::Command, ctx, target, command, replyCode, password, parameter, data,
                    static_cast<std::uint16_t>(data.size()), {}, stop, pacing);
}

} // namespace korvane
