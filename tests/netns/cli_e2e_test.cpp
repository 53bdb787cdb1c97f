// The command line's search, firmware upgrade and settings commands against
// korvane-devsim over a real veth pair: the emulator answers on end b, the
// command line runs on end a.

#include "base/byte_cursor.hpp"
#include "config/blocks.hpp"
#include "firmware/firmware_image.hpp"
#include "netns/devsim_pair_test.hpp"
#include "netns/netns_harness.hpp"
#include "protocol/frame.hpp"
#include "wire_fields.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <string>
#include <vector>

using namespace korvane;
using namespace korvane::netns;

namespace {

constexpr auto kDeadline = std::chrono::seconds(15);
constexpr MacAddress kFirstMac{{0x02, 0x19, 0xA7, 0x00, 0x00, 0x01}};
// korvane-devsim's address plan: device n (from 0) holds 192.168.1.100 + n
// up to 192.168.1.254, the next ones 192.168.2.2 to .254, then 192.168.3.2
// and on (never a network or broadcast address), as a static address or,
// every fifth device, as its DHCP address. Its settings version (32) is one
// that keeps the LAN address in the IP field, so the DHCP devices' LAN
// address is that field too.
std::uint32_t deviceAddress(std::uint32_t index) {
    constexpr std::uint32_t kInFirstSubnet = 155;
    if (index < kInFirstSubnet)
        return 0xC0A80164 + index;
    const std::uint32_t later = index - kInFirstSubnet;
    return 0xC0A80202 + (later / 253 << 8) + later % 253;
}

MacAddress deviceMac(std::uint32_t index) {
    const std::uint32_t low = 1 + index;
    return MacAddress{{0x02, 0x19, 0xA7, static_cast<std::uint8_t>(low >> 16),
                       static_cast<std::uint8_t>(low >> 8), static_cast<std::uint8_t>(low)}};
}

std::string ipText(std::uint32_t address) {
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
           std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

// The string values of `key` in a JSON text, in the order they appear, at
// any depth.
std::vector<std::string> stringValues(const std::string& json, const std::string& key) {
    std::vector<std::string> values;
    const std::function<void(const nlohmann::ordered_json&)> walk =
        [&](const nlohmann::ordered_json& j) {
            if (j.is_object()) {
                for (const auto& [name, value] : j.items()) {
                    if (name == key && value.is_string())
                        values.push_back(value.get<std::string>());
                    walk(value);
                }
            } else if (j.is_array()) {
                for (const auto& element : j)
                    walk(element);
            }
        };
    walk(nlohmann::ordered_json::parse(json));
    return values;
}

std::vector<std::uint8_t> readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A folder of the test's own, removed afterwards.
class ScratchDir {
  public:
    ScratchDir() {
        static std::atomic<int> counter{0};
        path_ = std::filesystem::temp_directory_path() /
                ("korvane-e2e-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        std::filesystem::create_directories(path_);
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

  private:
    std::filesystem::path path_;
};

void writeFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

// An image with a patterned body, a factory block whose sum is right and the
// boot identification word of the emulated devices' flash (1.2, code 3).
std::vector<std::uint8_t> makeImage(std::size_t length) {
    std::vector<std::uint8_t> image(length);
    for (std::size_t i = 0; i < length; ++i)
        image[i] = static_cast<std::uint8_t>(i * 7 + 3 + (i >> 10));
    auto block =
        std::span<std::uint8_t>(image).subspan(kImageFactoryBlockOffset, kImageFactoryBlockSize);
    std::fill(block.begin(), block.end(), std::uint8_t{0});
    const std::array<std::uint8_t, 6> placeholder{0x02, 0x19, 0xA7, 0xFF, 0xFF, 0xFF};
    std::copy(placeholder.begin(), placeholder.end(), block.begin() + kImageFactoryMacOffset);
    block[12] = '2';
    block[13] = '.';
    block[14] = '0';
    writeU32(block, 0, BlockChecksum(block));
    const std::array<std::uint8_t, 4> boot{'1', '2', 'x', '3'};
    std::copy(boot.begin(), boot.end(), image.begin() + kImageBootWordOffset);
    return image;
}

class CliOverVeth : public DevsimPairTest {
  protected:
    void TearDown() override {
        stopDevsim();
        pair_.reset();
    }

    void startDevsim(int devices, std::vector<std::string> options = {}) {
        std::vector<std::string> argv{devsimPath(), "--interface", pair_->b().interface,
                                      "--devices", std::to_string(devices)};
        argv.insert(argv.end(), options.begin(), options.end());
        std::string error;
        devsim_ = VethPair::spawnIn(pair_->b(), argv, &error);
        ASSERT_TRUE(devsim_) << error;
        ASSERT_TRUE(devsim_->waitForLine("ready", Clock::now() + kDeadline))
            << "korvane-devsim did not come up: " << devsim_->errText();
    }

    // Ends the emulator, which then writes its images and report.
    void stopDevsim() {
        if (!devsim_)
            return;
        const RunResult r = devsim_->terminate(Clock::now() + kDeadline);
        EXPECT_FALSE(r.timedOut) << "korvane-devsim did not end on SIGTERM";
        EXPECT_EQ(r.status, 0) << r.err;
        devsim_.reset();
    }

    RunResult korvane(std::vector<std::string> args,
                      std::chrono::milliseconds timeout = std::chrono::seconds(60)) {
        return VethPair::runIn(pair_->a(), korvaneLine(std::move(args)), timeout);
    }
    // The command line as run: as `runAs_` says (by default as root).
    std::vector<std::string> korvaneLine(std::vector<std::string> args) const {
        args.insert(args.begin(), {KORVANE_CLI, "--interface", pair_->a().interface});
        args.insert(args.begin(), runAs_.begin(), runAs_.end());
        return args;
    }

    std::unique_ptr<Process> devsim_;
    std::vector<std::string> runAs_;
};

// ---------------------------------------------------------------------------
// search

// 256 devices: every row, in ascending numeric serial order (the serial
// numbers cross a byte boundary at the 256th), each with the LAN address the
// device holds.
TEST_F(CliOverVeth, SearchListsAll256DevicesInSerialOrderWithTheirAddresses) {
    constexpr int kDevices = 256;
    ScratchDir dir;
    const auto report = dir / "report.json";
    startDevsim(kDevices, {"--report", report.string()});

    const RunResult r = korvane({"search", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto serials = stringValues(r.out, "serial");
    const auto ips = stringValues(r.out, "ip");
    const auto macs = stringValues(r.out, "mac");
    ASSERT_EQ(serials.size(), static_cast<std::size_t>(kDevices)) << r.out;
    ASSERT_EQ(ips.size(), serials.size());
    ASSERT_EQ(macs.size(), serials.size());
    for (std::uint32_t i = 0; i < kDevices; ++i) {
        const MacAddress mac = deviceMac(i);
        EXPECT_EQ(serials[i], std::to_string(mac.serialNumber())) << "row " << i;
        EXPECT_EQ(macs[i], mac.toString()) << "row " << i;
        EXPECT_EQ(ips[i], ipText(deviceAddress(i))) << "row " << i << " (" << macs[i] << ")";
    }

    // And the plan is what the emulator's devices really hold.
    stopDevsim();
    const std::vector<std::uint8_t> bytes = readFile(report);
    const std::string text(bytes.begin(), bytes.end());
    const auto heldMacs = stringValues(text, "mac");
    const auto heldIps = stringValues(text, "ip_address");
    ASSERT_EQ(heldMacs.size(), static_cast<std::size_t>(kDevices));
    ASSERT_EQ(heldIps.size(), heldMacs.size());
    for (std::size_t i = 0; i < heldMacs.size(); ++i) {
        EXPECT_EQ(heldMacs[i], macs[i]);
        EXPECT_EQ(heldIps[i], ips[i]) << heldMacs[i];
    }
}

// ---------------------------------------------------------------------------
// firmware upgrade

class FirmwareOverVeth : public CliOverVeth {
  protected:
    static constexpr int kUnits = 8;
    static constexpr std::size_t kImageLength = 1024 * 1024;

    void SetUp() override {
        CliOverVeth::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        image_ = makeImage(kImageLength);
        ASSERT_TRUE(FirmwareImage(image_).factoryBlockValid());
        writeFile(dir_ / "image.bin", image_);
        const std::string password = "k7-Secret";
        const std::string line = password + "\n";
        writeFile(dir_ / "password",
                  std::span(reinterpret_cast<const std::uint8_t*>(line.data()), line.size()));
        devsimOptions_ = {"--password", password,        "--programming-delay",
                          "200",        "--save-images", (dir_ / "images").string()};
    }

    RunResult upgradeAll() {
        return korvane({"firmware", "upgrade", (dir_ / "image.bin").string(), "--all", "--yes",
                        "--password-file", (dir_ / "password").string()},
                       std::chrono::seconds(240));
    }

    // The image as `mac`'s device must have received it: its own MAC in the
    // factory block, the block's sum renewed.
    std::vector<std::uint8_t> imageFor(const MacAddress& mac) const {
        FirmwareImage patched(image_);
        EXPECT_TRUE(patched.checkAndPatchFactoryBlock(mac));
        return {patched.bytes().begin(), patched.bytes().end()};
    }

    void expectSavedImage(const MacAddress& mac) const {
        const auto saved = readFile(dir_ / "images" / (mac.toString() + ".bin"));
        ASSERT_EQ(saved.size(), kImageLength) << mac.toString();
        const auto expected = imageFor(mac);
        EXPECT_TRUE(saved == expected) << mac.toString() << ": the saved image differs";
        EXPECT_FALSE(saved == image_) << mac.toString() << ": the factory block was not patched";
    }

    ScratchDir dir_;
    std::vector<std::uint8_t> image_;
    std::vector<std::string> devsimOptions_;
};

TEST_F(FirmwareOverVeth, EightUnitsEachGetTheImageWithTheirOwnMac) {
    startDevsim(kUnits, devsimOptions_);
    const RunResult r = upgradeAll();
    ASSERT_FALSE(r.timedOut) << r.out << r.err;
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("8 unit success, 0 unit fail. "), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Download Failed"), std::string::npos) << r.out;
    for (std::uint32_t i = 0; i < kUnits; ++i) {
        const std::string key = std::to_string(deviceMac(i).serialNumber());
        EXPECT_NE(r.out.find(key + "  Download Successfully"), std::string::npos) << key;
    }
    EXPECT_EQ(r.out.find("k7-Secret"), std::string::npos);
    EXPECT_EQ(r.err.find("k7-Secret"), std::string::npos);

    stopDevsim();
    for (std::uint32_t i = 0; i < kUnits; ++i)
        expectSavedImage(deviceMac(i));
}

// Ctrl-C once the first unit transfers: the units already transferring
// finish their image, the others never start theirs, the summary names all
// eight, the status is 130, and no device is left holding half an image.
TEST_F(FirmwareOverVeth, CtrlCLetsEveryTransferFinish) {
    const auto report = dir_ / "report.json";
    auto options = devsimOptions_;
    options.insert(options.end(), {"--report", report.string()});
    startDevsim(kUnits, options);
    std::string error;
    auto upgrade = VethPair::spawnIn(pair_->a(),
                                     {KORVANE_CLI, "--interface", pair_->a().interface, "firmware",
                                      "upgrade", (dir_ / "image.bin").string(), "--all", "--yes",
                                      "--password-file", (dir_ / "password").string()},
                                     &error);
    ASSERT_TRUE(upgrade) << error;
    const std::string first = std::to_string(deviceMac(0).serialNumber());
    ASSERT_TRUE(upgrade->waitForLine(first + "  Downloading", Clock::now() + kDeadline))
        << upgrade->errText();
    ::kill(upgrade->pid(), SIGINT);
    const RunResult r = upgrade->finish(Clock::now() + std::chrono::seconds(240));
    ASSERT_FALSE(r.timedOut) << r.out << r.err;
    EXPECT_EQ(r.status, 130) << r.out << r.err;
    EXPECT_EQ(r.err.find("cut mid-transfer"), std::string::npos) << r.err;
    // Every unit is in the summary: finished, or stopped before its transfer.
    std::set<std::string> finished;
    for (std::uint32_t i = 0; i < kUnits; ++i) {
        const std::string key = std::to_string(deviceMac(i).serialNumber());
        const bool done = r.out.find(key + "  Download Successfully\n") != std::string::npos;
        const bool stopped = r.out.find(key + "  Download Failed (stopped before it started)\n") !=
                             std::string::npos;
        EXPECT_TRUE(done != stopped) << key << "\n" << r.out;
        if (done)
            finished.insert(deviceMac(i).toString());
    }
    EXPECT_FALSE(finished.empty()) << r.out;

    // No device holds half an image: each has the whole image or none of it.
    stopDevsim();
    const auto bytes = readFile(report);
    const auto json = nlohmann::json::parse(std::string(bytes.begin(), bytes.end()));
    ASSERT_EQ(json["devices"].size(), static_cast<std::size_t>(kUnits));
    for (const auto& device : json["devices"]) {
        const std::string mac = device["mac"];
        EXPECT_EQ(device["firmware"]["receiving_bytes"], 0) << mac;
        EXPECT_EQ(device["firmware"]["completed"], finished.count(mac) ? 1 : 0) << mac;
    }
}

// A unit whose completion notice never comes fails alone, after the notice
// wait; the other seven succeed.
TEST_F(FirmwareOverVeth, AUnitWithoutItsCompletionNoticeFailsAlone) {
    constexpr int kSilent = 5; // device number, from 1
    auto options = devsimOptions_;
    options.insert(options.end(), {"--fault-devices", std::to_string(kSilent), "--no-notice"});
    startDevsim(kUnits, options);
    const RunResult r = upgradeAll();
    ASSERT_FALSE(r.timedOut) << r.out << r.err;
    EXPECT_NE(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("7 unit success, 1 unit fail. "), std::string::npos) << r.out;
    for (std::uint32_t i = 0; i < kUnits; ++i) {
        const std::string key = std::to_string(deviceMac(i).serialNumber());
        const char* expected = i + 1 == kSilent ? "  Download Failed (no completion notice)\n"
                                                : "  Download Successfully\n";
        EXPECT_NE(r.out.find(key + expected), std::string::npos) << key << "\n" << r.out;
    }

    stopDevsim();
    for (std::uint32_t i = 0; i < kUnits; ++i)
        if (i + 1 != kSilent)
            expectSavedImage(deviceMac(i));
}

// The utility's end goes down for 0.3 s a third of the way through the
// blocks and comes back: every unit goes on over the reopened link.
TEST_F(FirmwareOverVeth, ABlipOfTheLinkDuringTheBlocksFailsNoUnit) {
    startDevsim(kUnits, devsimOptions_);
    std::string error;
    auto upgrade = VethPair::spawnIn(pair_->a(),
                                     {KORVANE_CLI, "--verbose", "--interface", pair_->a().interface,
                                      "firmware", "upgrade", (dir_ / "image.bin").string(), "--all",
                                      "--yes", "--password-file", (dir_ / "password").string()},
                                     &error);
    ASSERT_TRUE(upgrade) << error;
    const std::size_t blocks = kUnits * kImageLength / 1024;
    ASSERT_TRUE(
        upgrade->waitForErr("(0x3001)", blocks / 3, Clock::now() + std::chrono::seconds(120)))
        << upgrade->errText().substr(0, 2000);
    ASSERT_TRUE(pair_->setLink(pair_->a(), false));
    upgrade->drainFor(std::chrono::milliseconds(300)); // the blip
    ASSERT_TRUE(pair_->setLink(pair_->a(), true));
    const RunResult r = upgrade->finish(Clock::now() + std::chrono::seconds(240));
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("8 unit success, 0 unit fail. "), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("Reopened " + pair_->a().interface), std::string::npos)
        << "the blip was not seen";

    stopDevsim();
    for (std::uint32_t i = 0; i < kUnits; ++i)
        expectSavedImage(deviceMac(i));
}

// A file shorter than any image of these devices (here 5000 bytes of 0x01)
// is refused before the search: not one block reaches the emulator.
TEST_F(CliOverVeth, AShortImageIsRefusedAndNoBlockIsSent) {
    ScratchDir dir;
    const auto report = dir / "report.json";
    startDevsim(2, {"--report", report.string()});
    const auto image = dir / "short.bin";
    writeFile(image, std::vector<std::uint8_t>(5000, 0x01));

    const RunResult r = korvane({"firmware", "upgrade", image.string(), "--all", "--yes"});
    EXPECT_EQ(r.status, 2) << r.out << r.err;
    EXPECT_NE(r.err.find("5000 bytes long"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("--allow-short-image"), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("Download Successfully"), std::string::npos) << r.out;

    stopDevsim();
    const auto bytes = readFile(report);
    const std::string text(bytes.begin(), bytes.end());
    ASSERT_EQ(stringValues(text, "mac").size(), 2u) << text;
    EXPECT_EQ(text.find("\"0x3001\""), std::string::npos) << "a block reached a device: " << text;
    EXPECT_EQ(text.find("\"has_image\": true"), std::string::npos) << text;
}

// ---------------------------------------------------------------------------
// factory serial: a serial number another device on the segment has

TEST_F(CliOverVeth, ASerialNumberThatCollidesIsRefusedWithoutForce) {
    ScratchDir dir;
    const auto report = dir / "report.json";
    startDevsim(2, {"--report", report.string()});
    const std::string taken = std::to_string(deviceMac(1).serialNumber());

    const RunResult r = korvane({"factory", "serial", deviceMac(0).toString(), taken});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE(r.err.find("Another device on this segment already has this MAC address"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("--force"), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("written"), std::string::npos) << r.out;

    // Both devices still answer with their own addresses.
    const RunResult search = korvane({"search", "--json"});
    ASSERT_EQ(search.status, 0) << search.err;
    EXPECT_EQ(stringValues(search.out, "mac"),
              (std::vector<std::string>{deviceMac(0).toString(), deviceMac(1).toString()}))
        << search.out;

    stopDevsim();
    const auto bytes = readFile(report);
    const std::string text(bytes.begin(), bytes.end());
    EXPECT_EQ(text.find("\"factory_writes\": 1"), std::string::npos) << text;
    EXPECT_NE(text.find("\"factory_writes\": 0"), std::string::npos) << text;
}

// ---------------------------------------------------------------------------
// settings set: the address-conflict question

// A third party on the segment: the kernel of the emulator's namespace owns
// 192.0.2.10 and the first device's own address on its veth end, so it
// answers ARP probes for them.
class ConflictOverVeth : public CliOverVeth {
  protected:
    void SetUp() override {
        CliOverVeth::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        for (const char* address : {"192.0.2.10/24", "192.168.1.100/32"}) {
            const RunResult r =
                ip({"-n", pair_->b().ns, "addr", "add", address, "dev", pair_->b().interface});
            ASSERT_EQ(r.status, 0) << r.err;
        }
        startDevsim(1);
    }

    RunResult setStatic(const std::string& address, const std::string& gateway) {
        return korvane({"settings", "set", kFirstMac.toString(), "--static", "--ip", address,
                        "--mask", "255.255.255.0", "--gateway", gateway});
    }
};

TEST_F(ConflictOverVeth, AnAddressInUseIsRefusedWithoutATerminal) {
    const RunResult r = setStatic("192.0.2.10", "192.0.2.1");
    EXPECT_NE(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.err.find("IP address: 192.0.2.10 already exists on the LAN. Are you sure you "
                         "want to continue?"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("answer it with --yes"), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("Settings written"), std::string::npos) << r.out;
}

TEST_F(ConflictOverVeth, AFreeAddressIsWrittenWithoutAQuestion) {
    const RunResult r = setStatic("192.0.2.20", "192.0.2.1");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.err.find("already exists"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("Settings written"), std::string::npos) << r.out;

    const RunResult shown = korvane({"settings", "show", kFirstMac.toString(), "--json"});
    ASSERT_EQ(shown.status, 0) << shown.err;
    EXPECT_EQ(stringValues(shown.out, "ip_address"), std::vector<std::string>{"192.0.2.20"})
        << shown.out;
    EXPECT_EQ(stringValues(shown.out, "address_mode"), std::vector<std::string>{"static"})
        << shown.out;
}

// The device keeping its own address is no conflict, even though another
// station answers for it too.
TEST_F(ConflictOverVeth, TheDevicesOwnAddressAsksNothing) {
    const RunResult r = setStatic("192.168.1.100", "192.168.1.1");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.err.find("already exists"), std::string::npos) << r.err;
}

// Emulated devices answer ARP for the address their settings hold, as real
// ones do: moving one device onto another's address puts the question.
TEST_F(CliOverVeth, AnotherDevicesAddressPutsTheConflictQuestion) {
    startDevsim(2);
    const RunResult r =
        korvane({"settings", "set", kFirstMac.toString(), "--static", "--ip", "192.168.1.101",
                 "--mask", "255.255.255.0", "--gateway", "192.168.1.1"});
    EXPECT_NE(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.err.find("IP address: 192.168.1.101 already exists on the LAN."), std::string::npos)
        << r.err;
}

// ---------------------------------------------------------------------------
// As an unprivileged user, through the raw-frame relay
//
// korvane runs as nobody, which may open no raw socket: it reaches the
// adapter through a copy of this build's korvane-relay that the test gives
// cap_net_raw, as the package does for the installed one.

class UnprivilegedOverVeth : public FirmwareOverVeth {
  protected:
    static constexpr int kRelayUnits = 3;

    void SetUp() override {
        FirmwareOverVeth::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        const auto relay = dir_ / "korvane-relay";
        std::filesystem::copy_file(KORVANE_RELAY, relay);
        const RunResult given = run({"setcap", "cap_net_raw+ep", relay.string()});
        if (given.status != 0)
            GTEST_SKIP() << "cannot give the relay cap_net_raw here (setcap: " << given.err
                         << given.out << ")";
        // nobody reads the image and the password files and runs the relay.
        std::filesystem::permissions(
            dir_ / "", std::filesystem::perms::others_read | std::filesystem::perms::others_exec,
            std::filesystem::perm_options::add);
        runAs_ = {"setpriv",        "--reuid=65534", "--regid=65534",
                  "--clear-groups", "env",           "KORVANE_RELAY_PROGRAM=" + relay.string()};
        startDevsim(kRelayUnits, devsimOptions_);
    }

    RunResult korvaneWithPassword(std::vector<std::string> args, const std::string& file) {
        args.insert(args.end(), {"--password-file", (dir_ / file).string()});
        return korvane(args);
    }

    void writeText(const std::string& name, const std::string& text) {
        writeFile(dir_ / name,
                  std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    }
};

TEST_F(UnprivilegedOverVeth, SearchSettingsAndPasswordGoThroughTheRelay) {
    const RunResult found = korvane({"search", "--json"});
    ASSERT_EQ(found.status, 0) << found.err;
    EXPECT_EQ(stringValues(found.out, "mac").size(), static_cast<std::size_t>(kRelayUnits))
        << found.out;
    // Without the relay the same user reaches nothing, and is told why.
    const RunResult own = korvane({"--no-relay", "search"});
    EXPECT_EQ(own.status, 3) << own.out << own.err;
    EXPECT_NE(own.err.find("raw Ethernet access was refused"), std::string::npos) << own.err;
    EXPECT_NE(own.err.find("korvane-relay"), std::string::npos) << own.err;

    // The address probe goes through the relay too: its ARP request out,
    // the replies in (no station has the address, so nothing is asked).
    const RunResult set = korvaneWithPassword({"settings", "set", kFirstMac.toString(), "--static",
                                               "--ip", "192.168.1.150", "--mask", "255.255.255.0",
                                               "--gateway", "192.168.1.1"},
                                              "password");
    EXPECT_EQ(set.status, 0) << set.out << set.err;
    EXPECT_NE(set.out.find("Settings written"), std::string::npos) << set.out;
    const RunResult shown = korvane({"settings", "show", kFirstMac.toString(), "--json"});
    ASSERT_EQ(shown.status, 0) << shown.err;
    EXPECT_EQ(stringValues(shown.out, "ip_address"), std::vector<std::string>{"192.168.1.150"})
        << shown.out;

    writeText("new-password", "n3w-Secret\n");
    const RunResult changed =
        korvaneWithPassword({"password", "set", kFirstMac.toString(), "--new-password-file",
                             (dir_ / "new-password").string()},
                            "password");
    EXPECT_EQ(changed.status, 0) << changed.out << changed.err;
    EXPECT_NE(changed.out.find("Password set"), std::string::npos) << changed.out;
    // The old password no longer opens the device; the new one does.
    const auto address = [&](const std::string& ip, const std::string& passwordFile) {
        return korvaneWithPassword({"settings", "set", kFirstMac.toString(), "--static", "--ip", ip,
                                    "--mask", "255.255.255.0", "--gateway", "192.168.1.1"},
                                   passwordFile);
    };
    EXPECT_NE(address("192.168.1.151", "password").status, 0);
    EXPECT_EQ(address("192.168.1.152", "new-password").status, 0);
    EXPECT_EQ(found.err.find("n3w-Secret"), std::string::npos);
}

TEST_F(UnprivilegedOverVeth, ThreeUnitsAreUpgradedThroughTheRelay) {
    const RunResult r = upgradeAll();
    ASSERT_FALSE(r.timedOut) << r.out << r.err;
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("3 unit success, 0 unit fail. "), std::string::npos) << r.out;
    stopDevsim();
    for (std::uint32_t i = 0; i < kRelayUnits; ++i)
        expectSavedImage(deviceMac(i));
}

TEST_F(UnprivilegedOverVeth, TheLinkTakenDownAndUpIsSearchedAgainThroughTheRelay) {
    std::string error;
    auto watch =
        VethPair::spawnIn(pair_->a(), korvaneLine({"search", "--watch", "1", "--json"}), &error);
    ASSERT_TRUE(watch) << error;
    const auto listed = [&] {
        const auto line = watch->waitForLine("[", Clock::now() + std::chrono::seconds(30));
        EXPECT_TRUE(line) << "no search line; stderr: " << watch->errText();
        return line ? stringValues(*line, "mac").size() : std::size_t{0};
    };
    ASSERT_EQ(listed(), static_cast<std::size_t>(kRelayUnits));
    ASSERT_TRUE(pair_->setLink(pair_->a(), false));
    bool seenGone = false;
    for (int i = 0; i < 3 && !seenGone; ++i)
        seenGone = listed() == 0;
    EXPECT_TRUE(seenGone);
    ASSERT_TRUE(pair_->setLink(pair_->a(), true));
    bool back = false;
    for (int i = 0; i < 3 && !back; ++i)
        back = listed() == static_cast<std::size_t>(kRelayUnits);
    EXPECT_TRUE(back) << "stderr: " << watch->errText();
    const RunResult ended = watch->terminate(Clock::now() + std::chrono::seconds(30));
    EXPECT_EQ(ended.status, 0) << ended.err;
}

// ---------------------------------------------------------------------------
// the link going away under a settings write

// The utility's end goes down for 0.3 s right after the settings write went
// out; the device's answer (600 ms after the request) comes over the
// reopened link.
TEST_F(CliOverVeth, ABlipOfTheLinkDuringASettingsWriteLosesNothing) {
    startDevsim(1, {"--reply-delay", "600"});
    std::string error;
    auto set =
        VethPair::spawnIn(pair_->a(),
                          {KORVANE_CLI, "--verbose", "--interface", pair_->a().interface,
                           "settings", "set", kFirstMac.toString(), "--static", "--ip",
                           "192.168.1.150", "--mask", "255.255.255.0", "--gateway", "192.168.1.1"},
                          &error);
    ASSERT_TRUE(set) << error;
    ASSERT_TRUE(set->waitForErr("(0x2001)", 1, Clock::now() + std::chrono::seconds(60)))
        << set->errText();
    ASSERT_TRUE(pair_->setLink(pair_->a(), false));
    set->drainFor(std::chrono::milliseconds(300)); // the blip
    ASSERT_TRUE(pair_->setLink(pair_->a(), true));
    const RunResult r = set->finish(Clock::now() + std::chrono::seconds(120));
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("Settings written"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("Reopened " + pair_->a().interface), std::string::npos) << r.err;

    const RunResult shown = korvane({"settings", "show", kFirstMac.toString(), "--json"});
    ASSERT_EQ(shown.status, 0) << shown.err;
    EXPECT_EQ(stringValues(shown.out, "ip_address"), std::vector<std::string>{"192.168.1.150"});
}

// Down for good once the device was found: every try waits its window for
// the adapter, the operation fails as it did, and the error names the adapter.
TEST_F(CliOverVeth, ALinkThatStaysDownFailsTheOperationNamingTheAdapter) {
    startDevsim(1);
    std::string error;
    auto set = VethPair::spawnIn(pair_->a(),
                                 {KORVANE_CLI, "--verbose", "--time-scale", "0.1", "--interface",
                                  pair_->a().interface, "settings", "set", kFirstMac.toString(),
                                  "--static", "--ip", "192.168.1.150", "--mask", "255.255.255.0",
                                  "--gateway", "192.168.1.1"},
                                 &error);
    ASSERT_TRUE(set) << error;
    ASSERT_TRUE(set->waitForErr("(0x1002)", 1, Clock::now() + std::chrono::seconds(60)))
        << set->errText();
    ASSERT_TRUE(pair_->setLink(pair_->a(), false));
    const RunResult r = set->finish(Clock::now() + std::chrono::seconds(120));
    EXPECT_NE(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out.find("Settings written"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("No respond!"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("adapter " + pair_->a().interface + " went away"), std::string::npos)
        << r.err;
    ASSERT_TRUE(pair_->setLink(pair_->a(), true));
}

// ---------------------------------------------------------------------------
// settings apply: a plan for every device

// A plan renumbers all eight devices (the DHCP ones made static): after it
// a search lists the new addresses, the same plan again writes nothing, and
// the emulator saw exactly one settings write per device.
TEST_F(CliOverVeth, APlanRenumbersEightDevicesWithOneWriteEach) {
    constexpr int kDevices = 8;
    ScratchDir dir;
    const auto report = dir / "report.json";
    startDevsim(kDevices, {"--report", report.string()});
    std::string plan = "mac,mode,ip,mask,gateway\n";
    for (std::uint32_t i = 0; i < kDevices; ++i)
        plan += deviceMac(i).toString() + ",static,10.20.0." + std::to_string(11 + i) +
                ",255.255.255.0,10.20.0.1\n";
    const auto planFile = dir / "plan.csv";
    writeFile(planFile, std::span(reinterpret_cast<const std::uint8_t*>(plan.data()), plan.size()));

    RunResult r = korvane({"settings", "apply", planFile.string()}, std::chrono::seconds(120));
    ASSERT_FALSE(r.timedOut) << r.out << r.err;
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("8 devices: 8 written, 0 unchanged, 0 failed"), std::string::npos)
        << r.out;

    const RunResult search = korvane({"search", "--json"});
    ASSERT_EQ(search.status, 0) << search.err;
    std::vector<std::string> expected;
    for (std::uint32_t i = 0; i < kDevices; ++i)
        expected.push_back("10.20.0." + std::to_string(11 + i));
    EXPECT_EQ(stringValues(search.out, "ip"), expected) << search.out;

    r = korvane({"settings", "apply", planFile.string()}, std::chrono::seconds(120));
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("8 devices: 0 written, 8 unchanged, 0 failed"), std::string::npos)
        << r.out;

    stopDevsim();
    const auto bytes = readFile(report);
    const auto held = nlohmann::ordered_json::parse(std::string(bytes.begin(), bytes.end()));
    ASSERT_EQ(held["devices"].size(), static_cast<std::size_t>(kDevices));
    for (const auto& device : held["devices"]) {
        EXPECT_EQ(device["settings_writes"], 1) << device["mac"];
        EXPECT_EQ(device["violations_total"], 0) << device["mac"];
    }
}

} // namespace
