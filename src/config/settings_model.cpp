#include "config/settings_model.hpp"

#include "base/operator.hpp"
#include "protocol/frame.hpp"

#include <algorithm>
#include <climits>
#include <cstdio>

namespace korvane {

namespace text {

std::string InvalidPort(int reservedPort) {
    return "Invalid port: " + std::to_string(reservedPort);
}

std::string PortsSame(std::string_view first, std::string_view second, int port) {
    return std::string(kPortsSame) + ": " + std::string(first) + " and " + std::string(second) +
           " both use port " + std::to_string(port);
}

std::string AddressConflictQuestion(std::uint32_t address) {
    return "IP address: " + FormatIPv4(address) +
           " already exists on the LAN. Are you sure you want to continue?";
}

} // namespace text

int CheckServicePorts(int http, int https, int ssh, int telnet, int& reserved) {
    const std::array<int, 4> ports = {http, https, ssh, telnet};
    for (std::size_t i = 0; i < ports.size(); ++i)
        for (std::size_t j = i + 1; j < ports.size(); ++j)
            if (ports[i] == ports[j])
                return -1;
    for (const int candidate : kReservedPorts)
        for (const int port : ports)
            if (port == candidate) {
                reserved = candidate;
                return 0;
            }
    return 1;
}

bool IsContiguousMask(std::uint32_t mask) {
    // Ones followed by zeros: the inverted mask plus one is a power of two (or zero).
    const std::uint32_t inverted = ~mask;
    return (inverted & (inverted + 1)) == 0;
}

int DefaultPort(ServiceKind service) {
    switch (service) {
    case ServiceKind::Http:
        return 80;
    case ServiceKind::Https:
        return 443;
    case ServiceKind::Telnet:
        return 23;
    case ServiceKind::Ssh:
        return 22;
    }
    return 0;
}

std::string_view ServiceName(ServiceKind service) {
    switch (service) {
    case ServiceKind::Http:
        return "HTTP";
    case ServiceKind::Https:
        return "HTTPS";
    case ServiceKind::Telnet:
        return "Telnet";
    case ServiceKind::Ssh:
        return "SSH";
    }
    return {};
}

namespace {

bool portInRange(int port) {
    return port >= kMinServicePort && port <= kMaxServicePort;
}

std::size_t serviceIndex(ServiceKind kind) {
    return static_cast<std::size_t>(kind);
}

bool hasHttpTelnetFields(std::uint16_t version) {
    return version >= kFirstVersionWithHttpTelnet;
}

// HTTP and Telnet fields: 0xFFFF or 0 mean off.
ServiceSetting readOnOffPort(std::uint16_t field, ServiceKind kind) {
    if (field == kPortOff || field == 0)
        return {false, false, DefaultPort(kind)};
    return {true, false, field};
}

// HTTPS and SSH fields: 0xFFFF off, 0 no such service.
ServiceSetting readOptionalPort(std::uint16_t field, ServiceKind kind) {
    if (field == kPortOff)
        return {false, false, DefaultPort(kind)};
    if (field == kPortAbsent)
        return {false, true, DefaultPort(kind)};
    return {true, false, field};
}

std::uint16_t portField(const ServiceSetting& s) {
    if (s.absent)
        return kPortAbsent;
    if (!s.enabled)
        return kPortOff;
    return static_cast<std::uint16_t>(std::clamp(s.port, 0, 0xFFFF));
}

OkFailure fail(OkTest test, std::string_view message) {
    return {test, std::string(message)};
}

bool firstOctetZero(std::uint32_t address) {
    return (address >> 24) == 0;
}

// The address tests 1 to 5 (sheet steps 9 to 13).
std::optional<OkFailure> addressTestsUpToGateway(const IpAddressPageModel& page) {
    if (page.ipAddress == 0)
        return fail(OkTest::IpAddressZero, text::kIpAddressZero);
    if (firstOctetZero(page.ipAddress))
        return fail(OkTest::IpFirstOctetZero, text::kInvalidIpAddress);
    if (page.subnetMask == 0 || page.subnetMask == 0xFFFFFFFF)
        return fail(OkTest::SubnetMaskZeroAll, text::kSubnetMaskZeroOrAll);
    if (page.gateway == 0xFFFFFFFF)
        return fail(OkTest::GatewayAll, text::kGatewayAll);
    if (firstOctetZero(page.gateway))
        return fail(OkTest::GatewayFirstOctet, text::kInvalidGateway);
    return std::nullopt;
}

std::optional<OkFailure> servicePortsTest(const AdvancedPageModel& page) {
    int reserved = 0;
    switch (CheckServicePorts(page.http.port, page.https.port, page.ssh.port, page.telnet.port,
                              reserved)) {
    case -1: {
        // The first equal pair in the order of the test names the services.
        const std::array<ServiceKind, 4> order = {ServiceKind::Http, ServiceKind::Https,
                                                  ServiceKind::Ssh, ServiceKind::Telnet};
        for (std::size_t i = 0; i < order.size(); ++i)
            for (std::size_t j = i + 1; j < order.size(); ++j)
                if (page.service(order[i]).port == page.service(order[j]).port)
                    return OkFailure{OkTest::PortsSame,
                                     text::PortsSame(ServiceName(order[i]), ServiceName(order[j]),
                                                     page.service(order[i]).port)};
        return fail(OkTest::PortsSame, text::kPortsSame);
    }
    case 0:
        return OkFailure{OkTest::ReservedPort, text::InvalidPort(reserved)};
    default:
        return std::nullopt;
    }
}

bool containsBlank(std::string_view s) {
    return std::any_of(s.begin(), s.end(), [](char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
    });
}

} // namespace

ServiceSetting& AdvancedPageModel::service(ServiceKind kind) {
    switch (kind) {
    case ServiceKind::Http:
        return http;
    case ServiceKind::Https:
        return https;
    case ServiceKind::Telnet:
        return telnet;
    case ServiceKind::Ssh:
        break;
    }
    return ssh;
}

const ServiceSetting& AdvancedPageModel::service(ServiceKind kind) const {
    return const_cast<AdvancedPageModel*>(this)->service(kind);
}

bool AdvancedPageModel::serviceEditable(ServiceKind kind) const {
    if (kind == ServiceKind::Http || kind == ServiceKind::Telnet)
        return hasHttpTelnetFields(version);
    return !service(kind).absent;
}

void AdvancedPageModel::setEnabled(ServiceKind kind, bool on) {
    ServiceSetting& s = service(kind);
    s.enabled = on;
    if (on && (s.port == 0 || s.port > kMaxServicePort))
        s.port = DefaultPort(kind);
}

void AdvancedPageModel::setPortText(ServiceKind kind, std::string_view digits) {
    ServiceSetting& s = service(kind);
    if (digits.empty()) {
        s.port = DefaultPort(kind);
        return;
    }
    // Digits only; a value too large for the member saturates (it fails the
    // range test either way).
    long long value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9')
            break;
        value = std::min<long long>(value * 10 + (c - '0'), INT_MAX);
    }
    s.port = static_cast<int>(value);
}

NetworkSettingsModel FillNetworkSettings(const SettingsBlock& block, std::uint16_t readStatus,
                                         bool modelFlag) {
    NetworkSettingsModel m;
    IpAddressPageModel& ip = m.ipPage;
    ip.version = block.version();
    ip.modelFlag = modelFlag;
    ip.ipAddress = block.ipAddress();
    ip.subnetMask = block.subnetMask();
    ip.gateway = block.gateway();
    ip.mode = block.addressMode();
    // Before version 31 a DHCP device keeps the address it was given in the
    // alternate field.
    if (ip.mode == AddressMode::Dhcp && ip.version < kFirstVersionWithBootp)
        ip.ipAddress = block.alternateIp();
    ip.firstAddress = ip.ipAddress;

    AdvancedPageModel& adv = m.advancedPage;
    adv.version = ip.version;
    if (hasHttpTelnetFields(adv.version)) {
        adv.http = readOnOffPort(block.port<settings_offset::kHttpPort>(), ServiceKind::Http);
        adv.telnet = readOnOffPort(block.port<settings_offset::kTelnetPort>(), ServiceKind::Telnet);
    } else {
        // No such fields: the defaults keep the port tests meaningful.
        adv.http = {false, false, DefaultPort(ServiceKind::Http)};
        adv.telnet = {false, false, DefaultPort(ServiceKind::Telnet)};
    }
    adv.https = readOptionalPort(block.port<settings_offset::kHttpsPort>(), ServiceKind::Https);
    adv.ssh = readOptionalPort(block.port<settings_offset::kSshPort>(), ServiceKind::Ssh);

    m.devicePasswordSet = readStatus == status::kPasswordRefused;
    if (m.devicePasswordSet) {
        m.passwordPage.enabled = true;
        m.passwordPage.newPassword = std::string(kUnchangedPassword);
        m.passwordPage.confirmPassword = std::string(kUnchangedPassword);
    }

    m.original.mode = ip.mode;
    m.original.ipAddress = ip.ipAddress;
    m.original.subnetMask = ip.subnetMask;
    m.original.gateway = ip.gateway;
    for (const ServiceKind kind : kServices)
        m.original.services[serviceIndex(kind)] = adv.service(kind);
    return m;
}

bool SettingsChanged(const NetworkSettingsModel& m) {
    const auto& ip = m.ipPage;
    if (ip.mode != m.original.mode || ip.ipAddress != m.original.ipAddress ||
        ip.subnetMask != m.original.subnetMask || ip.gateway != m.original.gateway)
        return true;
    for (const ServiceKind kind : kServices) {
        if ((kind == ServiceKind::Http || kind == ServiceKind::Telnet) &&
            !hasHttpTelnetFields(m.advancedPage.version))
            continue;
        const ServiceSetting& now = m.advancedPage.service(kind);
        const ServiceSetting& before = m.original.services[serviceIndex(kind)];
        if (now.enabled != before.enabled || now.port != before.port)
            return true;
    }
    return false;
}

void ApplyNetworkSettings(const NetworkSettingsModel& m, SettingsBlock& block) {
    block.setIpAddress(m.ipPage.ipAddress);
    block.setSubnetMask(m.ipPage.subnetMask);
    block.setGateway(m.ipPage.gateway);
    block.setAddressMode(m.ipPage.mode);
    const AdvancedPageModel& adv = m.advancedPage;
    if (hasHttpTelnetFields(adv.version)) {
        block.setPort<settings_offset::kHttpPort>(portField(adv.http));
        block.setPort<settings_offset::kTelnetPort>(portField(adv.telnet));
    }
    block.setPort<settings_offset::kHttpsPort>(portField(adv.https));
    block.setPort<settings_offset::kSshPort>(portField(adv.ssh));
}

PasswordWrite PlannedPasswordWrite(const NetworkSettingsModel& m) {
    if (m.passwordPage.enabled) {
        if (m.passwordPage.newPassword == kUnchangedPassword)
            return {};
        return {PasswordWrite::Kind::Set, m.passwordPage.newPassword};
    }
    if (m.devicePasswordSet)
        return {PasswordWrite::Kind::Clear, {}};
    return {};
}

std::optional<OkFailure> PasswordPageTest(const PasswordPageModel& page) {
    if (!page.enabled)
        return std::nullopt;
    if (page.newPassword != page.confirmPassword)
        return fail(OkTest::PasswordsDiffer, text::kPasswordsDiffer);
    if (page.newPassword.empty())
        return fail(OkTest::PasswordEmpty, text::kPasswordSpaceOrEmpty);
    if (containsBlank(page.newPassword))
        return fail(OkTest::PasswordBlank, text::kPasswordSpaceOrEmpty);
    if (page.newPassword != kUnchangedPassword && page.newPassword.size() > kMaxFramePassword)
        return OkFailure{OkTest::PasswordTooLong, text::PasswordTooLong(kMaxFramePassword)};
    return std::nullopt;
}

std::optional<OkFailure> IpAddressPageTest(const IpAddressPageModel& page) {
    if (page.mode != AddressMode::Static)
        return std::nullopt;
    if (auto failure = addressTestsUpToGateway(page))
        return failure;
    if (!IsContiguousMask(page.subnetMask))
        return fail(OkTest::MaskNotContiguous, text::kInvalidSubnetMask);
    return std::nullopt;
}

std::optional<OkFailure> AdvancedPageTest(const AdvancedPageModel& page) {
    if (auto failure = servicePortsTest(page))
        return failure;
    for (const ServiceKind kind : {ServiceKind::Http, ServiceKind::Telnet}) {
        const ServiceSetting& s = page.service(kind);
        if (s.enabled && !portInRange(s.port))
            return fail(OkTest::PortEditRange, text::kPortEditRange);
    }
    return std::nullopt;
}

std::optional<OkFailure> IpSettingsPageOk(IpAddressPageModel& page) {
    if (page.mode == AddressMode::Static) {
        if (page.ipAddress == 0)
            return fail(OkTest::IpAddressZero, text::kIpAddressZero);
        if (page.subnetMask == 0 || page.subnetMask == 0xFFFFFFFF)
            return fail(OkTest::SubnetMaskZeroAll, text::kSubnetMaskZeroOrAll);
        if (page.gateway == 0xFFFFFFFF)
            return fail(OkTest::GatewayAll, text::kGatewayAll);
        return std::nullopt;
    }
    if (page.subnetMask == 0xFFFFFFFF)
        page.subnetMask = 0xFFFFFF00;
    if (page.gateway == 0xFFFFFFFF)
        page.gateway = 0;
    return std::nullopt;
}

std::optional<OkFailure> SheetTestsBeforeConflict(const NetworkSettingsModel& m) {
    if (auto failure = PasswordPageTest(m.passwordPage))
        return failure;
    const AdvancedPageModel& adv = m.advancedPage;
    if (adv.http.enabled && !portInRange(adv.http.port))
        return fail(OkTest::HttpPortRange, text::kHttpPortRange);
    if (adv.telnet.enabled && !portInRange(adv.telnet.port))
        return fail(OkTest::TelnetPortRange, text::kTelnetPortRange);
    if (adv.https.enabled && !portInRange(adv.https.port))
        return fail(OkTest::HttpsPortRange, text::kHttpsPortRange);
    if (adv.ssh.enabled && !portInRange(adv.ssh.port))
        return fail(OkTest::SshPortRange, text::kSshPortRange);
    return std::nullopt;
}

std::optional<OkFailure> SheetTestsAfterConflict(const NetworkSettingsModel& m) {
    const bool addressTests = m.ipPage.mode == AddressMode::Static;
    if (addressTests)
        if (auto failure = addressTestsUpToGateway(m.ipPage))
            return failure;
    if (auto failure = servicePortsTest(m.advancedPage))
        return failure;
    if (addressTests && !IsContiguousMask(m.ipPage.subnetMask))
        return fail(OkTest::MaskNotContiguous, text::kInvalidSubnetMask);
    return std::nullopt;
}

bool ConflictQuestionApplies(const IpAddressPageModel& page) {
    return page.mode == AddressMode::Static && page.ipAddress != page.firstAddress;
}

SheetVerdict RunSheetOkTests(const NetworkSettingsModel& m, Operator& op,
                             const AddressProbe& addressInUse) {
    if (auto failure = SheetTestsBeforeConflict(m)) {
        op.showMessage(failure->message, MessageIcon::Warning);
        return SheetVerdict::TestFailed;
    }
    if (ConflictQuestionApplies(m.ipPage) && addressInUse && addressInUse(m.ipPage.ipAddress)) {
        if (!op.askYesNo(text::AddressConflictQuestion(m.ipPage.ipAddress), MessageIcon::Warning))
            return SheetVerdict::ConflictDeclined;
    }
    if (auto failure = SheetTestsAfterConflict(m)) {
        op.showMessage(failure->message, MessageIcon::Warning);
        return SheetVerdict::TestFailed;
    }
    return SheetVerdict::Accepted;
}

} // namespace korvane
