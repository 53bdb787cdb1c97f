// The per-frame log: the line for each kind of frame (short and hostile ones
// included), the driver's whole lines from many threads, and the environment
// logging a search and a password exchange on the simulated LAN.

#include "app/environment.hpp"
#include "devices/search.hpp"
#include "hex_bytes.hpp"
#include "link/capture_recorder.hpp"
#include "link/simulated_segment.hpp"
#include "protocol/config_blocks.hpp"
#include "protocol/frame.hpp"
#include "protocol/frame_log.hpp"
#include "protocol/password.hpp"
#include "protocol/transactions.hpp"
#include "sim/simulated_lan.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace korvane {
namespace {

using namespace std::chrono_literals;
using testing::Hex;

const MacAddress kAdapterMac{{0x02, 0x00, 0x00, 0x5E, 0x00, 0x01}};
const MacAddress kDeviceMac{{0x02, 0x19, 0xA7, 0x00, 0x00, 0x01}};

// The frame in a heap block of exactly its size, so that the address
// sanitizer catches a read past its end.
class ExactFrame {
  public:
    explicit ExactFrame(const std::vector<std::uint8_t>& bytes)
        : bytes_(new std::uint8_t[bytes.size()]), size_(bytes.size()) {
        std::copy(bytes.begin(), bytes.end(), bytes_.get());
    }
    std::span<const std::uint8_t> view() const { return {bytes_.get(), size_}; }

  private:
    std::unique_ptr<std::uint8_t[]> bytes_;
    std::size_t size_;
};

std::vector<std::uint8_t> Request(std::uint16_t command, std::string_view password,
                                  std::uint16_t parameter = 0,
                                  std::span<const std::uint8_t> data = {},
                                  std::uint16_t dataLength = 0) {
    const auto frame =
        BuildRequest(kAdapterMac, kDeviceMac, command, password, parameter, data, dataLength);
    EXPECT_TRUE(frame);
    return {frame->view().begin(), frame->view().end()};
}

std::vector<std::uint8_t> Cut(std::vector<std::uint8_t> frame, std::size_t length) {
    frame.resize(length);
    return frame;
}

// A reply from the device, padded to the Ethernet minimum as it arrives.
std::vector<std::uint8_t> Reply(std::string_view head) {
    auto frame = Hex(R"(02 00 00 5E 00 01  02 19 A7 00 00 01  51 52)");
    const auto rest = Hex(head);
    frame.insert(frame.end(), rest.begin(), rest.end());
    frame.resize(60);
    return frame;
}

TEST(FrameLogLine, DescribesEachKindOfFrameFromWhatItHolds) {
    const std::vector<std::uint8_t> block(1024, 0x5A);
    const auto sent = FrameDirection::Sent;
    const auto received = FrameDirection::Received;
    struct Case {
        const char* what;
        FrameDirection direction;
        std::vector<std::uint8_t> frame;
        const char* expected; // after the time and "sent sim0 " / "received sim0 "
    };
    const Case cases[] = {
        {"discovery", sent,
         [] {
             const auto f = BuildDiscoveryRequest(kAdapterMac);
             return std::vector<std::uint8_t>(f.view().begin(), f.view().end());
         }(),
         "to FF-FF-FF-FF-FF-FF discover (0x1001) status 0, 41 bytes"},
        {"discovery reply", received, Reply("00 01  10 02  00 00  00 02"),
         "from 02-19-A7-00-00-01 discover reply (0x1002) status 2, 60 bytes"},
        {"settings read, empty password", sent, Request(code::kReadSettings, "", 0, {}, 68),
         "to 02-19-A7-00-00-01 read settings (0x2002) status 0, 110 bytes"},
        {"settings write with a password", sent, Request(code::kWriteSettings, "pw", 0, block, 68),
         "to 02-19-A7-00-00-01 write settings (0x2001) status 0, with password, 110 bytes"},
        {"firmware block 5", sent, Request(code::kFirmwareBlock, "", 5, block, 1024),
         "to 02-19-A7-00-00-01 firmware block (0x3001) block 5 status 0, 1066 bytes"},
        {"end of transfer", sent, Request(code::kFirmwareEnd, "", 0, block, 8),
         "to 02-19-A7-00-00-01 end of transfer (0x3005) status 0, 50 bytes"},
        {"factory reply, refused", received, Reply("00 01  F0 00  00 00  00 01"),
         "from 02-19-A7-00-00-01 factory reply (0xF000) status 1, 60 bytes"},
        {"unknown code", received, Reply("00 01  BE EF  00 00  00 02"),
         "from 02-19-A7-00-00-01 0xBEEF status 2, 60 bytes"},
        {"another version", received, Reply("00 02  70 03  00 00  00 02"),
         "from 02-19-A7-00-00-01 password reply (0x7003) version 2 status 2, 60 bytes"},
        {"ARP probe", sent, Hex(R"(FF FF FF FF FF FF  02 00 00 5E 00 01  08 06
                00 01 08 00 06 04 00 01)"),
         "to FF-FF-FF-FF-FF-FF ARP, 22 bytes"},
        {"IPv4", received, Hex("02 00 00 5E 00 01  0A 0B 0C 0D 0E 0F  08 00  45 00"),
         "from 0A-0B-0C-0D-0E-0F EtherType 0x0800, 16 bytes"},
        // Short and cut frames: each field only when it is there whole.
        {"empty", received, {}, "short frame, 0 bytes"},
        {"destination only, received", received, Hex("02 00 00 5E 00 01  02 19"),
         "short frame, 8 bytes"},
        {"destination only, sent", sent, Hex("02 19 A7 00 00 01  02 00"),
         "to 02-19-A7-00-00-01 short frame, 8 bytes"},
        {"no EtherType whole", received, Hex("02 00 00 5E 00 01  02 19 A7 00 00 01  51"),
         "from 02-19-A7-00-00-01 short frame, 13 bytes"},
        {"version cut", received, Cut(Reply("00 01  70 03"), 15),
         "from 02-19-A7-00-00-01 protocol frame, head cut short, 15 bytes"},
        {"no status", received, Cut(Reply("00 01  70 03  00 00  00 02"), 21),
         "from 02-19-A7-00-00-01 password reply (0x7003), head cut short, 21 bytes"},
        {"empty password field cut", sent, Cut(Request(code::kCheckPassword, ""), 30),
         "to 02-19-A7-00-00-01 check password (0x7001) status 0, head cut short, 30 bytes"},
        {"password field cut", sent, Cut(Request(code::kCheckPassword, "abc"), 23),
         "to 02-19-A7-00-00-01 check password (0x7001) status 0, with password, head cut "
         "short, 23 bytes"},
    };
    for (const Case& c : cases) {
        const ExactFrame frame(c.frame);
        const std::string prefix =
            std::string("09:05:03.042 ") + (c.direction == sent ? "sent" : "received") + " sim0 ";
        EXPECT_EQ(FormatFrameLogLine(9h + 5min + 3s + 42ms, c.direction, "sim0", frame.view()),
                  prefix + c.expected)
            << c.what;
    }
}

TEST(FrameLogLine, TimeOfDayAndAdapterNameAreShownSafely) {
    const ExactFrame frame(Reply("00 01  10 02  00 00  00 02"));
    EXPECT_TRUE(FormatFrameLogLine(0ms, FrameDirection::Received, "eth0", frame.view())
                    .starts_with("00:00:00.000 received eth0 from "));
    EXPECT_TRUE(FormatFrameLogLine(24h - 1ms, FrameDirection::Sent, "eth0", frame.view())
                    .starts_with("23:59:59.999 sent eth0 to "));
    // An adapter name is the system's text: no control character reaches a terminal.
    EXPECT_TRUE(FormatFrameLogLine(0ms, FrameDirection::Sent, "a\nb\x1b", frame.view())
                    .starts_with(R"(00:00:00.000 sent a\x0Ab\x1B to )"));
}

TEST(FrameLogLine, EveryProtocolCodeHasItsOwnName) {
    std::set<std::string_view> names;
    int named = 0;
    for (std::uint32_t value = 0; value <= 0xFFFF; ++value) {
        const std::string_view name = CommandName(static_cast<std::uint16_t>(value));
        if (name.empty())
            continue;
        ++named;
        names.insert(name);
    }
    EXPECT_EQ(named, 16); // the commands and replies of the protocol, the notice included
    EXPECT_EQ(names.size(), 16u);
    EXPECT_EQ(CommandName(code::kWriteSettings), "write settings");
    EXPECT_EQ(CommandName(code::kReadSettings), "read settings");
    EXPECT_EQ(CommandName(code::kFirmwareNotice), "completion notice");
}

// Collects the lines of a frame log and checks that the sink is never
// entered by two threads at once.
struct LineSink {
    std::mutex mutex;
    std::vector<std::string> lines;
    std::atomic<int> inside{0};
    std::atomic<int> overlaps{0};

    std::function<void(const std::string&)> sink() {
        return [this](const std::string& line) {
            if (inside.fetch_add(1) != 0)
                ++overlaps;
            {
                std::lock_guard lock(mutex);
                lines.push_back(line);
            }
            std::this_thread::yield(); // widen the window a missing lock would leave open
            inside.fetch_sub(1);
        };
    }
    std::vector<std::string> taken() {
        std::lock_guard lock(mutex);
        return lines;
    }
};

TEST(FrameLogDriver, LinesFromSendingThreadsAndTheReceiveThreadStayWhole) {
    SimulatedSegment segment;
    segment.addAdapter("sim0", "test", kAdapterMac);
    auto station = segment.attachStation(kDeviceMac, {});
    station->start([](std::span<const std::uint8_t>) {});
    LineSink log;
    FrameLogDriver driver(segment, log.sink());
    OpenResult opened = driver.open("sim0", {});
    ASSERT_TRUE(opened.port);
    opened.port->start([](std::span<const std::uint8_t>) {});

    constexpr int kThreads = 3;
    constexpr int kEach = 100;
    const auto request = Request(code::kCheckPassword, "");
    const auto reply = Reply("00 01  70 03  00 00  00 02");
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < kEach; ++i)
                EXPECT_TRUE(opened.port->send(request));
        });
    for (int i = 0; i < kEach; ++i)
        ASSERT_TRUE(station->send(reply));
    for (auto& thread : threads)
        thread.join();
    segment.drain();
    opened.port->stop();
    station->stop();

    EXPECT_EQ(log.overlaps.load(), 0);
    const auto lines = log.taken();
    ASSERT_EQ(lines.size(), std::size_t{(kThreads + 1) * kEach});
    const std::regex whole(R"(\d\d:\d\d:\d\d\.\d{3} (sent sim0 to 02-19-A7-00-00-01 check )"
                           R"(password \(0x7001\) status 0, 42 bytes|received sim0 from )"
                           R"(02-19-A7-00-00-01 password reply \(0x7003\) status 2, 60 bytes))");
    for (const std::string& line : lines)
        ASSERT_TRUE(std::regex_match(line, whole)) << line;
}

TEST(FrameLogDriver, ASendTheAdapterRefusesGetsALineOfItsOwn) {
    SimulatedSegment segment;
    segment.addAdapter("sim0", "test", kAdapterMac);
    LineSink log;
    FrameLogDriver driver(segment, log.sink());
    OpenResult opened = driver.open("sim0", {});
    ASSERT_TRUE(opened.port);
    opened.port->start([](std::span<const std::uint8_t>) {});
    segment.failAdapter("sim0", "cable out");
    EXPECT_FALSE(opened.port->send(Request(code::kCheckPassword, "")));
    opened.port->stop();

    const auto lines = log.taken();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find(" sent sim0 to 02-19-A7-00-00-01 check password"), std::string::npos);
    EXPECT_NE(lines[1].find(" send failed on sim0"), std::string::npos) << lines[1];
}

// The environment over the simulated LAN, as the command line builds it.
class FrameLogEnvironment : public ::testing::Test {
  protected:
    static Timing testTiming() {
        Timing t = Timing::defaults().scaled(0.02);
        t.discoveryWindow = Millis(150);
        t.queryWindow = Millis(250);
        t.commandWindow = Millis(250);
        t.tries = 2;
        return t;
    }
    EnvironmentOptions loggingOptions() {
        EnvironmentOptions options;
        options.timing = testTiming();
        options.frameLog = log.sink();
        return options;
    }
    static std::vector<std::string> matching(const std::vector<std::string>& lines,
                                             const std::string& part) {
        std::vector<std::string> found;
        for (const std::string& line : lines)
            if (line.find(part) != std::string::npos)
                found.push_back(line);
        return found;
    }

    LineSink log;
};

TEST_F(FrameLogEnvironment, SearchLogsDiscoveryAndEachDevicesReplies) {
    const auto capturePath = std::filesystem::temp_directory_path() /
                             ("korvane-framelog-" + std::to_string(::getpid()) + ".pcap");
    std::string error;
    std::shared_ptr<CaptureFile> capture = CaptureFile::create(capturePath.string(), error);
    ASSERT_TRUE(capture) << error;
    {
        EnvironmentOptions options = loggingOptions();
        options.simulate = 2;
        options.capture = capture; // both at once: each sees every frame
        Environment env(options);
        StopToken stop;
        const auto result = RunSearchCycle(env.context(), {}, stop);
        ASSERT_TRUE(result);
        EXPECT_EQ(result->table.records.size(), 2u);
    }
    const std::uint64_t framesWritten = capture->framesWritten();
    capture.reset(); // closed first: Windows deletes no open file
    std::filesystem::remove(capturePath);

    const auto lines = log.taken();
    const auto discovery =
        matching(lines, " sent sim0 to FF-FF-FF-FF-FF-FF discover (0x1001) status 0, 41 bytes");
    ASSERT_EQ(discovery.size(), 1u);
    EXPECT_EQ(framesWritten, lines.size());
    for (const char* device : {"02-19-A7-00-00-01", "02-19-A7-00-00-02"}) {
        const std::string from = std::string(" received sim0 from ") + device;
        EXPECT_EQ(matching(lines, from + " discover reply (0x1002) status 2, ").size(), 1u)
            << device;
        EXPECT_EQ(matching(lines, std::string(" sent sim0 to ") + device +
                                      " read settings (0x2002) status 0, 110 bytes")
                      .size(),
                  1u)
            << device;
        EXPECT_EQ(matching(lines, from + " settings reply (0x2003) status 2, ").size(), 1u)
            << device;
    }
    // The request is logged before it goes out, so before any of its replies.
    EXPECT_EQ(lines.front(), discovery.front());
}

TEST_F(FrameLogEnvironment, PasswordsShowOnlyAsPresent) {
    const std::string password = "Qx7-owl-K2";
    const std::string newPassword = "Vb4-elk-R9";
    sim::LanOptions lanOptions;
    lanOptions.devices = 1;
    lanOptions.password = password;
    sim::SimulatedLan lan(lanOptions);
    {
        Environment env(loggingOptions(), lan.segment());
        ASSERT_TRUE(env.context().openAdapter(0));
        EXPECT_EQ(CheckPassword(env.context(), kDeviceMac, password), status::kDone);
        const auto block = BuildPasswordBlock(newPassword);
        ASSERT_TRUE(block);
        EXPECT_EQ(CommandDevice(env.context(), kDeviceMac, code::kSetPassword, code::kPasswordReply,
                                password, 0, *block),
                  status::kDone);
    }
    const auto lines = log.taken();
    EXPECT_EQ(matching(lines, " check password (0x7001) status 0, with password, 42 bytes").size(),
              1u);
    EXPECT_EQ(matching(lines, " set password (0x7002) status 0, with password, 66 bytes").size(),
              1u);
    EXPECT_EQ(matching(lines, " password reply (0x7003) status 2, ").size(), 2u);
    for (const std::string& secret : {password, newPassword})
        for (const std::string& line : lines)
            EXPECT_EQ(line.find(secret.substr(0, 3)), std::string::npos) << line;
}

TEST_F(FrameLogEnvironment, WrapsTheDriverOnlyWhenALogIsWanted) {
    SimulatedSegment segment;
    segment.addAdapter("sim0", "test", kAdapterMac);
    {
        Environment plain(EnvironmentOptions{}, segment);
        EXPECT_EQ(&plain.context().driver, &segment);
    }
    Environment logged(loggingOptions(), segment);
    EXPECT_NE(dynamic_cast<FrameLogDriver*>(&logged.context().driver), nullptr);
}

} // namespace
} // namespace korvane
