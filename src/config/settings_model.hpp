#pragma once

// The Network Settings sheet as plain data: the IP Address, Advanced and
// Password pages with the rules that fill them from a SettingsBlock, the
// tests their OK and tab changes run, the change test and what goes back
// into the block. The GUI and the command line both drive this model, so
// every rule an operator can run into lives here and nowhere else.
//
// Part of the config layer: uses protocol and what lies below it; docs/architecture.md shows which
// layer may use which.

#include "config/blocks.hpp"
#include "protocol/password.hpp"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace korvane {

class Operator;

// The system's messages for the configuration commands.
namespace text {
inline constexpr std::string_view kSetPasswordAbort = "Set Password Abort";
inline constexpr std::string_view kWriteAbort = "Write Abort";
inline constexpr std::string_view kDownloadFailed = "Download Failed";
inline constexpr std::string_view kPasswordsDiffer =
    "New Password and Confirm Password are different. Please check again.";
inline constexpr std::string_view kPasswordSpaceOrEmpty =
    "Password could not have space or left empty. \nPlease input a valid password.";
inline constexpr std::string_view kHttpPortRange = "HTTP port should be in between 1 to 65534";
inline constexpr std::string_view kTelnetPortRange = "Telnet port should be in between 1 to 65534";
inline constexpr std::string_view kHttpsPortRange = "HTTPS port should be in between 1 to 65534";
inline constexpr std::string_view kSshPortRange = "SSH port should be in between 1 to 65534";
inline constexpr std::string_view kIpAddressZero = "Invalid Input IP Address 0.0.0.0";
inline constexpr std::string_view kInvalidIpAddress = "Invalid IP Address";
inline constexpr std::string_view kSubnetMaskZeroOrAll =
    "Invalid Input Subnet Mask 0.0.0.0 or 255.255.255.255";
inline constexpr std::string_view kGatewayAll = "Invalid Input Gateway Address 255.255.255.255";
inline constexpr std::string_view kInvalidGateway = "Invalid Gateway Address";
inline constexpr std::string_view kPortsSame = "Port numbers should not be same";
inline constexpr std::string_view kInvalidSubnetMask = "Invalid Subnet Mask";
// The range message of a page's port edit when the page is left.
inline constexpr std::string_view kPortEditRange = "Please enter an integer between 1 and 65534.";

// "Invalid port: %d"
std::string InvalidPort(int reservedPort);
// kPortsSame naming the two services and the port they share.
std::string PortsSame(std::string_view first, std::string_view second, int port);
// "IP address: %s already exists on the LAN. Are you sure you want to continue?"
std::string AddressConflictQuestion(std::uint32_t address);
} // namespace text

// Stands for the current password, unchanged, in the Password page.
inline constexpr std::string_view kUnchangedPassword = "********";

inline constexpr std::uint16_t kFirstVersionWithHttpTelnet = 32; // HTTP/Telnet fields exist
inline constexpr std::uint16_t kFirstVersionWithBootp = 31;
inline constexpr int kMinServicePort = 1;
inline constexpr int kMaxServicePort = 65534;

// No service may use one of these, taken in this order.
inline constexpr std::array<int, 8> kReservedPorts = {503, 161, 162, 21, 25, 3478, 1012, 1115};

// 1 when the ports are acceptable; -1 when two are equal (pairs compared in
// the order HTTP, HTTPS, SSH, Telnet); 0 when one is reserved, with the first
// reserved number (in kReservedPorts order) that a port uses in `reserved`.
int CheckServicePorts(int http, int https, int ssh, int telnet, int& reserved);

// True when the mask is a run of ones from the top bit followed by zeros.
bool IsContiguousMask(std::uint32_t mask);

// ---------------------------------------------------------------- pages

struct IpAddressPageModel {
    AddressMode mode = AddressMode::Static;
    std::uint32_t ipAddress = 0;
    std::uint32_t subnetMask = 0;
    std::uint32_t gateway = 0;
    std::uint16_t version = 0; // a version above 750 already counted as 0
    bool modelFlag = false;    // the device's model letter is "K"
    // The IP address the page showed when it was initialised; choosing any
    // other static address asks the conflict question.
    std::uint32_t firstAddress = 0;

    bool bootpAvailable() const { return modelFlag && version >= kFirstVersionWithBootp; }
    // A DHCP device under version 31 reports no mask and gateway of its own.
    bool showsMaskAndGateway() const {
        return mode != AddressMode::Dhcp || version >= kFirstVersionWithBootp;
    }
    // The three addresses can be edited only for a static address.
    bool addressesEditable() const { return mode == AddressMode::Static; }
    // An empty mask proposes the usual one when its control gets the focus.
    void subnetMaskFocused() {
        if (subnetMask == 0)
            subnetMask = 0xFFFFFF00;
    }
};

enum class ServiceKind { Http, Https, Telnet, Ssh };
inline constexpr std::array<ServiceKind, 4> kServices = {ServiceKind::Http, ServiceKind::Https,
                                                         ServiceKind::Telnet, ServiceKind::Ssh};

int DefaultPort(ServiceKind service);              // 80, 443, 23, 22
std::string_view ServiceName(ServiceKind service); // "HTTP", "HTTPS", "Telnet", "SSH"

struct ServiceSetting {
    bool enabled = false;
    bool absent = false; // HTTPS and SSH only: the device has no such service
    int port = 0;
};

struct AdvancedPageModel {
    // Construction values: every flag off, HTTP and Telnet ports 1, HTTPS and SSH 0.
    ServiceSetting http{false, false, 1};
    ServiceSetting https{false, false, 0};
    ServiceSetting telnet{false, false, 1};
    ServiceSetting ssh{false, false, 0};
    std::uint16_t version = 0;

    ServiceSetting& service(ServiceKind kind);
    const ServiceSetting& service(ServiceKind kind) const;

    // Whether the service's check box can be used: HTTP and Telnet from
    // version 32 on, HTTPS and SSH when the device has them.
    bool serviceEditable(ServiceKind kind) const;
    // The check box: ticking a service whose port is 0 or above 65534 puts
    // its default port back.
    void setEnabled(ServiceKind kind, bool on);
    // The port edit (digits only): an empty edit puts the default back.
    void setPortText(ServiceKind kind, std::string_view digits);
};

struct PasswordPageModel {
    bool enabled = false; // "En&able password setting"
    std::string newPassword;
    std::string confirmPassword;
};

// ---------------------------------------------------------------- the sheet

struct NetworkSettingsModel {
    IpAddressPageModel ipPage;
    AdvancedPageModel advancedPage;
    PasswordPageModel passwordPage;

    // What the pages held when they were filled, for the change test.
    struct Original {
        AddressMode mode = AddressMode::Static;
        std::uint32_t ipAddress = 0;
        std::uint32_t subnetMask = 0;
        std::uint32_t gateway = 0;
        std::array<ServiceSetting, 4> services{}; // in kServices order
    } original;
    // The settings read answered 1: the device has a password.
    bool devicePasswordSet = false;
};

// Fills the pages from a block that a read returned with `readStatus`.
NetworkSettingsModel FillNetworkSettings(const SettingsBlock& block, std::uint16_t readStatus,
                                         bool modelFlag);

// Whether OK has something to write. The address fields always count; the
// services count from version 32 for HTTP and Telnet (the fields an older
// device does not have) and always for HTTPS and SSH, which every write carries.
bool SettingsChanged(const NetworkSettingsModel& model);

// Puts the pages' values into the block read before; untouched fields stay as read.
void ApplyNetworkSettings(const NetworkSettingsModel& model, SettingsBlock& block);

struct PasswordWrite {
    enum class Kind { None, Set, Clear } kind = Kind::None;
    std::string newPassword; // empty for Clear
};
PasswordWrite PlannedPasswordWrite(const NetworkSettingsModel& model);

// ---------------------------------------------------------------- tests

// What a refused OK (or tab change) reports: which test and its message.
enum class OkTest {
    PasswordsDiffer,   // 1
    PasswordEmpty,     // 2
    PasswordBlank,     // 3
    PasswordTooLong,   // a new password the protocol cannot carry
    HttpPortRange,     // 4
    TelnetPortRange,   // 5
    HttpsPortRange,    // 6
    SshPortRange,      // 7
    IpAddressZero,     // 9
    IpFirstOctetZero,  // 10
    SubnetMaskZeroAll, // 11
    GatewayAll,        // 12
    GatewayFirstOctet, // 13
    PortsSame,         // 14
    ReservedPort,      // 15
    MaskNotContiguous, // 16
    PortEditRange,     // the Advanced page's own range check when it is left
};

struct OkFailure {
    OkTest test;
    std::string message;
};

// The Password page's rules (when it is ticked), at a tab change and at OK.
std::optional<OkFailure> PasswordPageTest(const PasswordPageModel& page);
// The IP Address page's address tests, in their order, when it is left. They
// apply to a static address; DHCP and BOOTP pass them over.
std::optional<OkFailure> IpAddressPageTest(const IpAddressPageModel& page);
// The Advanced page's tests when it is left.
std::optional<OkFailure> AdvancedPageTest(const AdvancedPageModel& page);
// The IP Address page shown alone (IP Settings): its OK. In DHCP mode it
// turns a mask of 255.255.255.255 into 255.255.255.0 and such a gateway into 0.
std::optional<OkFailure> IpSettingsPageOk(IpAddressPageModel& page);

// The sheet's OK tests before the conflict question (steps 1 to 7) and after
// it (9 to 16, the address tests interleaved with the port tests).
std::optional<OkFailure> SheetTestsBeforeConflict(const NetworkSettingsModel& model);
std::optional<OkFailure> SheetTestsAfterConflict(const NetworkSettingsModel& model);
// The conflict question is asked only for a new static address.
bool ConflictQuestionApplies(const IpAddressPageModel& page);

// Answers whether some station already uses an address.
using AddressProbe = std::function<bool(std::uint32_t address)>;

enum class SheetVerdict { Accepted, TestFailed, ConflictDeclined };
// Steps 1 to 16 of the sheet's OK: a failing test shows its message; a taken
// address asks the conflict question (Yes goes on).
SheetVerdict RunSheetOkTests(const NetworkSettingsModel& model, Operator& op,
                             const AddressProbe& addressInUse);

} // namespace korvane
