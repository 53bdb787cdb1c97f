// QueryDevice and CommandDevice against emulated devices.

#include "base/byte_cursor.hpp"
#include "config/blocks.hpp"
#include "emulator_fixture.hpp"
#include "link/simulated_segment.hpp"
#include "protocol/transactions.hpp"
#include "wire_fields.hpp"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <future>
#include <thread>
#include <vector>

namespace korvane {
namespace {

using namespace testing;
using sim::DeviceFaults;
using sim::StatusRule;

std::uint16_t CheckPassword(TestLan& net, const MacAddress& target,
                            std::string_view password = "") {
    return QueryDevice(*net.ctx, target, code::kCheckPassword, code::kPasswordReply, password, 0,
                       {});
}

std::uint16_t SetPassword(TestLan& net, const MacAddress& target) {
    const auto block = BuildPasswordBlock("new");
    return CommandDevice(*net.ctx, target, code::kSetPassword, code::kPasswordReply, "", 0, *block);
}

TEST(ProtocolTransaction, ReplyAfterADelayIsTakenInTheFirstTry) {
    TestLan net(1);
    DeviceFaults faults;
    faults.replyDelay = 60ms; // a quarter of the window
    net.device(0).setFaults(faults);

    std::array<std::uint8_t, kSettingsReadSize> data{};
    const auto start = SteadyClock::now();
    const auto status =
        QueryDevice(*net.ctx, net.mac(0), code::kReadSettings, code::kSettingsReply, "", 0, data);
    EXPECT_GE(SteadyClock::now() - start, 60ms);
    EXPECT_EQ(status, status::kDone);
    EXPECT_EQ(net.device(0).stats().requestCount(code::kReadSettings), 1u);
    SettingsBlock expected = net.device(0).settings();
    expected.seal(kSettingsReadSize);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), expected.bytes.begin()));
    EXPECT_EQ(net.device(0).stats().totalViolations(), 0u);
}

TEST(ProtocolTransaction, SilentDeviceCostsFiveTriesAndGivesZero) {
    TestLan net(1, SilentTiming());
    DeviceFaults faults;
    faults.neverAnswer = true;
    net.device(0).setFaults(faults);

    auto start = SteadyClock::now();
    EXPECT_EQ(CheckPassword(net, net.mac(0)), status::kNoReply);
    EXPECT_GE(SteadyClock::now() - start, 5 * net.ctx->timing.queryWindow);
    EXPECT_EQ(SetPassword(net, net.mac(0)), status::kNoReply);
    net.lan.segment().drain();
    const auto stats = net.device(0).stats();
    EXPECT_EQ(stats.requestCount(code::kCheckPassword), 5u);
    EXPECT_EQ(stats.requestCount(code::kSetPassword), 5u);
    EXPECT_EQ(stats.totalViolations(), 0u);
}

TEST(ProtocolTransaction, AStopOnAnyTokenEndsAWindowThatNobodyAnswers) {
    // A window far longer than the test: only the stop can end it. The
    // token was never told about the link; the wait registers it itself.
    Timing timing = TestTiming();
    timing.queryWindow = 600s;
    timing.commandWindow = 600s;
    TestLan net(1, timing);
    DeviceFaults faults;
    faults.neverAnswer = true;
    net.device(0).setFaults(faults);

    for (const std::uint16_t command : {code::kCheckPassword, code::kSetPassword}) {
        StopToken stop;
        std::future<std::uint16_t> status = std::async(std::launch::async, [&] {
            if (command == code::kCheckPassword)
                return QueryDevice(*net.ctx, net.mac(0), command, code::kPasswordReply, "", 0, {},
                                   &stop);
            const auto block = BuildPasswordBlock("new");
            return CommandDevice(*net.ctx, net.mac(0), command, code::kPasswordReply, "", 0, *block,
                                 &stop);
        });
        ASSERT_TRUE(net.device(0).waitForRequests(command, 1, Deadline()));
        const auto stopAt = SteadyClock::now();
        stop.requestStop();
        ASSERT_EQ(status.wait_for(10s), std::future_status::ready);
        EXPECT_EQ(status.get(), status::kNoReply);
        EXPECT_LT(SteadyClock::now() - stopAt, 10s);
    }
}

TEST(ProtocolTransaction, Status4IsDoneAfterThePauseForCommandsOnly) {
    Timing timing = TestTiming();
    timing.status4Pause = 80ms;
    TestLan net(1, timing);
    DeviceFaults faults;
    faults.statusRules = {{code::kSetPassword, {}, status::kDoneAfterPause},
                          {code::kCheckPassword, {}, status::kDoneAfterPause}};
    net.device(0).setFaults(faults);

    const auto start = SteadyClock::now();
    EXPECT_EQ(SetPassword(net, net.mac(0)), status::kDone);
    EXPECT_GE(SteadyClock::now() - start, 80ms);
    EXPECT_EQ(net.device(0).password(), "new"); // status 4 means it was done
    EXPECT_EQ(CheckPassword(net, net.mac(0), "new"), status::kDoneAfterPause);
}

TEST(ProtocolTransaction, BusyAndOtherStatusesArePassedThroughWithoutResending) {
    TestLan net(1);
    for (const std::uint16_t s : {status::kBusy, std::uint16_t{7}, status::kNoReply}) {
        SCOPED_TRACE(s);
        const auto before = net.device(0).stats().requestCount(code::kSetPassword);
        DeviceFaults faults;
        faults.statusRules = {{code::kSetPassword, {}, s}};
        net.device(0).setFaults(faults);
        EXPECT_EQ(SetPassword(net, net.mac(0)), s);
        EXPECT_EQ(net.device(0).stats().requestCount(code::kSetPassword), before + 1);
    }
}

TEST(ProtocolTransaction, WrongVersionOrReplyCodeIsNoReply) {
    for (const bool wrongVersion : {true, false}) {
        SCOPED_TRACE(wrongVersion ? "version 2" : "command code plus one");
        TestLan net(1, SilentTiming());
        DeviceFaults faults;
        faults.wrongVersion = wrongVersion;
        faults.wrongReplyCode = !wrongVersion;
        net.device(0).setFaults(faults);
        EXPECT_EQ(CheckPassword(net, net.mac(0)), status::kNoReply);
        net.lan.segment().drain();
        EXPECT_EQ(net.device(0).stats().replies, 5u); // it did answer, every try
    }
}

// A station that answers each password check to it with status 2 from inside
// its receiver, so its reply arrives while the utility's transaction runs.
std::unique_ptr<PacketPort> AnsweringStation(TestLan& net, const MacAddress& mac) {
    auto station = net.lan.segment().attachStation(mac, {});
    PacketPort* port = station.get();
    station->start([port, mac, own = net.own()](std::span<const std::uint8_t> request) {
        const auto header = ParseHeader(request);
        if (!header || header->code != code::kCheckPassword)
            return;
        std::vector<std::uint8_t> reply(60, 0);
        std::copy(own.bytes.begin(), own.bytes.end(), reply.begin());
        std::copy(mac.bytes.begin(), mac.bytes.end(), reply.begin() + 6);
        reply[12] = 0x51, reply[13] = 0x52, reply[15] = 1; // EtherType, version 1
        reply[16] = 0x70, reply[17] = 0x03, reply[21] = 2; // 0x7003, status 2
        port->send(reply);
    });
    return station;
}

TEST(ProtocolTransaction, ReplyReadByAnotherTransactionWaitsInTheStrayQueueForItsOwner) {
    TestLan net(1);
    const MacAddress b{{0x02, 0x19, 0xA7, 0x00, 0x0B, 0x0B}};
    auto stationB = AnsweringStation(net, b);
    DeviceFaults slow;
    slow.replyDelay = 30ms; // A's transaction is still reading when B's reply comes
    net.device(0).setFaults(slow);
    auto a = std::async(std::launch::async, [&] { return CheckPassword(net, net.mac(0)); });
    EXPECT_EQ(CheckPassword(net, b), status::kDone);
    EXPECT_EQ(a.get(), status::kDone);
    EXPECT_EQ(net.ctx->strays.size(), 0u);
}

TEST(ProtocolTransaction, ConcurrentTransactionsEachGetTheirOwnReplyInOneTry) {
    constexpr int kDevices = 8;
    constexpr int kRounds = 5;
    TestLan net(kDevices);
    for (int i = 0; i < kDevices; ++i) {
        DeviceFaults faults;
        faults.replyDelay = std::chrono::milliseconds(i % 3); // replies interleave
        net.device(static_cast<std::size_t>(i)).setFaults(faults);
    }
    std::vector<std::future<bool>> runs;
    for (int i = 0; i < kDevices; ++i)
        runs.push_back(std::async(std::launch::async, [&net, i] {
            bool ok = true;
            const MacAddress target = net.mac(static_cast<std::size_t>(i));
            for (int round = 0; round < kRounds; ++round) {
                std::array<std::uint8_t, kSettingsReadSize> data{};
                ok &= QueryDevice(*net.ctx, target, code::kReadSettings, code::kSettingsReply, "",
                                  0, data) == status::kDone;
                // Each device's own settings came back, not a neighbour's.
                ok &= readU32(data, settings_offset::kIpAddress) == 0xC0A80164u + i;
            }
            return ok;
        }));
    for (auto& run : runs)
        EXPECT_TRUE(run.get());
    for (int i = 0; i < kDevices; ++i)
        EXPECT_EQ(net.device(static_cast<std::size_t>(i)).stats().requestCount(code::kReadSettings),
                  static_cast<std::uint64_t>(kRounds));
}

TEST(ProtocolTransaction, OwnLoopedBackFramesAreNeverReplies) {
    TestLan net(1, SilentTiming());
    // A station with the adapter's own address plays the looped-back frame.
    auto echo = net.lan.segment().attachStation(net.own(), {});
    std::vector<std::uint8_t> frame(60, 0);
    const MacAddress own = net.own();
    std::copy(own.bytes.begin(), own.bytes.end(), frame.begin());
    std::copy(own.bytes.begin(), own.bytes.end(), frame.begin() + 6);
    frame[12] = 0x51, frame[13] = 0x52, frame[15] = 1;
    frame[16] = 0x70, frame[17] = 0x03, frame[21] = 2;
    echo->send(frame);
    net.lan.segment().drain();

    EXPECT_EQ(CheckPassword(net, net.mac(0)), status::kDone);
    EXPECT_EQ(net.ctx->strays.size(), 0u); // dropped, not queued for anyone
    echo->send(frame);
    net.lan.segment().drain();
    EXPECT_EQ(CheckPassword(net, own), status::kNoReply);
}

TEST(ProtocolTransaction, PasswordLongerThanTheFieldSendsNothing) {
    TestLan net(1);
    net.device(0).setPassword("123456789012345");
    EXPECT_EQ(CheckPassword(net, net.mac(0), "123456789012345"), status::kDone);
    EXPECT_EQ(CheckPassword(net, net.mac(0), "1234567890123456"), status::kNoReply);
    net.lan.segment().drain();
    EXPECT_EQ(net.device(0).stats().requestCount(code::kCheckPassword), 1u);
}

TEST(ProtocolTransaction, AReplyThatArrivedBeforeTheFirstSendAnswersNoLaterTransaction) {
    // 0x7003 answers both the password check and the password write: a
    // refusal of a check that gave up must not be read as the write's answer.
    Timing timing = SilentTiming();
    timing.tries = 1;
    timing.commandWindow = 300ms; // also how long the stray queue keeps an entry
    TestLan net(1, timing);
    DeviceFaults late;
    late.statusRules = {{code::kCheckPassword, {}, status::kPasswordRefused, 1}};
    late.replyDelay = 100ms; // well after the 20 ms window
    net.device(0).setFaults(late);
    EXPECT_EQ(CheckPassword(net, net.mac(0)), status::kNoReply);
    net.device(0).setFaults({});
    ASSERT_TRUE(net.ctx->link.waitForFrame(Deadline()));
    EXPECT_EQ(SetPassword(net, net.mac(0)), status::kDone);
    EXPECT_EQ(net.device(0).password(), "new");
    EXPECT_EQ(net.ctx->wire.staleReplies.load(), 1u);

    // The same when another device's transaction had moved it to the stray queue.
    net.device(0).setFaults(late);
    EXPECT_EQ(CheckPassword(net, net.mac(0), "new"), status::kNoReply);
    ASSERT_TRUE(net.ctx->link.waitForFrame(Deadline()));
    const MacAddress silent{{0x02, 0x19, 0xA7, 0x00, 0x0C, 0x0C}};
    EXPECT_EQ(CheckPassword(net, silent), status::kNoReply);
    EXPECT_EQ(net.ctx->strays.size(), 1u);
    DeviceFaults fresh;
    fresh.replyDelay = 5ms; // the queued refusal is looked at before this reply comes
    net.device(0).setFaults(fresh);
    EXPECT_EQ(CheckPassword(net, net.mac(0), "new"), status::kDone);
    EXPECT_EQ(net.ctx->strays.staleDropped(), 1u);
}

TEST(ProtocolTransaction, AReplyToTheFirstTryArrivingDuringTheSecondIsAccepted) {
    Timing timing = SilentTiming();
    timing.tries = 2;
    timing.queryWindow = 200ms;
    TestLan net(1, timing);
    DeviceFaults slow;
    slow.replyDelay = 300ms; // past try 1's window, inside try 2's
    net.device(0).setFaults(slow);
    EXPECT_EQ(CheckPassword(net, net.mac(0)), status::kDone);
    net.lan.segment().drain();
    EXPECT_EQ(net.device(0).stats().requestCount(code::kCheckPassword), 2u);
}

// The adapter goes down under a waiting transaction and comes back: the
// transaction goes on over the reopened link with its remaining tries. Down
// while the transaction waits for its reply (the reply is lost) and down
// before it sends (its send is refused until the adapter is back).
TEST(ProtocolTransaction, AnAdapterThatComesBackWithinTheWindowCarriesTheTransactionOn) {
    for (const bool beforeSend : {false, true}) {
        TestLan net(1);
        SimulatedSegment& segment = net.lan.segment();
        // The first try goes unanswered, as if its reply was lost in the down.
        DeviceFaults silent;
        silent.silentCommands = {code::kSetPassword};
        if (!beforeSend)
            net.device(0).setFaults(silent);
        if (beforeSend)
            segment.setAdapterDown("sim0", true);
        auto done = std::async(std::launch::async, [&] { return SetPassword(net, net.mac(0)); });
        if (!beforeSend) {
            ASSERT_TRUE(net.device(0).waitForRequests(code::kSetPassword, 1, Deadline()));
            segment.setAdapterDown("sim0", true);
        }
        // Up again once the transaction has tried to reopen it and found it down.
        const auto deadline = Deadline();
        while (net.ctx->link.lastOpenFailure() != OpenFailure::NoLink &&
               SteadyClock::now() < deadline)
            std::this_thread::yield();
        ASSERT_EQ(net.ctx->link.lastOpenFailure(), OpenFailure::NoLink);
        net.device(0).setFaults({});
        segment.setAdapterDown("sim0", false);

        EXPECT_EQ(done.get(), status::kDone) << beforeSend;
        EXPECT_TRUE(net.ctx->link.isOpen());
        EXPECT_EQ(net.ctx->link.recoveries(), 1u);
        // Lost in the down: the reply to the first try; sent after it: the second try.
        EXPECT_EQ(net.device(0).stats().requestCount(code::kSetPassword), beforeSend ? 1u : 2u);
    }
}

TEST(ProtocolTransaction, AnAdapterStillGoneAtTheEndOfEveryWindowFailsTheTransaction) {
    Timing timing = SilentTiming();
    timing.tries = 3;
    TestLan net(1, timing);
    net.lan.segment().setAdapterDown("sim0", true);
    const auto start = SteadyClock::now();
    EXPECT_EQ(CheckPassword(net, net.mac(0)), status::kNoReply);
    // Each try waited its window for the adapter before it counted as failed.
    EXPECT_GE(SteadyClock::now() - start, 3 * timing.queryWindow);
    EXPECT_EQ(net.device(0).stats().requestCount(code::kCheckPassword), 0u);
    EXPECT_EQ(net.ctx->link.recoveries(), 0u);
    EXPECT_EQ(net.ctx->link.lastOpenError(), "the adapter is down");
}

} // namespace
} // namespace korvane
