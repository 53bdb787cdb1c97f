// Session recording: the pcap file a recording driver writes, read back with
// libpcap; its size bound; and the command line's --capture over the simulated LAN.

#include "cli/cli.hpp"
#include "link/capture_recorder.hpp"
#include "link/simulated_segment.hpp"
#include "protocol/config_blocks.hpp"
#include "protocol/frame.hpp"

#include <gtest/gtest.h>
#include <pcap/pcap.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

namespace korvane {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct ReadBack {
    int linkType = -1;
    std::vector<Bytes> frames;
};

ReadBack readCapture(const std::string& path) {
    ReadBack back;
    char error[PCAP_ERRBUF_SIZE] = {};
    pcap_t* file = pcap_open_offline(path.c_str(), error);
    if (file == nullptr) {
        ADD_FAILURE() << "cannot read " << path << ": " << error;
        return back;
    }
    back.linkType = pcap_datalink(file);
    pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    while (pcap_next_ex(file, &header, &data) == 1) {
        EXPECT_EQ(header->caplen, header->len);
        back.frames.emplace_back(data, data + header->caplen);
    }
    pcap_close(file);
    return back;
}

// A protocol frame with an empty password whose other bytes say which frame it is.
Bytes frameFrom(const MacAddress& from, const MacAddress& to, std::size_t length,
                std::uint8_t tag) {
    Bytes frame(length, tag);
    std::fill_n(frame.begin() + 22, 16, 0);
    std::copy(to.bytes.begin(), to.bytes.end(), frame.begin());
    std::copy(from.bytes.begin(), from.bytes.end(), frame.begin() + 6);
    frame[12] = 0x51;
    frame[13] = 0x52;
    return frame;
}

class CaptureTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("korvane-capture-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string file(const char* name) const { return (dir_ / name).string(); }

    std::filesystem::path dir_;
};

constexpr MacAddress kAdapterMac{{0x02, 0x00, 0x00, 0x00, 0x00, 0x01}};
constexpr MacAddress kStationMac{{0x02, 0x19, 0xA7, 0x00, 0x00, 0x09}};

TEST_F(CaptureTest, RecordsWhatAnOpenedPortSendsAndReceivesInOrder) {
    SimulatedSegment segment;
    segment.addAdapter("sim0", "test", kAdapterMac);
    auto station = segment.attachStation(kStationMac, {});
    std::atomic<int> stationGot{0};
    station->start([&](std::span<const std::uint8_t>) { ++stationGot; });

    std::string error;
    std::shared_ptr<CaptureFile> capture = CaptureFile::create(file("s.pcap"), error);
    ASSERT_TRUE(capture) << error;
    RecordingDriver driver(segment, capture);
    ASSERT_EQ(driver.listAdapters().size(), 1u);
    OpenResult opened = driver.open("sim0", {});
    ASSERT_TRUE(opened.port);
    std::atomic<int> portGot{0};
    opened.port->start([&](std::span<const std::uint8_t>) { ++portGot; });

    const Bytes request = frameFrom(kAdapterMac, kStationMac, 42, 0x11);
    const Bytes reply = frameFrom(kStationMac, kAdapterMac, 110, 0x22);
    const Bytes jumbo = frameFrom(kAdapterMac, kStationMac, 1600, 0x33);
    ASSERT_TRUE(opened.port->send(request));
    segment.drain();
    ASSERT_TRUE(station->send(reply));
    segment.drain();
    ASSERT_TRUE(opened.port->send(jumbo));
    segment.drain();
    opened.port->stop();
    station->stop();
    EXPECT_EQ(portGot.load(), 1);
    EXPECT_EQ(stationGot.load(), 2);

    EXPECT_EQ(capture->framesWritten(), 3u);
    EXPECT_EQ(capture->bytesWritten(), 24u + 3 * 16 + 42 + 110 + 1600);
    const ReadBack back = readCapture(file("s.pcap"));
    EXPECT_EQ(back.linkType, DLT_EN10MB);
    ASSERT_EQ(back.frames.size(), 3u);
    EXPECT_EQ(back.frames[0], request);
    EXPECT_EQ(back.frames[1], reply);
    EXPECT_EQ(back.frames[2], jumbo);
    EXPECT_EQ(std::filesystem::file_size(file("s.pcap")), capture->bytesWritten());
}

TEST_F(CaptureTest, StopsAtItsSizeLimitWithOneMessageAndAReadableFile) {
    // Room for the header and two 60-byte frames, and a few bytes more.
    const std::uint64_t limit = 24 + 2 * (16 + 60) + 30;
    std::string error;
    auto capture = CaptureFile::create(file("l.pcap"), error, limit);
    ASSERT_TRUE(capture) << error;
    std::vector<std::string> messages;
    capture->setMessageSink([&](const std::string& line) { messages.push_back(line); });

    for (std::uint8_t tag = 1; tag <= 4; ++tag)
        capture->record(frameFrom(kAdapterMac, kStationMac, 60, tag));
    EXPECT_TRUE(capture->stopped());
    EXPECT_EQ(capture->framesWritten(), 2u);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find(file("l.pcap")), std::string::npos) << messages[0];
    EXPECT_NE(messages[0].find("size limit of 206 bytes"), std::string::npos) << messages[0];

    const ReadBack back = readCapture(file("l.pcap"));
    ASSERT_EQ(back.frames.size(), 2u);
    EXPECT_EQ(back.frames[1][20], 2);
    EXPECT_LE(std::filesystem::file_size(file("l.pcap")), limit);
}

TEST_F(CaptureTest, FramesFromManyThreadsStayWhole) {
    std::string error;
    auto capture = CaptureFile::create(file("t.pcap"), error);
    ASSERT_TRUE(capture) << error;
    constexpr int kThreads = 4;
    constexpr int kEach = 250;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i)
                capture->record(frameFrom(kAdapterMac, kStationMac, 60 + 100 * t,
                                          static_cast<std::uint8_t>(t + 1)));
        });
    for (auto& thread : threads)
        thread.join();

    const ReadBack back = readCapture(file("t.pcap"));
    ASSERT_EQ(back.frames.size(), std::size_t{kThreads * kEach});
    for (const Bytes& frame : back.frames) {
        const std::uint8_t tag = frame.back();
        ASSERT_GE(tag, 1);
        ASSERT_LE(tag, kThreads);
        EXPECT_EQ(frame, frameFrom(kAdapterMac, kStationMac, 60 + 100 * (tag - 1), tag));
    }
}

TEST_F(CaptureTest, PasswordsAreMaskedInTheFileAndNowhereElse) {
    const MacAddress from = kAdapterMac, to = kStationMac;
    const auto block = BuildPasswordBlock("new-secret");
    ASSERT_TRUE(block);
    const Bytes none{};
    struct Case {
        const char* what;
        std::optional<RequestFrame> request;
        bool headMasked;
        bool newPasswordMasked;
    };
    const Case cases[] = {
        {"settings write with a password",
         BuildRequest(from, to, code::kWriteSettings, "old", 0, none, 68), true, false},
        {"password check, empty password",
         BuildRequest(from, to, code::kCheckPassword, "", 0, none, 0), false, false},
        {"set password", BuildRequest(from, to, code::kSetPassword, "old", 0, *block, 24), true,
         true},
        {"clear password, no current one",
         BuildRequest(from, to, code::kSetPassword, "", 0, BuildPasswordBlock("").value(), 24),
         false, false},
    };
    std::string error;
    auto capture = CaptureFile::create(file("p.pcap"), error);
    ASSERT_TRUE(capture) << error;
    for (const Case& c : cases) {
        ASSERT_TRUE(c.request) << c.what;
        capture->record(c.request->view());
    }
    // Not the protocol's EtherType: left as it is, whatever lies there.
    Bytes other(60, 0x41);
    other[12] = 0x08;
    other[13] = 0x00;
    capture->record(other);

    const ReadBack back = readCapture(file("p.pcap"));
    ASSERT_EQ(back.frames.size(), std::size(cases) + 1);
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        Bytes expected(c.request->view().begin(), c.request->view().end());
        if (c.headMasked)
            std::fill_n(expected.begin() + 22, 16, 0xFF);
        if (c.newPasswordMasked) // the block's checksum and the new password
            std::fill_n(expected.begin() + 40, 24, 0xFF);
        EXPECT_EQ(back.frames[i], expected) << c.what;
    }
    EXPECT_EQ(back.frames.back(), other);

    // Neither the new password nor its checksum (the byte sum of the
    // password) is anywhere in the file, and only its owner may read it.
    std::ifstream in(file("p.pcap"), std::ios::binary);
    std::ostringstream whole;
    whole << in.rdbuf();
    const std::string bytes = whole.str();
    EXPECT_EQ(bytes.find("new-secret"), std::string::npos);
    const std::string sum(block->begin(), block->begin() + 4);
    ASSERT_NE(sum, std::string(4, '\0'));
    EXPECT_EQ(bytes.find(sum), std::string::npos);
    EXPECT_EQ(std::filesystem::status(file("p.pcap")).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

TEST_F(CaptureTest, AFileOthersCouldReadIsNarrowedToItsOwner) {
    using std::filesystem::perms;
    std::ofstream(file("old.pcap")) << "earlier content";
    std::filesystem::permissions(file("old.pcap"), perms::owner_read | perms::owner_write |
                                                       perms::group_read | perms::others_read);
    std::string error;
    auto capture = CaptureFile::create(file("old.pcap"), error);
    ASSERT_TRUE(capture) << error;
    capture->record(frameFrom(kAdapterMac, kStationMac, 60, 0x11));
    EXPECT_EQ(std::filesystem::status(file("old.pcap")).permissions() & perms::all,
              perms::owner_read | perms::owner_write);
    const ReadBack back = readCapture(file("old.pcap"));
    EXPECT_EQ(back.linkType, DLT_EN10MB);
    EXPECT_EQ(back.frames.size(), 1u);
}

namespace cli_run {
struct Outcome {
    int status;
    std::string out;
    std::string err;
};
Outcome run(const std::vector<std::string>& args) {
    std::istringstream in;
    std::ostringstream out, err;
    const int status = cli::Run(args, cli::Streams{in, out, err, false});
    return {status, out.str(), err.str()};
}
} // namespace cli_run

TEST_F(CaptureTest, CommandLineRecordsASearchOnTheSimulatedLan) {
    const auto outcome =
        cli_run::run({"--capture", file("search.pcap"), "--simulate", "2", "search"});
    ASSERT_EQ(outcome.status, 0) << outcome.err;

    const ReadBack back = readCapture(file("search.pcap"));
    EXPECT_EQ(back.linkType, DLT_EN10MB);
    ASSERT_FALSE(back.frames.empty());
    EXPECT_EQ(back.frames[0].size(), kDiscoveryRequestLength);
    std::set<MacAddress> answered;
    for (const Bytes& frame : back.frames) {
        const auto header = ParseHeader(frame);
        ASSERT_TRUE(header);
        if (header->code == code::kDiscoverReply)
            answered.insert(header->source);
    }
    EXPECT_EQ(answered.size(), 2u);
}

TEST_F(CaptureTest, CommandLineRefusesAFileItCannotWriteBeforeDoingAnything) {
    const std::string path = file("missing-folder/x.pcap");
    const auto outcome = cli_run::run({"--capture", path, "--simulate", "2", "search"});
    EXPECT_EQ(outcome.status, 2);
    EXPECT_EQ(outcome.out, "");
    EXPECT_NE(outcome.err.find("korvane: --capture: cannot write " + path), std::string::npos)
        << outcome.err;
    EXPECT_EQ(cli_run::run({"--simulate", "2", "--capture"}).status, 2);
}

} // namespace
} // namespace korvane
