// korvane-devsim: emulated devices answering on a real Ethernet interface
// until SIGINT or SIGTERM, with the emulator's fault knobs as options.

#include "cli/args.hpp"
#include "cli/json.hpp"
#include "link/capture_recorder.hpp"
#include "link/pcap_driver.hpp"
#include "protocol/config_blocks.hpp"
#include "sim/arp_responder.hpp"
#include "sim/device_emulator.hpp"

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace korvane::sim {
namespace {

constexpr int kMaxDevices = 4096;
constexpr MacAddress kFirstMac{{0x02, 0x19, 0xA7, 0x00, 0x00, 0x01}};

const char kUsage[] =
    "usage: korvane-devsim --interface IF [--devices N] [options]\n"
    "\n"
    "Emulated devices answering the device protocol on an Ethernet interface,\n"
    "until SIGINT or SIGTERM. Prints \"ready\" on standard output once it listens.\n"
    "\n"
    "  --interface IF            the interface to answer on (opened promiscuously)\n"
    "  --devices N               number of devices, 1 to 4096 (default 1)\n"
    "  --first-mac MAC           the first device's MAC; the others count up\n"
    "                            (default 02-19-A7-00-00-01)\n"
    "  --password P              every device's password (default none)\n"
    "  --password-file FILE      the password, from the first line of FILE\n"
    "  --programming-delay MS    end of transfer to the completion notice (default 2000)\n"
    "  --boot-word NUMBER        flash boot word (default 0x01020003)\n"
    "  --numeric-versions        versions in the four-byte numeric form (early devices)\n"
    "\n"
    "faults, for every device or only those given by --fault-devices:\n"
    "  --fault-devices LIST      device numbers counting from 1, comma separated\n"
    "  --no-answer               never answer\n"
    "  --reply-delay MS          answer after this delay\n"
    "  --drop-rate F             lose this fraction of requests (0 to 1)\n"
    "  --seed N                  seed of the drop decisions (default 1)\n"
    "  --answer-twice            send every reply twice\n"
    "  --wrong-version           replies carry version 2\n"
    "  --wrong-code              replies carry the command code plus one\n"
    "  --answer-from MAC         replies come from this MAC\n"
    "  --status CODE=STATUS[:TIMES[:BLOCK]]\n"
    "                            answer CODE with STATUS (TIMES times; only firmware\n"
    "                            block BLOCK); repeatable, e.g. 0x3001=3:1:0\n"
    "  --busy-first-block        status 3 to the first try of block 0\n"
    "  --silent CODE             never answer this command; repeatable\n"
    "  --flash-delay MS          extra delay of each firmware block's reply\n"
    "  --no-notice               never send the completion notice\n"
    "  --reboot-at-block N       restart when block N first arrives\n"
    "  --reboot-time MS          how long the restart takes (default 3000)\n"
    "\n"
    "recording:\n"
    "  --capture FILE            every frame sent and received, to FILE (pcap, at most\n"
    "                            256 MiB), for Wireshark and its korvane dissector\n"
    "\n"
    "on exit:\n"
    "  --save-images DIR         the last image each device received, as DIR/<MAC>.bin\n"
    "  --report FILE             counters of every device, as JSON\n";

struct Options {
    std::string interface;
    int devices = 1;
    MacAddress firstMac = kFirstMac;
    std::string password;
    Micros programmingDelay = Millis(2000);
    std::uint32_t bootWord = 0x01020003;
    bool numericVersions = false;
    std::vector<int> faultDevices; // 1-based; empty: all
    DeviceFaults faults;
    std::string saveImages;
    std::string report;
    std::string capture;
};

class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

std::uint64_t parseNumber(const std::string& option, const std::string& text, std::uint64_t max) {
    errno = 0;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 0);
    if (text.empty() || text[0] == '-' || *end != '\0' || errno != 0 || value > max)
        throw UsageError(option + " takes a number from 0 to " + std::to_string(max) + ", not \"" +
                         text + "\"");
    return value;
}

Micros parseMillis(const std::string& option, const std::string& text) {
    return Millis(parseNumber(option, text, 24ull * 3600 * 1000));
}

MacAddress parseMac(const std::string& option, const std::string& text) {
    const auto mac = MacAddress::parse(text);
    if (!mac)
        throw UsageError(option + " takes a MAC address like 02-19-A7-00-00-01, not \"" + text +
                         "\"");
    return *mac;
}

std::uint16_t parseCode(const std::string& option, const std::string& text) {
    return static_cast<std::uint16_t>(parseNumber(option, text, 0xFFFF));
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::stringstream in(text);
    std::string part;
    while (std::getline(in, part, separator))
        parts.push_back(part);
    if (!text.empty() && text.back() == separator)
        parts.emplace_back();
    return parts;
}

StatusRule parseStatusRule(const std::string& text) {
    const std::string option = "--status";
    const auto equals = text.find('=');
    if (equals == std::string::npos)
        throw UsageError("--status takes CODE=STATUS[:TIMES[:BLOCK]], not \"" + text + "\"");
    StatusRule rule;
    rule.command = parseCode(option, text.substr(0, equals));
    const auto parts = split(text.substr(equals + 1), ':');
    if (parts.empty() || parts.size() > 3)
        throw UsageError("--status takes CODE=STATUS[:TIMES[:BLOCK]], not \"" + text + "\"");
    rule.status = parseCode(option, parts[0]);
    if (parts.size() > 1 && !parts[1].empty())
        rule.times = static_cast<int>(parseNumber(option, parts[1], 1000000));
    if (parts.size() > 2)
        rule.parameter = parseCode(option, parts[2]);
    return rule;
}

std::string readPasswordFile(const std::string& path) {
    std::ifstream in(path);
    if (!in)
        throw UsageError("cannot read the password file " + path);
    std::string line;
    std::getline(in, line);
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

Options parseOptions(std::vector<std::string> args) {
    cli::ArgList list(std::move(args));
    Options o;
    if (auto v = list.option("--interface"))
        o.interface = *v;
    if (auto v = list.option("--devices"))
        o.devices = static_cast<int>(parseNumber("--devices", *v, kMaxDevices));
    if (auto v = list.option("--first-mac"))
        o.firstMac = parseMac("--first-mac", *v);
    if (auto v = list.option("--password"))
        o.password = *v;
    if (auto v = list.option("--password-file"))
        o.password = readPasswordFile(*v);
    if (auto v = list.option("--programming-delay"))
        o.programmingDelay = parseMillis("--programming-delay", *v);
    if (auto v = list.option("--boot-word"))
        o.bootWord = static_cast<std::uint32_t>(parseNumber("--boot-word", *v, 0xFFFFFFFF));
    o.numericVersions = list.flag("--numeric-versions");
    if (auto v = list.option("--fault-devices"))
        for (const auto& part : split(*v, ','))
            o.faultDevices.push_back(
                static_cast<int>(parseNumber("--fault-devices", part, kMaxDevices)));

    DeviceFaults& f = o.faults;
    f.neverAnswer = list.flag("--no-answer");
    if (auto v = list.option("--reply-delay"))
        f.replyDelay = parseMillis("--reply-delay", *v);
    if (auto v = list.option("--drop-rate")) {
        char* end = nullptr;
        f.dropRate = std::strtod(v->c_str(), &end);
        if (v->empty() || *end != '\0' || !(f.dropRate >= 0.0 && f.dropRate <= 1.0))
            throw UsageError("--drop-rate takes a fraction from 0 to 1, not \"" + *v + "\"");
    }
    if (auto v = list.option("--seed"))
        f.seed = parseNumber("--seed", *v, ~std::uint64_t{0});
    f.answerTwice = list.flag("--answer-twice");
    f.wrongVersion = list.flag("--wrong-version");
    f.wrongReplyCode = list.flag("--wrong-code");
    if (auto v = list.option("--answer-from"))
        f.answerFrom = parseMac("--answer-from", *v);
    if (list.flag("--busy-first-block"))
        f.statusRules.push_back(StatusRule::busyFirstBlock());
    for (const auto& v : list.options("--status"))
        f.statusRules.push_back(parseStatusRule(v));
    for (const auto& v : list.options("--silent"))
        f.silentCommands.push_back(parseCode("--silent", v));
    if (auto v = list.option("--flash-delay"))
        f.flashDelayPerBlock = parseMillis("--flash-delay", *v);
    f.noNotice = list.flag("--no-notice");
    if (auto v = list.option("--reboot-at-block"))
        f.rebootAtBlock = parseCode("--reboot-at-block", *v);
    f.rebootTime = Millis(3000);
    if (auto v = list.option("--reboot-time"))
        f.rebootTime = parseMillis("--reboot-time", *v);

    if (auto v = list.option("--save-images"))
        o.saveImages = *v;
    if (auto v = list.option("--report"))
        o.report = *v;
    if (auto v = list.option("--capture")) {
        if (v->empty())
            throw UsageError("--capture takes a file name");
        o.capture = *v;
    }

    std::string error;
    const auto rest = list.positionals(error);
    if (!error.empty())
        throw UsageError(error);
    if (!rest.empty())
        throw UsageError("unexpected argument \"" + rest.front() + "\"");
    if (o.interface.empty())
        throw UsageError("--interface is required");
    if (o.devices < 1)
        throw UsageError("--devices takes a number from 1 to 4096");
    if (!PasswordFitsFrame(o.password))
        throw UsageError("the password must have at most 15 characters");
    for (const int n : o.faultDevices)
        if (n < 1 || n > o.devices)
            throw UsageError("--fault-devices names device " + std::to_string(n) + " of " +
                             std::to_string(o.devices));
    return o;
}

bool hasFaults(const Options& o, int number) {
    return o.faultDevices.empty() ||
           std::find(o.faultDevices.begin(), o.faultDevices.end(), number) != o.faultDevices.end();
}

std::string hex16(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", value);
    return text;
}

std::int64_t n64(std::uint64_t value) {
    return static_cast<std::int64_t>(value);
}

std::string deviceReport(EmulatedDevice& device) {
    const DeviceStats s = device.stats();
    const FirmwareRecord fw = device.firmware();
    cli::JsonObject requests;
    for (const auto& [command, count] : s.requests)
        requests.add(hex16(command), n64(count));
    cli::JsonObject violations;
    for (std::size_t i = 0; i < kViolationKinds; ++i)
        violations.add(ViolationName(static_cast<Violation>(i)), n64(s.violations[i]));
    std::vector<std::string> order;
    order.reserve(fw.blockOrder.size());
    for (const auto index : fw.blockOrder)
        order.push_back(std::to_string(index));
    cli::JsonObject firmware;
    firmware.add("has_image", fw.hasImage)
        .add("accepted", fw.accepted)
        .add("image_length", n64(fw.image.size()))
        .add("image_sum", fw.imageSum)
        .add("header_flag", fw.headerFlag)
        .addRaw("block_order", cli::JsonArray(order, false))
        .add("completed", n64(fw.completed))
        .add("refused", n64(fw.refused))
        .add("restarts", n64(fw.restarts))
        .add("resent_blocks", n64(fw.resentBlocks))
        .add("receiving_bytes", n64(fw.receivingBytes));
    const DeviceIdentity identity = device.identity();
    const SettingsBlock settings = device.settings();
    cli::JsonObject out;
    out.add("mac", identity.mac().toString())
        .add("serial", identity.serialNumber())
        .add("hardware_version", identity.hardwareVersionDisplay())
        .add("firmware_version", identity.firmwareVersionDisplay())
        .add("ip_address", FormatIPv4(settings.ipAddress()))
        .add("has_password", !device.password().empty())
        .addRaw("requests", requests.str())
        .addRaw("violations", violations.str())
        .add("violations_total", n64(s.totalViolations()))
        .add("dropped", n64(s.dropped))
        .add("ignored", n64(s.ignored))
        .add("replies", n64(s.replies))
        .add("notices", n64(s.notices))
        .add("refused_passwords", n64(s.refusedPasswords))
        .add("settings_writes", n64(s.settingsWrites))
        .add("password_writes", n64(s.passwordWrites))
        .add("factory_writes", n64(s.factoryWrites))
        .add("reboots", n64(s.reboots))
        .addRaw("firmware", firmware.str());
    return out.str();
}

bool writeFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes) {
    const auto temporary = path.string() + ".part";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        if (!out)
            return false;
    }
    std::error_code error;
    std::filesystem::rename(temporary, path, error);
    return !error;
}

bool writeOutputs(const Options& o, DeviceEmulator& emulator) {
    bool ok = true;
    if (!o.saveImages.empty()) {
        std::error_code error;
        std::filesystem::create_directories(o.saveImages, error);
        for (std::size_t i = 0; i < emulator.deviceCount(); ++i) {
            EmulatedDevice& device = emulator.device(i);
            const FirmwareRecord fw = device.firmware();
            if (!fw.hasImage)
                continue;
            const auto path =
                std::filesystem::path(o.saveImages) / (device.mac().toString() + ".bin");
            if (!writeFile(path, fw.image)) {
                std::cerr << "korvane-devsim: cannot write " << path.string() << "\n";
                ok = false;
            }
        }
    }
    if (!o.report.empty()) {
        const EmulatorCounters c = emulator.counters();
        cli::JsonObject counters;
        counters.add("frames_received", n64(c.framesReceived))
            .add("frames_for_devices", n64(c.framesForDevices))
            .add("frames_sent", n64(c.framesSent))
            .add("send_failures", n64(c.sendFailures))
            .add("frames_delayed", n64(c.framesDelayed))
            .add("arp_replies", n64(c.arpReplies));
        std::vector<std::string> devices;
        for (std::size_t i = 0; i < emulator.deviceCount(); ++i)
            devices.push_back(deviceReport(emulator.device(i)));
        cli::JsonObject report;
        report.add("interface", o.interface)
            .addRaw("emulator", counters.str())
            .addRaw("devices", cli::JsonArray(devices));
        const std::string text = report.str() + "\n";
        if (!writeFile(o.report, std::span(reinterpret_cast<const std::uint8_t*>(text.data()),
                                           text.size()))) {
            std::cerr << "korvane-devsim: cannot write " << o.report << "\n";
            ok = false;
        }
    }
    return ok;
}

int run(const Options& o) {
    // Signals are taken by sigwait below; every thread started from here on
    // inherits the blocked mask, so none of them is interrupted by one.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    std::shared_ptr<CaptureFile> capture;
    if (!o.capture.empty()) {
        std::string error;
        capture = CaptureFile::create(o.capture, error);
        if (!capture) {
            std::cerr << "korvane-devsim: --capture: " << error << "\n";
            return 2;
        }
        capture->setMessageSink(
            [](const std::string& line) { std::cerr << "korvane-devsim: " << line; });
    }

    PcapDriver driver;
    OpenOptions open;
    open.promiscuous = true; // the devices' MACs are not the interface's own
    const auto program = ProtocolAndArpFilterProgram();
    open.filter.assign(program.begin(), program.end());
    OpenResult opened = driver.open(o.interface, open);
    if (!opened.port) {
        std::cerr << "korvane-devsim: cannot open " << o.interface << ": " << opened.error << "\n";
        if (opened.failure == OpenFailure::PermissionDenied)
            std::cerr << "korvane-devsim: raw Ethernet access needs root or the capability: "
                         "sudo setcap cap_net_raw+ep korvane-devsim\n";
        return 1;
    }

    DeviceEmulator emulator(RecordPort(std::move(opened.port), capture));
    for (int i = 0; i < o.devices; ++i) {
        DeviceConfig config =
            DefaultDeviceConfig(i, MacPlus(o.firstMac, static_cast<std::uint64_t>(i)));
        config.password = o.password;
        config.programmingDelay = o.programmingDelay;
        config.flashBootWord = o.bootWord;
        if (o.numericVersions) {
            config.hardwareVersion = VersionBytes(1, 1, 0, 0);
            config.firmwareVersion = VersionBytes(1, 0, 'K', 7);
        }
        if (hasFaults(o, i + 1)) {
            config.faults = o.faults;
            config.faults.seed = o.faults.seed + static_cast<std::uint64_t>(i);
        }
        emulator.addDevice(std::move(config));
    }
    emulator.start();
    std::cerr << "korvane-devsim: " << o.devices << " device" << (o.devices == 1 ? "" : "s")
              << " from " << o.firstMac.toString() << " on " << o.interface << "\n";
    std::cout << "ready" << std::endl;

    int signal = 0;
    sigwait(&signals, &signal);
    emulator.stop();
    return writeOutputs(o, emulator) ? 0 : 1;
}

} // namespace
} // namespace korvane::sim

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    for (const auto& a : args)
        if (a == "--help" || a == "-h") {
            std::cout << korvane::sim::kUsage;
            return 0;
        }
    try {
        return korvane::sim::run(korvane::sim::parseOptions(std::move(args)));
    } catch (const korvane::sim::UsageError& e) {
        std::cerr << "korvane-devsim: " << e.what() << "\n\n" << korvane::sim::kUsage;
        return 2;
    }
}
