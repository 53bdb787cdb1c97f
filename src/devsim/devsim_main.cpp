// korvane-devsim: emulated devices answering on a real Ethernet interface
// until SIGINT or SIGTERM, with the emulator's fault knobs as options.

#include "app/password_file.hpp"
#include "base/platform.hpp"
#include "link/capture_recorder.hpp"
#include "link/pcap_driver.hpp"
#include "protocol/frame.hpp"
#include "sim/arp_responder.hpp"
#include "sim/device_emulator.hpp"
#include "sim/emulator_report.hpp"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace korvane::sim {
namespace {

constexpr const char* kProgram = "korvane-devsim";
constexpr int kMaxDevices = 4096;
constexpr std::uint64_t kMaxMillis = 24ull * 3600 * 1000; // a day
constexpr std::uint64_t kMaxTimes = 1000000;
constexpr MacAddress kFirstMac{{0x02, 0x19, 0xA7, 0x00, 0x00, 0x01}};
// How often a port whose interface went down is tried again. Short enough
// that a device is back within a utility's retry window after a blip.
constexpr std::chrono::milliseconds kReopenPeriod{100};

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

// ---------------------------------------------------------------------------
// Option values

// A whole number as strtoull reads it with base 0 (decimal, 0x hex, 0 octal),
// with nothing before or after it; nullopt when the text is none or the
// value lies outside [min, max].
std::optional<std::uint64_t> wholeNumber(const std::string& text, std::uint64_t min,
                                         std::uint64_t max) {
    // strtoull would skip blanks and take a sign (and wrap "-1" to the maximum).
    if (text.empty() || text[0] < '0' || text[0] > '9')
        return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 0);
    if (*end != '\0' || errno != 0 || value < min || value > max)
        return std::nullopt;
    return value;
}

CLI::Validator wholeNumberCheck(std::uint64_t min, std::uint64_t max) {
    const std::string range = std::to_string(min) + " to " + std::to_string(max);
    return {[=](std::string& text) -> std::string {
                if (wholeNumber(text, min, max))
                    return {};
                return "takes a number from " + range + ", not \"" + text + "\"";
            },
            ""};
}

CLI::Validator macCheck() {
    return {[](std::string& text) -> std::string {
                if (MacAddress::parse(text))
                    return {};
                return "takes a MAC address like 02-19-A7-00-00-01, not \"" + text + "\"";
            },
            ""};
}

// A fraction from 0 to 1; CLI::Range would let "nan" through.
CLI::Validator fractionCheck() {
    return {[](std::string& text) -> std::string {
                double value = 0;
                if (CLI::detail::lexical_cast(text, value) && value >= 0.0 && value <= 1.0)
                    return {};
                return "takes a fraction from 0 to 1, not \"" + text + "\"";
            },
            ""};
}

CLI::Validator nonEmptyCheck(const std::string& what) {
    return {
        [what](std::string& text) -> std::string { return text.empty() ? "takes " + what : ""; },
        ""};
}

// CODE=STATUS[:TIMES[:BLOCK]]: CODE, STATUS and BLOCK 16-bit numbers, TIMES
// up to a million (empty: every time).
std::optional<StatusRule> statusRule(const std::string& text) {
    const auto equals = text.find('=');
    if (equals == std::string::npos)
        return std::nullopt;
    const auto parts = CLI::detail::split(text.substr(equals + 1), ':');
    if (parts.empty() || parts.size() > 3)
        return std::nullopt;
    const auto command = wholeNumber(text.substr(0, equals), 0, 0xFFFF);
    const auto status = wholeNumber(parts[0], 0, 0xFFFF);
    if (!command || !status)
        return std::nullopt;
    StatusRule rule;
    rule.command = static_cast<std::uint16_t>(*command);
    rule.status = static_cast<std::uint16_t>(*status);
    if (parts.size() > 1 && !parts[1].empty()) {
        const auto times = wholeNumber(parts[1], 0, kMaxTimes);
        if (!times)
            return std::nullopt;
        rule.times = static_cast<int>(*times);
    }
    if (parts.size() > 2) {
        const auto block = wholeNumber(parts[2], 0, 0xFFFF);
        if (!block)
            return std::nullopt;
        rule.parameter = static_cast<std::uint16_t>(*block);
    }
    return rule;
}

CLI::Validator statusRuleCheck() {
    return {[](std::string& text) -> std::string {
                if (statusRule(text))
                    return {};
                return "takes CODE=STATUS[:TIMES[:BLOCK]] (e.g. 0x3001=3:1:0), not \"" + text +
                       "\"";
            },
            ""};
}

// ---------------------------------------------------------------------------
// The command line

// Every option once: its name, type, range and check, and where its value goes.
struct CommandLine {
    CLI::App app{"Emulated devices answering the device protocol on an Ethernet interface, "
                 "until SIGINT or SIGTERM. Prints \"ready\" on standard output once it listens.",
                 kProgram};
    Options o;
    std::string passwordFile;
    bool busyFirstBlock = false;
    std::vector<StatusRule> statusRules;

    CommandLine() {
        app.set_version_flag("--version", std::string(kProgram) + " " KORVANE_VERSION_TEXT,
                             "Print the version and exit");
        app.set_help_flag("-h,--help", "Print this help and exit");
        app.allow_windows_style_options(false); // on Windows too, /x is a path
        // As before CLI11: an option given twice takes its last value.
        app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
        DeviceFaults& f = o.faults;
        f.rebootTime = Millis(3000);

        app.add_option("--interface", o.interface,
                       "The interface to answer on (opened promiscuously)")
            ->type_name("IF")
            ->required();
        app.add_option("--devices", o.devices, "Number of devices (default 1)")
            ->type_name("N")
            ->check(wholeNumberCheck(1, kMaxDevices));
        app.add_option_function<std::string>(
               "--first-mac",
               [this](const std::string& text) { o.firstMac = *MacAddress::parse(text); },
               "The first device's MAC; the others count up (default 02-19-A7-00-00-01)")
            ->type_name("MAC")
            ->check(macCheck());
        app.add_option("--password", o.password, "Every device's password (default none)")
            ->type_name("P");
        app.add_option("--password-file", passwordFile,
                       "The password, from the first line of FILE (instead of --password)")
            ->type_name("FILE")
            ->check(CLI::ExistingFile.description(""));
        addMillis("--programming-delay", o.programmingDelay,
                  "End of a firmware transfer to the completion notice, in ms (default 2000)");
        app.add_option("--boot-word", o.bootWord, "Flash boot word (default 0x01020003)")
            ->type_name("NUMBER")
            ->check(wholeNumberCheck(0, 0xFFFFFFFF));
        app.add_flag("--numeric-versions", o.numericVersions,
                     "Versions in the four-byte numeric form (early devices)");

        const std::string faults = "Faults, for every device or only those of --fault-devices";
        app.add_option("--fault-devices", o.faultDevices,
                       "Device numbers counting from 1, comma separated")
            ->type_name("LIST")
            ->delimiter(',')
            ->allow_extra_args(false)
            ->check(wholeNumberCheck(1, kMaxDevices))
            ->group(faults);
        app.add_flag("--no-answer", f.neverAnswer, "Never answer")->group(faults);
        addMillis("--reply-delay", f.replyDelay, "Answer after this delay, in ms")->group(faults);
        app.add_option("--drop-rate", f.dropRate, "Lose this fraction of requests (0 to 1)")
            ->type_name("F")
            ->check(fractionCheck())
            ->group(faults);
        app.add_option("--seed", f.seed, "Seed of the drop decisions (default 1)")
            ->type_name("N")
            ->check(wholeNumberCheck(0, ~std::uint64_t{0}))
            ->group(faults);
        app.add_flag("--answer-twice", f.answerTwice, "Send every reply twice")->group(faults);
        app.add_flag("--wrong-version", f.wrongVersion, "Replies carry version 2")->group(faults);
        app.add_flag("--wrong-code", f.wrongReplyCode, "Replies carry the command code plus one")
            ->group(faults);
        app.add_option_function<std::string>(
               "--answer-from",
               [&f](const std::string& text) { f.answerFrom = MacAddress::parse(text); },
               "Replies come from this MAC")
            ->type_name("MAC")
            ->check(macCheck())
            ->group(faults);
        app.add_option_function<std::vector<std::string>>(
               "--status",
               [this](const std::vector<std::string>& texts) {
                   for (const auto& text : texts)
                       statusRules.push_back(*statusRule(text));
               },
               "Answer CODE with STATUS (TIMES times; only firmware block BLOCK); "
               "repeatable, e.g. 0x3001=3:1:0")
            ->type_name("CODE=STATUS[:TIMES[:BLOCK]]")
            ->allow_extra_args(false)
            ->check(statusRuleCheck())
            ->group(faults);
        app.add_flag("--busy-first-block", busyFirstBlock, "Status 3 to the first try of block 0")
            ->group(faults);
        app.add_option("--silent", f.silentCommands, "Never answer this command; repeatable")
            ->type_name("CODE")
            ->allow_extra_args(false)
            ->check(wholeNumberCheck(0, 0xFFFF))
            ->group(faults);
        addMillis("--flash-delay", f.flashDelayPerBlock,
                  "Extra delay of each firmware block's reply, in ms")
            ->group(faults);
        app.add_flag("--no-notice", f.noNotice, "Never send the completion notice")->group(faults);
        app.add_option_function<std::uint16_t>(
               "--reboot-at-block", [&f](std::uint16_t block) { f.rebootAtBlock = block; },
               "Restart when block N first arrives")
            ->type_name("N")
            ->check(wholeNumberCheck(0, 0xFFFF))
            ->group(faults);
        addMillis("--reboot-time", f.rebootTime, "How long the restart takes, in ms (default 3000)")
            ->group(faults);

        app.add_option("--capture", o.capture,
                       "Every frame sent and received, to FILE (pcap, at most 256 MiB), for "
                       "Wireshark and its korvane dissector")
            ->type_name("FILE")
            ->check(nonEmptyCheck("a file name"))
            ->group("Recording");
        app.add_option("--save-images", o.saveImages,
                       "On exit, the last image each device received, as DIR/<MAC>.bin")
            ->type_name("DIR")
            ->group("On exit");
        app.add_option("--report", o.report, "On exit, counters of every device, as JSON")
            ->type_name("FILE")
            ->group("On exit");
    }

    CLI::Option* addMillis(const std::string& name, Micros& target, const std::string& what) {
        return app
            .add_option_function<std::uint64_t>(
                name, [&target](std::uint64_t ms) { target = Millis(ms); }, what)
            ->type_name("MS")
            ->check(wholeNumberCheck(0, kMaxMillis));
    }

    // Parses argv; what no single option can check is checked here, once
    // the whole line is known. Throws CLI::ParseError on a usage error.
    // `args`: after the program's name.
    void parse(std::vector<std::string> args) {
        std::reverse(args.begin(), args.end()); // CLI11 takes them last first
        app.parse(std::move(args));
        if (!passwordFile.empty()) {
            std::string error;
            if (!ReadPasswordFile(passwordFile, o.password, error))
                throw CLI::ValidationError("--password-file", error);
        }
        // Never quoted: it is a password.
        if (!PasswordFitsFrame(o.password))
            throw CLI::ValidationError("the password must have at most 15 characters");
        DeviceFaults& f = o.faults;
        if (busyFirstBlock)
            f.statusRules.push_back(StatusRule::busyFirstBlock());
        f.statusRules.insert(f.statusRules.end(), statusRules.begin(), statusRules.end());
        for (const int n : o.faultDevices)
            if (n > o.devices)
                throw CLI::ValidationError("--fault-devices", "names device " + std::to_string(n) +
                                                                  " of " +
                                                                  std::to_string(o.devices));
    }
};

bool hasFaults(const Options& o, int number) {
    return o.faultDevices.empty() ||
           std::find(o.faultDevices.begin(), o.faultDevices.end(), number) != o.faultDevices.end();
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
        const std::string text = EmulatorReport(o.interface, emulator);
        if (!writeFile(o.report, std::span(reinterpret_cast<const std::uint8_t*>(text.data()),
                                           text.size()))) {
            std::cerr << "korvane-devsim: cannot write " << o.report << "\n";
            ok = false;
        }
    }
    return ok;
}

int run(const Options& o) {
    // Interrupts end the wait below; made before any thread starts, so that
    // none of them is interrupted by one.
    platform::InterruptPause interrupts;

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
    if (const std::string why = driver.unavailableReason(); !why.empty()) {
        std::cerr << "korvane-devsim: " << why << "\n";
        return 1;
    }
    OpenOptions open;
    open.promiscuous = true; // the devices' MACs are not the interface's own
    const auto program = ProtocolAndArpFilterProgram();
    open.filter.assign(program.begin(), program.end());
    OpenResult opened = driver.open(o.interface, open);
    if (!opened.port) {
        std::cerr << "korvane-devsim: cannot open " << o.interface << ": " << opened.error << "\n";
        if (opened.failure == OpenFailure::PermissionDenied)
            std::cerr << "korvane-devsim: " << driver.permissionFix() << "\n";
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
    // When the interface goes down or away, the port's receive side ends;
    // the emulator is then deaf until the interface is opened again, which
    // is tried every kReopenPeriod until it works or the program is stopped.
    std::mutex endedMutex;
    std::optional<std::string> endedReason;
    emulator.setPortEndHandler([&](const std::string& reason) {
        std::lock_guard lock(endedMutex);
        endedReason = reason.empty() ? std::string("no reason given") : reason;
    });
    emulator.start();
    std::cerr << "korvane-devsim: " << o.devices << " device" << (o.devices == 1 ? "" : "s")
              << " from " << o.firstMac.toString() << " on " << o.interface << "\n";
    std::cout << "ready" << std::endl;

    std::optional<std::string> deaf; // why the devices cannot hear, while they cannot
    std::string lastOpenError;
    for (;;) {
        if (interrupts.wait(kReopenPeriod))
            break;
        {
            std::lock_guard lock(endedMutex);
            if (endedReason && !deaf) {
                deaf = endedReason;
                std::cerr << "korvane-devsim: " << o.interface << " stopped delivering frames ("
                          << *deaf << "); opening it again until it is back\n";
            }
            endedReason.reset();
        }
        if (!deaf)
            continue;
        OpenResult again = driver.open(o.interface, open);
        if (!again.port) {
            if (again.error != lastOpenError)
                std::cerr << "korvane-devsim: cannot open "
                          << o.interface << " yet: " << again.error << "\n";
            lastOpenError = again.error;
            continue;
        }
        emulator.replacePort(RecordPort(std::move(again.port), capture));
        std::cerr << "korvane-devsim: " << o.interface << " is open again; the devices answer\n";
        deaf.reset();
        lastOpenError.clear();
    }
    emulator.stop();
    bool ok = writeOutputs(o, emulator);
    if (deaf) {
        std::cerr << "korvane-devsim: stopped while "
                  << o.interface << " could not be opened again ("
                  << (lastOpenError.empty() ? *deaf : lastOpenError)
                  << "): the devices were not answering\n";
        ok = false;
    }
    return ok ? 0 : 1;
}

} // namespace
} // namespace korvane::sim

int main(int argc, char** argv) {
    korvane::platform::PrepareConsole();
    korvane::sim::CommandLine line;
    try {
        line.parse(korvane::platform::ProgramArguments(argc, argv));
    } catch (const CLI::Success& e) {
        return line.app.exit(e); // --help, --version
    } catch (const CLI::ParseError& e) {
        std::cerr << korvane::sim::kProgram << ": " << e.what() << "\n"
                  << "Run '" << korvane::sim::kProgram << " --help' for more information.\n";
        return 2;
    }
    return korvane::sim::run(line.o);
}
