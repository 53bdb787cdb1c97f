#pragma once

// One emulated device: the device side of the protocol as a state machine.
// It takes the frames addressed to it and answers with frames, each with the
// delay after which it goes out; it does no I/O itself, so the same object
// runs behind a DeviceEmulator, in a fuzz target or straight from a test.
// It checks what it receives as strictly as a device would and counts every
// deviation, so tests can see that the utility builds its frames right.
//
// Part of the sim layer (the emulator): uses protocol and what lies below it; docs/architecture.md
// shows which layer may use which.

#include "base/mac_address.hpp"
#include "base/timing.hpp"
#include "link/ethernet.hpp"
#include "protocol/config_blocks.hpp"
#include "protocol/device_identity.hpp"
#include "protocol/frame.hpp"

#include <array>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace korvane::sim {

// What a device notices in a request it receives. The first five make the
// frame unreadable for the device and get no answer; block and image
// deviations are refused with status 0; the rest are counted and the request
// is carried out all the same.
enum class Violation : std::uint8_t {
    Length,        // not n + 42 bytes (nor padded to the 60-byte minimum)
    Version,       // version field not 1
    UnknownCode,   // not a command a device takes
    Broadcast,     // a command other than discovery sent to the broadcast address
    DataLength,    // a data-length field this command never carries
    Tail,          // the two bytes after the data are not zero
    QueryArea,     // a query's zero-filled reply area (or the discovery filler) is not zero
    StatusField,   // a request with a status other than 0
    Parameter,     // a parameter other than 0 where the command has none
    PasswordField, // no terminator in the field, or bytes after it not zero
    BlockMark,     // settings block without 0x21472174
    Checksum,      // a block whose checksum does not add up
    Padding,       // bytes a block defines as zero are not
    BlockOrder,    // a firmware block that is neither the next, a resend nor block 0
    BlockSize,     // a firmware block shorter than 1024 bytes that was not the last
    ImageSum,      // the end-of-transfer sum differs from the bytes received
    HeaderFlag,    // an end-of-transfer flag other than 0 or 0x00010000
    FactoryBlock,  // the image's factory block disagrees with the flag or the device's MAC
    NoTransfer,    // end of transfer without any block
    CommandGap,    // a command sooner after the previous one than the device's minimum gap
    kCount
};
inline constexpr std::size_t kViolationKinds = static_cast<std::size_t>(Violation::kCount);
std::string_view ViolationName(Violation kind);
using ViolationCounts = std::array<std::uint64_t, kViolationKinds>;

inline constexpr std::size_t kFirmwareBlockSize = 1024;
inline constexpr std::uint32_t kHeaderFlagUnpatched = 0x00010000;
inline constexpr std::size_t kImageFactoryBlockOffset = 0xFF00;

// A request as the device reads it.
struct DeviceRequest {
    FrameHeader header;
    std::string password;               // text of the password field, up to its terminator
    std::span<const std::uint8_t> data; // the data a command carries; empty for queries
};

// Reads a frame addressed to a device (or broadcast). nullopt when it is no
// request a device could act on; every deviation found is added to `found`.
std::optional<DeviceRequest> ParseDeviceRequest(std::span<const std::uint8_t> frame,
                                                ViolationCounts& found);
// The reply code that answers a command the device takes; 0 for any other.
std::uint16_t ReplyCodeOf(std::uint16_t command);

// Changes the status of chosen requests: the first `times` requests with
// `command` (and, when given, this parameter: the firmware block index) get
// `status`. By default the request is carried out when the status says so
// (2, or 4 and above) and not for 0, 1 and 3; `effect` overrides that.
struct StatusRule {
    enum class Effect { Default, CarryOut, Skip };
    std::uint16_t command = 0;
    std::optional<std::uint16_t> parameter;
    std::uint16_t status = status::kDone;
    int times = -1; // -1: every matching request
    Effect effect = Effect::Default;

    // Status 3 to the first try of block 0: the device prepares its flash.
    static StatusRule busyFirstBlock() {
        return {code::kFirmwareBlock, std::uint16_t{0}, status::kBusy, 1, Effect::Skip};
    }
};

struct DeviceFaults {
    bool neverAnswer = false;
    Micros replyDelay{0};
    double dropRate = 0.0; // fraction of requests lost before the device sees them
    std::uint64_t seed = 1;
    bool answerTwice = false;
    bool wrongVersion = false;   // replies carry version 2
    bool wrongReplyCode = false; // replies carry the command code plus one
    std::optional<MacAddress> answerFrom;
    std::vector<StatusRule> statusRules;
    std::vector<std::uint16_t> silentCommands; // never answered
    Micros flashDelayPerBlock{0};              // added to the reply of each firmware block
    bool noNotice = false;
    // The device restarts when this block first arrives: the block is lost,
    // the transfer forgotten, and nothing is answered for `rebootTime`.
    std::optional<std::uint16_t> rebootAtBlock;
    Micros rebootTime{0};
};

// The raw bytes of a version field: text, or the four-byte numeric form.
std::vector<std::uint8_t> VersionText(std::string_view text);
std::vector<std::uint8_t> VersionBytes(std::uint8_t a, std::uint8_t b, std::uint8_t c,
                                       std::uint8_t d);

struct DeviceConfig {
    MacAddress mac;
    std::uint32_t leadingNumber = 1;
    std::vector<std::uint8_t> hardwareVersion; // at most 16 bytes are used
    std::vector<std::uint8_t> firmwareVersion; // at most 32 bytes are used
    SettingsBlock settings;                    // the first 68 bytes are the device's
    std::string password;
    std::uint32_t bootInfo = 0; // first number of the boot reply; nothing compares it
    // Boot version in bits 31..16, compatibility code in bits 7..0.
    std::uint32_t flashBootWord = 0x01020003;
    Micros programmingDelay = Millis(2000); // from end of transfer to the completion notice
    // Commands (writes, firmware blocks, end of transfer) that arrive closer
    // together than this count as CommandGap violations; zero checks nothing.
    Micros minCommandGap{0};
    DeviceFaults faults;
};

// Where device `index` of an emulated segment sits: its address, mask and
// gateway. Devices 0 to 154 hold 192.168.1.100 to .254 behind 192.168.1.1;
// the next ones fill 192.168.2.0/24, 192.168.3.0/24 and on, from .2 to .254
// behind .1 of their own /24. No device ever holds a network or broadcast
// address or its gateway's; past 192.168.255.254 the plan starts again at
// 192.168.2.2, so the first 64417 addresses are distinct.
struct DeviceAddress {
    std::uint32_t ip = 0;
    std::uint32_t mask = 0;
    std::uint32_t gateway = 0;
};
DeviceAddress DefaultDeviceAddress(int index);

// A device as it leaves the factory: numbered `index` on its segment, with
// the text versions, static address (DefaultDeviceAddress) and services of a
// current model.
DeviceConfig DefaultDeviceConfig(int index, const MacAddress& mac);

// A frame the device sends, and how long after the request.
struct Outgoing {
    std::vector<std::uint8_t> frame;
    Micros delay{0};
};

struct DeviceStats {
    std::map<std::uint16_t, std::uint64_t> requests; // every readable request, by command
    std::uint64_t dropped = 0;                       // lost by the drop fault
    std::uint64_t ignored = 0; // not answered: dead, silent for that command, rebooting
    std::uint64_t replies = 0; // reply frames produced (a double answer counts twice)
    std::uint64_t notices = 0; // completion notices produced
    std::uint64_t refusedPasswords = 0;
    std::uint64_t settingsWrites = 0;
    std::uint64_t passwordWrites = 0;
    std::uint64_t factoryWrites = 0;
    std::uint64_t reboots = 0;
    std::size_t lastSettingsWriteLength = 0;
    std::optional<Micros> shortestCommandGap; // between two commands received, once there were two
    ViolationCounts violations{};

    std::uint64_t requestCount(std::uint16_t command) const {
        const auto it = requests.find(command);
        return it == requests.end() ? 0 : it->second;
    }
    std::uint64_t violationCount(Violation kind) const {
        return violations[static_cast<std::size_t>(kind)];
    }
    std::uint64_t totalViolations() const;
};

struct FirmwareRecord {
    // The last image whose end of transfer arrived, as received.
    std::vector<std::uint8_t> image;
    std::vector<std::uint16_t> blockOrder; // block indices of that transfer, in arrival order
    std::uint32_t imageSum = 0;            // what the end-of-transfer record said
    std::uint32_t headerFlag = 0;
    bool hasImage = false;
    bool accepted = false; // whether that end of transfer was accepted
    std::uint64_t completed = 0;
    std::uint64_t refused = 0;
    std::uint64_t restarts = 0;     // transfers started over at block 0
    std::uint64_t resentBlocks = 0; // the block just accepted, sent again
    // The transfer in progress.
    std::size_t receivingBytes = 0;
    std::vector<std::uint16_t> receivingOrder;
};

class EmulatedDevice {
  public:
    explicit EmulatedDevice(DeviceConfig config);
    EmulatedDevice(const EmulatedDevice&) = delete;
    EmulatedDevice& operator=(const EmulatedDevice&) = delete;

    // Whether frames to `destination` are this device's: its MAC or broadcast.
    bool answersTo(const MacAddress& destination) const;
    // Handles one frame and returns what the device sends because of it.
    std::vector<Outgoing> receive(std::span<const std::uint8_t> frame,
                                  SteadyClock::time_point now = SteadyClock::now());

    MacAddress mac() const;
    DeviceIdentity identity() const; // the 128 bytes of its discovery reply
    SettingsBlock settings() const;
    void setSettings(const SettingsBlock& block);
    std::string password() const;
    void setPassword(std::string password);
    std::uint32_t flashBootWord() const;
    void setFlashBootWord(std::uint32_t word);
    void setHardwareVersion(std::span<const std::uint8_t> raw);
    void setFirmwareVersion(std::span<const std::uint8_t> raw);
    Micros programmingDelay() const;
    void setProgrammingDelay(Micros delay);
    DeviceFaults faults() const;
    void setFaults(DeviceFaults faults);

    DeviceStats stats() const;
    FirmwareRecord firmware() const;

    // Waits until `count` requests with `command` have arrived in all; true
    // when they did before the deadline.
    bool waitForRequests(std::uint16_t command, std::uint64_t count,
                         SteadyClock::time_point deadline) const;

  private:
    struct Reply {
        std::uint16_t status = status::kNoReply;
        std::vector<std::uint8_t> data;
    };

    Reply handle(const DeviceRequest& request, const MacAddress& requester,
                 std::vector<Outgoing>& extra);
    Reply discovery() const;
    Reply checkPassword(const DeviceRequest& request);
    Reply readSettings(const DeviceRequest& request);
    Reply writeSettings(const DeviceRequest& request);
    Reply writePassword(const DeviceRequest& request);
    Reply writeFactory(const DeviceRequest& request);
    Reply bootQuery(const DeviceRequest& request);
    Reply firmwareBlock(const DeviceRequest& request);
    Reply endOfTransfer(const DeviceRequest& request, const MacAddress& requester,
                        std::vector<Outgoing>& extra);
    bool passwordMatches(const DeviceRequest& request);
    void count(Violation kind) { ++stats_.violations[static_cast<std::size_t>(kind)]; }
    void checkCommandGap(std::uint16_t command, SteadyClock::time_point now);
    void forgetTransfer();
    std::vector<std::uint8_t> buildFrame(const MacAddress& destination, const MacAddress& source,
                                         std::uint16_t version, std::uint16_t replyCode,
                                         std::uint16_t parameter, std::uint16_t status,
                                         std::span<const std::uint8_t> data) const;

    mutable std::mutex mutex_;
    mutable std::condition_variable requestArrived_;
    DeviceIdentity identity_;
    SettingsBlock settings_;
    std::string password_;
    std::uint32_t bootInfo_;
    std::uint32_t flashBootWord_;
    Micros programmingDelay_;
    Micros minCommandGap_;
    std::optional<SteadyClock::time_point> lastCommandAt_;
    DeviceFaults faults_;
    std::mt19937_64 random_;
    std::optional<MacAddress> pendingMac_; // applied once the reply from the old MAC is out
    SteadyClock::time_point rebootUntil_{};
    bool rebooted_ = false;

    // The transfer in progress.
    std::vector<std::uint8_t> receiving_;
    std::vector<std::uint16_t> receivingOrder_;
    std::uint32_t nextBlock_ = 0;
    std::size_t lastBlockSize_ = 0;
    bool lastBlockShort_ = false;

    DeviceStats stats_;
    FirmwareRecord firmware_;
};

} // namespace korvane::sim
