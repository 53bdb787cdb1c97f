// AdapterLink on a simulated segment: notices, length limits, reopening,
// the stop flag and the bounded frame list.

#include "link/adapter_link.hpp"
#include "link/simulated_segment.hpp"
#include "protocol/frame.hpp"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <mutex>
#include <span>
#include <string>
#include <vector>

namespace korvane {
namespace {

using namespace std::chrono_literals;

const MacAddress kAdapter{{0x02, 0x00, 0x00, 0x5E, 0x00, 0x01}};
const MacAddress kDevice{{0x02, 0x19, 0xA7, 0x00, 0x00, 0x01}};

std::vector<std::uint8_t> Frame(std::uint16_t code, std::uint8_t tag = 0, std::size_t length = 60) {
    std::vector<std::uint8_t> f(length, 0);
    std::copy(kAdapter.bytes.begin(), kAdapter.bytes.end(), f.begin());
    std::copy(kDevice.bytes.begin(), kDevice.bytes.end(), f.begin() + 6);
    f[12] = 0x51, f[13] = 0x52, f[15] = 1;
    f[16] = static_cast<std::uint8_t>(code >> 8), f[17] = static_cast<std::uint8_t>(code);
    if (length > 40)
        f[40] = tag;
    return f;
}

class LinkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        segment.addAdapter("sim0", "first", kAdapter);
        segment.addAdapter("sim1", "second", MacAddress{{0x02, 0x00, 0x00, 0x5E, 0x00, 0x02}});
        device = segment.attachStation(kDevice, {});
        device->start([this](std::span<const std::uint8_t> f) {
            std::lock_guard lock(mutex);
            heard.emplace_back(f.begin(), f.end());
        });
    }
    // Puts frames on the segment from the device and waits until delivered.
    void fromDevice(const std::vector<std::vector<std::uint8_t>>& frames) {
        for (const auto& f : frames)
            device->send(f);
        segment.drain();
    }

    SimulatedSegment segment;
    std::unique_ptr<PacketPort> device;
    std::mutex mutex;
    std::vector<std::vector<std::uint8_t>> heard;
};

TEST_F(LinkTest, NoticeGoesToTheCallbackAndTheEventNotTheList) {
    AdapterLink link(segment);
    link.setDiagnosticSink(nullptr);
    std::vector<MacAddress> notified;
    link.setNoticeReceiver([&](const MacAddress& source) { notified.push_back(source); });
    ASSERT_TRUE(link.open("sim0"));

    fromDevice({Frame(code::kFirmwareNotice)});
    EXPECT_EQ(notified, std::vector<MacAddress>{kDevice});
    EXPECT_EQ(link.noticeEvent().setCount(), 1u);
    EXPECT_TRUE(link.noticeEvent().tryWait());
    EXPECT_FALSE(link.noticeEvent().tryWait()); // auto-reset: one signal, one wake
    EXPECT_EQ(link.queuedFrames(), 0u);
    EXPECT_EQ(link.counters().notices, 1u);
}

TEST_F(LinkTest, SendAndReceiveLengthLimits) {
    AdapterLink link(segment);
    link.setDiagnosticSink(nullptr);
    ASSERT_TRUE(link.open("sim0"));
    std::vector<std::uint8_t> frame = Frame(code::kCheckPassword, 0, 1601);
    std::copy(kDevice.bytes.begin(), kDevice.bytes.end(), frame.begin());
    EXPECT_FALSE(link.send(frame));
    frame.resize(1600);
    EXPECT_TRUE(link.send(frame));
    EXPECT_FALSE(link.send({}));
    segment.drain();
    {
        std::lock_guard lock(mutex);
        ASSERT_EQ(heard.size(), 1u);
        EXPECT_EQ(heard[0].size(), 1600u);
    }

    link.deliver({});
    fromDevice({Frame(code::kPasswordReply, 1, 1601), Frame(code::kPasswordReply, 2, 1600)});
    EXPECT_EQ(link.counters().droppedBadLength, 2u);
    ASSERT_EQ(link.queuedFrames(), 1u);
    // A frame longer than the reader's buffer is cut to it, never written past it.
    std::array<std::uint8_t, kEthernetMaxPayload> buffer{};
    std::size_t length = 0;
    ASSERT_TRUE(link.read(buffer, length));
    EXPECT_EQ(length, kEthernetMaxPayload);
    EXPECT_EQ(buffer[40], 2);
}

TEST_F(LinkTest, ReopeningEmptiesTheList) {
    AdapterLink link(segment);
    link.setDiagnosticSink(nullptr);
    ASSERT_TRUE(link.open("sim0"));
    fromDevice({Frame(code::kPasswordReply), Frame(code::kPasswordReply)});
    ASSERT_EQ(link.queuedFrames(), 2u);
    ASSERT_TRUE(link.open("sim1"));
    EXPECT_EQ(link.queuedFrames(), 0u);
    EXPECT_EQ(link.ownAddress(), (MacAddress{{0x02, 0x00, 0x00, 0x5E, 0x00, 0x02}}));
    EXPECT_FALSE(link.stopFlag());
}

TEST_F(LinkTest, StopFlagMakesReadAndSendFailWithFramesQueued) {
    AdapterLink link(segment);
    link.setDiagnosticSink(nullptr);
    ASSERT_TRUE(link.open("sim0"));
    fromDevice({Frame(code::kPasswordReply)});
    ASSERT_EQ(link.queuedFrames(), 1u);
    link.close();
    EXPECT_TRUE(link.stopFlag());
    EXPECT_EQ(link.queuedFrames(), 1u);
    std::array<std::uint8_t, kEthernetMaxPayload> buffer{};
    std::size_t length = 0;
    EXPECT_FALSE(link.read(buffer, length));
    EXPECT_FALSE(link.send(Frame(code::kCheckPassword)));
    EXPECT_FALSE(link.waitForFrame(SteadyClock::now() + 1s)); // returns at once
}

TEST_F(LinkTest, BoundedListDropsTheOldestAndCounts) {
    AdapterLink link(segment, 3);
    link.setDiagnosticSink(nullptr);
    ASSERT_TRUE(link.open("sim0"));
    std::vector<std::vector<std::uint8_t>> frames;
    for (std::uint8_t tag = 1; tag <= 5; ++tag)
        frames.push_back(Frame(code::kPasswordReply, tag));
    fromDevice(frames);
    EXPECT_EQ(link.queuedFrames(), 3u);
    EXPECT_EQ(link.counters().droppedListFull, 2u);
    std::array<std::uint8_t, kEthernetMaxPayload> buffer{};
    std::size_t length = 0;
    for (std::uint8_t tag = 3; tag <= 5; ++tag) {
        ASSERT_TRUE(link.read(buffer, length));
        EXPECT_EQ(buffer[40], tag);
    }
    EXPECT_FALSE(link.read(buffer, length));
}

TEST_F(LinkTest, OtherEtherTypesNeverReachTheList) {
    AdapterLink link(segment);
    link.setDiagnosticSink(nullptr);
    ASSERT_TRUE(link.open("sim0"));
    auto ipv4 = Frame(code::kPasswordReply);
    ipv4[12] = 0x08, ipv4[13] = 0x00;
    fromDevice({ipv4});
    EXPECT_EQ(link.queuedFrames(), 0u);
}

TEST_F(LinkTest, AnEndedReceiveSideClosesTheLinkUntilItIsReopened) {
    AdapterLink link(segment);
    std::vector<std::string> diagnostics;
    link.setDiagnosticSink([&](const std::string& line) { diagnostics.push_back(line); });
    ASSERT_TRUE(link.open("sim0"));
    fromDevice({Frame(code::kPasswordReply, 1)});

    segment.failAdapter("sim0", "The interface went down");
    EXPECT_FALSE(link.isOpen());
    EXPECT_TRUE(link.receiveEnded());
    ASSERT_EQ(diagnostics.size(), 1u);
    EXPECT_NE(diagnostics[0].find("sim0: The interface went down"), std::string::npos);
    // A waiter does not sleep to its deadline on a link that delivers nothing more,
    // but what came before the end is still read.
    EXPECT_TRUE(link.waitForFrame(SteadyClock::now() + 1h));
    std::array<std::uint8_t, kEthernetMaxPayload> buffer{};
    std::size_t length = 0;
    ASSERT_TRUE(link.read(buffer, length));
    EXPECT_FALSE(link.waitForFrame(SteadyClock::now() + 1h));
    EXPECT_FALSE(link.send(Frame(code::kCheckPassword)));
    EXPECT_NE(diagnostics.back().find("Send Failed; Error: The interface went down"),
              std::string::npos);

    // Opening the same adapter again starts afresh.
    ASSERT_TRUE(link.open("sim0"));
    EXPECT_TRUE(link.isOpen());
    EXPECT_FALSE(link.receiveEnded());
    fromDevice({Frame(code::kPasswordReply, 2)});
    SteadyClock::time_point arrivedAt;
    ASSERT_TRUE(link.read(buffer, length, arrivedAt));
    EXPECT_EQ(buffer[40], 2);
    EXPECT_LE(arrivedAt, SteadyClock::now());
}

// An adapter that fails between a port's open and its start: the start
// reports the end at once, as a real port's receive thread meets the error.
TEST_F(LinkTest, APortStartedAfterItsAdapterFailedReportsTheEnd) {
    OpenOptions options;
    auto opened = segment.open("sim0", options);
    ASSERT_TRUE(opened.port);
    segment.failAdapter("sim0", "The interface went down");
    std::vector<std::string> ends;
    opened.port->start([](std::span<const std::uint8_t>) {},
                       [&](const std::string& reason) { ends.push_back(reason); });
    EXPECT_EQ(ends, std::vector<std::string>{"The interface went down"});
    opened.port->stop();
}

} // namespace
} // namespace korvane
