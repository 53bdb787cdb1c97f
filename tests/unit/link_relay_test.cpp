// The raw-frame relay in process: RelayServer on a simulated segment, spoken
// to byte by byte as a hostile client would, and through RelayDriver as the
// programs do. What must hold: the relay puts nothing on the wire that is
// not this protocol's from the adapter's own MAC or the address probe's
// request, answers every refusal, survives no malformed message on the
// connection it came on, and its end reaches the link as the receive side
// ending.

#include "app/link_access.hpp"
#include "base/byte_cursor.hpp"
#include "link/adapter_link.hpp"
#include "link/simulated_segment.hpp"
#include "protocol/arp.hpp"
#include "relay/relay_driver.hpp"
#include "relay/relay_protocol.hpp"
#include "relay/relay_server.hpp"
#include "relay/relay_socket.hpp"
#include "wire_fields.hpp"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace korvane {
namespace {

using namespace std::chrono_literals;
using relay::Message;
using relay::MessageType;
using relay::PortKind;

const MacAddress kAdapter{{0x02, 0x00, 0x00, 0x5E, 0x00, 0x01}};
const MacAddress kSecond{{0x02, 0x00, 0x00, 0x5E, 0x00, 0x02}};
const MacAddress kDevice{{0x02, 0x19, 0xA7, 0x00, 0x00, 0x01}};
constexpr auto kWait = 5s; // only a failing test waits this long
constexpr std::uint32_t kProbed = 0xC0A80107;

std::vector<std::uint8_t> ProtocolFrame(const MacAddress& to, const MacAddress& from,
                                        std::uint16_t etherType = 0x5152, std::uint8_t tag = 0) {
    std::vector<std::uint8_t> f(60, 0);
    std::copy(to.bytes.begin(), to.bytes.end(), f.begin());
    std::copy(from.bytes.begin(), from.bytes.end(), f.begin() + 6);
    f[12] = static_cast<std::uint8_t>(etherType >> 8);
    f[13] = static_cast<std::uint8_t>(etherType);
    f[15] = 1;
    f[40] = tag;
    return f;
}

// What a station on the segment heard, waited for without sleeping.
class Heard {
  public:
    void add(std::span<const std::uint8_t> frame) {
        {
            std::lock_guard lock(mutex_);
            frames_.emplace_back(frame.begin(), frame.end());
        }
        cv_.notify_all();
    }
    bool waitFor(std::size_t count) {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, kWait, [&] { return frames_.size() >= count; });
    }
    std::vector<std::vector<std::uint8_t>> frames() {
        std::lock_guard lock(mutex_);
        return frames_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<std::vector<std::uint8_t>> frames_;
};

// One message read back, copied out of the reader.
struct Got {
    static Got end() {
        Got got;
        got.eof = true;
        return got;
    }
    bool eof = false;
    MessageType type{};
    std::string text;
    std::uint64_t number = 0;
    std::vector<std::uint8_t> frame;
    int fd = -1;
};

// A client end of a connection, speaking raw messages.
class Wire {
  public:
    explicit Wire(int fd) : fd_(fd) {}
    ~Wire() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    int fd() const { return fd_; }

    bool write(const Message& m) {
        std::vector<std::uint8_t> bytes;
        EXPECT_TRUE(relay::AppendMessage(bytes, m));
        return relay::WriteAll(fd_, bytes);
    }
    bool writeBytes(const std::vector<std::uint8_t>& bytes) { return relay::WriteAll(fd_, bytes); }

    Got read() {
        std::vector<int> fds;
        for (;;) {
            std::span<const std::uint8_t> body;
            std::string error;
            const auto status = reader_.next(body, error);
            if (status == relay::MessageReader::Status::Message) {
                const auto m = relay::DecodeMessage(body, error);
                EXPECT_TRUE(m) << error;
                if (!m)
                    return Got::end();
                Got got;
                got.type = m->type;
                got.text = std::string(m->text);
                got.number = m->number64;
                got.frame.assign(m->frame.begin(), m->frame.end());
                if (!fds.empty())
                    got.fd = fds.front();
                return got;
            }
            EXPECT_EQ(status, relay::MessageReader::Status::NeedMore) << error;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(std::chrono::milliseconds(kWait).count())) <= 0) {
                ADD_FAILURE() << "no answer from the relay";
                return Got::end();
            }
            const long n = relay::ReadSome(fd_, reader_.space(), &fds);
            if (n <= 0)
                return Got::end();
            reader_.consumed(static_cast<std::size_t>(n));
        }
    }

  private:
    int fd_;
    relay::MessageReader reader_;
};

class RelayTest : public ::testing::Test {
  protected:
    void SetUp() override {
        segment.addAdapter("sim0", "first", kAdapter);
        segment.addAdapter("sim1", "second", kSecond);
        OpenOptions everything;
        everything.promiscuous = true;
        station = segment.attachStation(kDevice, everything);
        station->start([this](std::span<const std::uint8_t> f) { heard.add(f); });
        int pair[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
        serverFd = pair[0];
        clientFd = pair[1];
        server = std::make_unique<relay::RelayServer>(segment, serverFd);
        thread = std::thread([this] { result = server->run(); });
    }
    void TearDown() override {
        endRelay();
        if (clientFd >= 0)
            ::close(clientFd);
    }
    // The relay ends as a killed one would: its control connection goes.
    void endRelay() {
        if (!thread.joinable())
            return;
        ::shutdown(serverFd, SHUT_RDWR);
        thread.join();
    }
    // Takes the client end for raw messages; past the greeting.
    std::unique_ptr<Wire> rawControl() {
        auto wire = std::make_unique<Wire>(std::exchange(clientFd, -1));
        const Got hello = wire->read();
        EXPECT_EQ(hello.type, MessageType::Hello);
        return wire;
    }
    // Opens a port by hand; its connection.
    std::unique_ptr<Wire> rawOpen(Wire& control, PortKind kind, const std::string& name = "sim0") {
        Message open;
        open.type = MessageType::Open;
        open.kind = kind;
        open.number32 = kProbed;
        open.text = name;
        EXPECT_TRUE(control.write(open));
        const Got opened = control.read();
        EXPECT_EQ(opened.type, MessageType::Opened) << opened.text;
        EXPECT_GE(opened.fd, 0);
        return opened.fd >= 0 ? std::make_unique<Wire>(opened.fd) : nullptr;
    }

    // Declared first so that it goes last: the segment's thread hands the
    // station's frames to it until the segment and the station are gone.
    Heard heard;
    SimulatedSegment segment;
    std::unique_ptr<PacketPort> station;
    int serverFd = -1;
    int clientFd = -1;
    std::unique_ptr<relay::RelayServer> server;
    std::thread thread;
    int result = -1;
};

// ---------------------------------------------------------------------------
// What the relay refuses to send

struct RefusedSend {
    const char* name;
    PortKind kind;
    std::vector<std::uint8_t> frame;
    const char* says;
};

TEST_F(RelayTest, RefusesEveryFrameOutsideItsRulesAndSaysWhy) {
    // One frame to copy from: begin() and end() of two temporaries would
    // span two different arrays.
    const auto probe = BuildArpProbe(kAdapter, kProbed);
    auto arpReply = std::vector<std::uint8_t>(probe.begin(), probe.end());
    arpReply[arp_offset::kOperation + 1] = kArpReply;
    auto claimingProbe = arpReply;
    claimingProbe[arp_offset::kOperation + 1] = kArpRequest;
    claimingProbe[arp_offset::kSenderIp + 3] = 7; // a probe claims no address
    auto unicastProbe = std::vector<std::uint8_t>(probe.begin(), probe.end());
    std::copy(kDevice.bytes.begin(), kDevice.bytes.end(), unicastProbe.begin());

    const std::vector<RefusedSend> cases = {
        {"IPv4", PortKind::Protocol, ProtocolFrame(kDevice, kAdapter, 0x0800), "EtherType 0x0800"},
        {"byte-swapped EtherType", PortKind::Protocol, ProtocolFrame(kDevice, kAdapter, 0x5251),
         "EtherType 0x5251"},
        {"another source MAC", PortKind::Protocol, ProtocolFrame(kDevice, kDevice),
         "source 02-19-A7-00-00-01 is not the adapter's own MAC"},
        {"the other adapter's MAC", PortKind::Protocol, ProtocolFrame(kDevice, kSecond),
         "is not the adapter's own MAC"},
        {"shorter than a head", PortKind::Protocol, std::vector<std::uint8_t>(13, 0x51),
         "a frame of 13 bytes"},
        {"longer than the link's longest", PortKind::Protocol,
         [] {
             auto f = ProtocolFrame(kDevice, kAdapter);
             f.resize(kMaxLinkFrame + 1);
             return f;
         }(),
         "a frame of 1601 bytes"},
        {"ARP on a protocol port",
         PortKind::Protocol,
         {probe.begin(), probe.end()},
         "EtherType 0x0806"},
        {"protocol on a probe port", PortKind::ArpProbe, ProtocolFrame(kDevice, kAdapter),
         "sends only its ARP request"},
        {"an ARP reply", PortKind::ArpProbe, arpReply, "sends only its ARP request"},
        {"a request that claims an address", PortKind::ArpProbe, claimingProbe,
         "sends only its ARP request"},
        {"a unicast request", PortKind::ArpProbe, unicastProbe, "sends only its ARP request"},
    };
    auto control = rawControl();
    auto protocolPort = rawOpen(*control, PortKind::Protocol);
    auto probePort = rawOpen(*control, PortKind::ArpProbe);
    ASSERT_TRUE(protocolPort && probePort);
    std::uint64_t refusedOnProtocol = 0;
    std::uint64_t refusedOnProbe = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Wire& port = c.kind == PortKind::Protocol ? *protocolPort : *probePort;
        Message send;
        send.type = MessageType::Send;
        send.frame = c.frame;
        ASSERT_TRUE(port.write(send));
        const Got answer = port.read();
        ASSERT_EQ(answer.type, MessageType::Refused);
        EXPECT_NE(answer.text.find(c.says), std::string::npos) << answer.text;
        EXPECT_EQ(answer.number,
                  c.kind == PortKind::Protocol ? ++refusedOnProtocol : ++refusedOnProbe);
    }
    EXPECT_EQ(server->counters().refusedFrames.load(), cases.size());

    // What the rules allow still passes, after all that: and nothing else
    // reached the wire before it.
    Message good;
    good.type = MessageType::Send;
    const auto ours = ProtocolFrame(kDevice, kAdapter, 0x5152, 0xA5);
    good.frame = ours;
    ASSERT_TRUE(protocolPort->write(good));
    good.frame = probe;
    ASSERT_TRUE(probePort->write(good));
    ASSERT_TRUE(heard.waitFor(2));
    segment.drain();
    const auto frames = heard.frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_TRUE(frames[0] == ours || frames[1] == ours);
    EXPECT_TRUE(IsArpProbeFrom(frames[0], kAdapter) || IsArpProbeFrom(frames[1], kAdapter));
}

// A port passes only what its filter asks for, and stamps each frame.
TEST_F(RelayTest, PortsDeliverOnlyTheirFramesWithArrivalStamps) {
    auto control = rawControl();
    auto protocolPort = rawOpen(*control, PortKind::Protocol);
    auto probePort = rawOpen(*control, PortKind::ArpProbe);
    ASSERT_TRUE(protocolPort && probePort);
    const auto request = BuildArpProbe(kDevice, kAdapter.serialNumber());
    std::vector<std::uint8_t> reply(request.begin(), request.end());
    std::copy(kAdapter.bytes.begin(), kAdapter.bytes.end(), reply.begin());
    reply[arp_offset::kOperation + 1] = kArpReply;
    writeU32(reply, arp_offset::kSenderIp, kProbed);

    const auto before = std::chrono::steady_clock::now();
    station->send(ProtocolFrame(kAdapter, kDevice, 0x0800, 1)); // neither port's
    station->send(reply);
    station->send(ProtocolFrame(kAdapter, kDevice, 0x5152, 2));
    const Got frame = protocolPort->read();
    ASSERT_EQ(frame.type, MessageType::Frame);
    EXPECT_EQ(frame.frame, ProtocolFrame(kAdapter, kDevice, 0x5152, 2));
    const auto stamp =
        std::chrono::steady_clock::time_point(std::chrono::nanoseconds(frame.number));
    EXPECT_GE(stamp, before);
    EXPECT_LE(stamp, std::chrono::steady_clock::now());
    const Got arp = probePort->read();
    ASSERT_EQ(arp.type, MessageType::Frame);
    EXPECT_EQ(arp.frame, reply);
}

// ---------------------------------------------------------------------------
// Malformed messages: the connection they came on ends, with a reason.

TEST_F(RelayTest, AnOversizedOrTruncatedMessageOnAPortClosesThatPortAlone) {
    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
        const char* says;
    };
    const std::uint32_t tooLong = relay::kMaxMessage + 1;
    const std::vector<Case> cases = {
        {"oversized",
         {static_cast<std::uint8_t>(tooLong >> 24), static_cast<std::uint8_t>(tooLong >> 16),
          static_cast<std::uint8_t>(tooLong >> 8), static_cast<std::uint8_t>(tooLong), 0x10},
         "a message length of 2058 bytes"},
        {"zero length", {0, 0, 0, 0}, "a message length of 0"},
        {"send without a frame", {0, 0, 0, 1, 0x10}, "malformed message of type 16"},
        {"a control message on a port", {0, 0, 0, 1, 0x01}, "type 1 on a port"},
        {"an unknown type", {0, 0, 0, 1, 0x55}, "unknown type 85"},
    };
    auto control = rawControl();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto port = rawOpen(*control, PortKind::Protocol);
        ASSERT_TRUE(port);
        ASSERT_TRUE(port->writeBytes(c.bytes));
        const Got error = port->read();
        EXPECT_EQ(error.type, MessageType::Error);
        EXPECT_NE(error.text.find(c.says), std::string::npos) << error.text;
        EXPECT_TRUE(port->read().eof) << "the port stays open";
    }
    EXPECT_EQ(server->counters().malformed.load(), cases.size());
    // The control connection still serves.
    Message list;
    list.type = MessageType::List;
    ASSERT_TRUE(control->write(list));
    EXPECT_EQ(control->read().text, "sim0");
    EXPECT_EQ(control->read().text, "sim1");
    EXPECT_EQ(control->read().type, MessageType::ListEnd);
}

TEST_F(RelayTest, ATruncatedControlMessageEndsTheRelay) {
    auto control = rawControl();
    // An Open whose name says 10 bytes and brings 3.
    ASSERT_TRUE(control->writeBytes({0, 0, 0, 11, 0x02, 1, 0, 0, 0, 0, 0, 10, 's', 'i', 'm'}));
    const Got error = control->read();
    EXPECT_EQ(error.type, MessageType::Error);
    EXPECT_NE(error.text.find("malformed message of type 2"), std::string::npos) << error.text;
    EXPECT_TRUE(control->read().eof);
    thread.join();
    EXPECT_EQ(result, 1);
}

TEST_F(RelayTest, OpensOnlyTheAdaptersItLists) {
    auto control = rawControl();
    for (const char* name : {"any", "lo", "sim0/../sim1", ""}) {
        SCOPED_TRACE(name);
        Message open;
        open.type = MessageType::Open;
        open.kind = PortKind::Protocol;
        open.text = name;
        ASSERT_TRUE(control->write(open));
        const Got answer = control->read();
        EXPECT_EQ(answer.type, MessageType::OpenFailed);
        EXPECT_NE(answer.text.find("no Ethernet adapter named"), std::string::npos);
    }
    EXPECT_EQ(server->counters().refusedOpens.load(), 4u);
}

// ---------------------------------------------------------------------------
// Through RelayDriver, as the programs use it

class RelayDriverTest : public RelayTest {
  protected:
    void SetUp() override {
        RelayTest::SetUp();
        driver = std::make_unique<RelayDriver>(std::exchange(clientFd, -1), Micros(kWait));
        driver->setMessageSink([this](const std::string& line) {
            std::lock_guard lock(linesMutex);
            lines.push_back(line);
        });
    }
    void TearDown() override {
        link.reset();
        endRelay();
        driver.reset();
        RelayTest::TearDown();
    }
    std::unique_ptr<RelayDriver> driver;
    std::unique_ptr<AdapterLink> link;
    std::mutex linesMutex;
    std::vector<std::string> lines;
};

TEST_F(RelayDriverTest, TheLinkWorksThroughTheRelay) {
    const auto adapters = driver->listAdapters();
    ASSERT_EQ(adapters.size(), 2u);
    EXPECT_EQ(adapters[0].name, "sim0");
    EXPECT_EQ(adapters[0].description, "first");
    EXPECT_EQ(adapters[1].mac, kSecond);

    link = std::make_unique<AdapterLink>(*driver);
    std::vector<std::string> diagnostics;
    link->setDiagnosticSink([&](const std::string& line) { diagnostics.push_back(line); });
    ASSERT_TRUE(link->open("sim0"));
    EXPECT_EQ(link->ownAddress(), kAdapter);

    const auto request = ProtocolFrame(kDevice, kAdapter, 0x5152, 7);
    ASSERT_TRUE(link->send(request));
    ASSERT_TRUE(heard.waitFor(1));
    EXPECT_EQ(heard.frames()[0], request);

    const auto sentAt = SteadyClock::now();
    station->send(ProtocolFrame(kAdapter, kDevice, 0x5152, 8));
    ASSERT_TRUE(link->waitForFrame(SteadyClock::now() + kWait));
    std::array<std::uint8_t, kEthernetMaxPayload> buffer{};
    std::size_t length = 0;
    SteadyClock::time_point arrivedAt;
    ASSERT_TRUE(link->read(buffer, length, arrivedAt));
    EXPECT_EQ(length, 60u);
    EXPECT_EQ(buffer[40], 8);
    EXPECT_GE(arrivedAt, sentAt);

    // A frame the relay would refuse fails at once, saying why, and never
    // leaves the program.
    EXPECT_FALSE(link->send(ProtocolFrame(kDevice, kDevice)));
    ASSERT_EQ(diagnostics.size(), 1u);
    EXPECT_NE(diagnostics[0].find("korvane-relay does not pass source 02-19-A7-00-00-01"),
              std::string::npos)
        << diagnostics[0];
    EXPECT_EQ(server->counters().refusedFrames.load(), 0u);
    // Anything but the protocol's filter or a probe's is not asked for at all.
    EXPECT_EQ(driver->open("sim0", OpenOptions{}).failure, OpenFailure::Other);
}

TEST_F(RelayDriverTest, TheRelaysEndIsTheReceiveSideEnding) {
    link = std::make_unique<AdapterLink>(*driver);
    link->setDiagnosticSink(nullptr);
    link->setPermissionReporter(nullptr);
    ASSERT_TRUE(link->open("sim0"));
    endRelay();
    // A waiter hears of it at once, not at its deadline.
    const auto start = SteadyClock::now();
    EXPECT_FALSE(link->waitForFrame(start + kWait));
    EXPECT_LT(SteadyClock::now() - start, kWait);
    EXPECT_TRUE(link->receiveEnded());
    EXPECT_FALSE(link->isOpen());
    EXPECT_EQ(link->receiveEndReason(), "the raw-frame relay ended");
    EXPECT_FALSE(link->send(ProtocolFrame(kDevice, kAdapter)));
    // With no relay to start again, the reopen fails as a refused access.
    EXPECT_FALSE(link->open("sim0"));
    EXPECT_EQ(link->lastOpenFailure(), OpenFailure::PermissionDenied);
}

TEST_F(RelayDriverTest, AnAdapterThatGoesDownEndsItsPortThroughTheRelay) {
    link = std::make_unique<AdapterLink>(*driver);
    link->setDiagnosticSink(nullptr);
    ASSERT_TRUE(link->open("sim0"));
    segment.failAdapter("sim0", "The interface went down");
    EXPECT_FALSE(link->waitForFrame(SteadyClock::now() + kWait));
    EXPECT_TRUE(link->receiveEnded());
    EXPECT_EQ(link->receiveEndReason(), "The interface went down");
    // The relay still serves: the adapter opens again.
    EXPECT_TRUE(link->open("sim0"));
    EXPECT_TRUE(link->isOpen());
}

// Discovery runs on every adapter at once: ports of several adapters open
// together, each sent on from several threads.
TEST_F(RelayDriverTest, SeveralPortsSendFromSeveralThreadsAtOnce) {
    constexpr int kThreads = 4;
    constexpr int kFramesEach = 200;
    OpenOptions options;
    const auto program = protocolFilterProgram();
    options.filter.assign(program.begin(), program.end());
    auto first = driver->open("sim0", options);
    auto second = driver->open("sim1", options);
    ASSERT_TRUE(first.port && second.port) << first.error << second.error;
    std::vector<std::thread> senders;
    for (int t = 0; t < kThreads; ++t)
        senders.emplace_back([&, t] {
            PacketPort& port = t % 2 == 0 ? *first.port : *second.port;
            for (int i = 0; i < kFramesEach; ++i)
                EXPECT_TRUE(port.send(
                    ProtocolFrame(kDevice, port.mac(), 0x5152, static_cast<std::uint8_t>(t))));
        });
    for (auto& s : senders)
        s.join();
    ASSERT_TRUE(heard.waitFor(kThreads * kFramesEach));
    std::array<int, kThreads> perThread{};
    for (const auto& f : heard.frames())
        ++perThread[f[40]];
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(perThread[static_cast<std::size_t>(t)], kFramesEach) << "thread " << t;
}

// ---------------------------------------------------------------------------
// Which way a program takes

TEST(LinkAccess, OptionsBeatTheEnvironmentAndAutoFollowsTheRawSocket) {
    struct Case {
        std::optional<bool> option;
        const char* environment;
        bool canOpenRaw;
        bool relayBuilt;
        LinkAccess taken;
    };
    const Case cases[] = {
        {std::nullopt, nullptr, true, true, LinkAccess::Direct},
        {std::nullopt, nullptr, false, true, LinkAccess::Relay},
        {std::nullopt, "", false, true, LinkAccess::Relay},
        {std::nullopt, "1", true, true, LinkAccess::Relay},
        {std::nullopt, "0", false, true, LinkAccess::Direct},
        {std::nullopt, "maybe", true, true, LinkAccess::Direct},
        {false, "1", false, true, LinkAccess::Direct},
        {true, "0", true, true, LinkAccess::Relay},
        {true, nullptr, false, false, LinkAccess::Direct}, // no relay on this platform
    };
    for (const auto& c : cases) {
        const LinkAccess requested = RequestedLinkAccess(c.option, c.environment);
        EXPECT_EQ(ResolveLinkAccess(requested, c.canOpenRaw, c.relayBuilt), c.taken)
            << (c.environment ? c.environment : "(unset)") << " raw " << c.canOpenRaw;
    }
}

TEST(RelayProtocol, OpenOptionsMapToPortsOnlyForTheTwoFilters) {
    OpenOptions protocol;
    const auto program = protocolFilterProgram();
    protocol.filter.assign(program.begin(), program.end());
    EXPECT_EQ(relay::PortRequestOf(protocol)->kind, PortKind::Protocol);
    OpenOptions probe;
    probe.filter = ArpReplyFilter(kProbed);
    ASSERT_TRUE(relay::PortRequestOf(probe));
    EXPECT_EQ(relay::PortRequestOf(probe)->kind, PortKind::ArpProbe);
    EXPECT_EQ(relay::PortRequestOf(probe)->probeAddress, kProbed);
    EXPECT_FALSE(relay::PortRequestOf(OpenOptions{})); // everything
    OpenOptions promiscuous = protocol;
    promiscuous.promiscuous = true;
    EXPECT_FALSE(relay::PortRequestOf(promiscuous));
    OpenOptions widened = probe;
    widened.filter[1].jf = 0; // lets other EtherTypes through
    EXPECT_FALSE(relay::PortRequestOf(widened));
}

} // namespace
} // namespace korvane
