#include "config/config_commands.hpp"

#include "config/arp_probe.hpp"
#include "config/blocks.hpp"
#include "protocol/discovery.hpp"
#include "protocol/frame.hpp"

#include <thread>

namespace korvane {

namespace {

// Shows the wait cursor for one exchange with the device.
class WaitCursor {
  public:
    explicit WaitCursor(Operator& op) : op_(op) { op_.setWaitCursor(true); }
    ~WaitCursor() { op_.setWaitCursor(false); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

  private:
    Operator& op_;
};

void message(Operator& op, std::string_view text) {
    op.showMessage(std::string(text), MessageIcon::Warning);
}

SheetRefusal refusalOf(GateOutcome outcome) {
    switch (outcome) {
    case GateOutcome::NoReply:
        return SheetRefusal::GateNoReply;
    case GateOutcome::Cancelled:
        return SheetRefusal::GateCancelled;
    case GateOutcome::Refused:
    case GateOutcome::Accepted:
        break;
    }
    return SheetRefusal::GateRefused;
}

ConfigEnd endOf(GateOutcome outcome) {
    switch (outcome) {
    case GateOutcome::NoReply:
        return ConfigEnd::NoReply;
    case GateOutcome::Cancelled:
        return ConfigEnd::Cancelled;
    case GateOutcome::Refused:
    case GateOutcome::Accepted:
        break;
    }
    return ConfigEnd::PasswordRefused;
}

} // namespace

bool ModelLetterIsK(const DeviceIdentity& device) {
    return ModelLetter(device) == 'K';
}

NetworkSettingsResult RunNetworkSettings(Context& ctx, const DeviceIdentity& device, Operator& op,
                                         const NetworkSettingsHooks& hooks, StopToken* stop) {
    NetworkSettingsResult result;
    const MacAddress target = device.mac();
    ctx.useAdapterOf(device.adapterIndex(), stop);

    SettingsBlock block;
    std::uint16_t readStatus = 0;
    {
        WaitCursor cursor(op);
        readStatus = ReadSettings(ctx, target, "", block, stop);
    }
    if (readStatus == status::kNoReply) {
        message(op, text::kNoRespond);
        result.end = ConfigEnd::NoReply;
        return result;
    }

    NetworkSettingsModel model = FillNetworkSettings(block, readStatus, ModelLetterIsK(device));
    const AddressProbe probe = hooks.addressInUse ? hooks.addressInUse : [&](std::uint32_t ip) {
        return ProbeAddressInUse(ctx, ip, stop);
    };

    // The sheet stays open until an OK passes every test and the gate, or Cancel.
    std::string dialogText; // one Password Input dialog for the whole run
    std::string settingsPassword;
    for (;;) {
        if (!hooks.edit || !hooks.edit(model, result.lastRefusal)) {
            result.end = ConfigEnd::Cancelled;
            return result;
        }
        const SheetVerdict verdict = RunSheetOkTests(model, op, probe);
        if (verdict == SheetVerdict::TestFailed) {
            result.lastRefusal = SheetRefusal::TestFailed;
            continue;
        }
        if (verdict == SheetVerdict::ConflictDeclined) {
            result.lastRefusal = SheetRefusal::ConflictDeclined;
            continue;
        }
        const GateResult gate =
            AcquirePassword(ctx, target, GateCaller::NetworkSettings, op, dialogText, stop);
        if (gate.outcome != GateOutcome::Accepted) {
            result.lastRefusal = refusalOf(gate.outcome);
            continue;
        }
        settingsPassword = gate.password;
        break;
    }
    if (hooks.sheetAccepted)
        hooks.sheetAccepted();

    // The password first: the settings write that follows carries the
    // password accepted before the change, as the device still expects it then.
    const PasswordWrite passwordWrite = PlannedPasswordWrite(model);
    result.passwordWrite = passwordWrite.kind;
    if (passwordWrite.kind != PasswordWrite::Kind::None) {
        {
            WaitCursor cursor(op);
            result.passwordStatus =
                WritePassword(ctx, target, settingsPassword, passwordWrite.newPassword, stop);
        }
        if (result.passwordStatus == status::kNoReply)
            message(op, text::kSetPasswordAbort);
    }
    if (SettingsChanged(model)) {
        ApplyNetworkSettings(model, block);
        WaitCursor cursor(op);
        result.settingsStatus =
            WriteSettings(ctx, target, settingsPassword, block, kSettingsSheetWriteSize, stop);
        // A device that took the new password at once refuses the old one in
        // the settings write; rather than lose the settings, they go again
        // with the password the device now has.
        if (result.settingsStatus == status::kPasswordRefused &&
            result.passwordStatus == status::kDone && passwordWrite.newPassword != settingsPassword)
            result.settingsStatus = WriteSettings(ctx, target, passwordWrite.newPassword, block,
                                                  kSettingsSheetWriteSize, stop);
        result.settingsWritten = true;
    }

    const bool wrote = passwordWrite.kind != PasswordWrite::Kind::None || result.settingsWritten;
    result.end = wrote ? ConfigEnd::Written : ConfigEnd::NothingToWrite;
    if (wrote && hooks.startSearch && Pause(ctx.timing.searchAfterSettingsWrite, stop)) {
        hooks.startSearch();
        result.searchStarted = true;
    }
    return result;
}

IpAddressPageModel FillIpSettingsPage(const SettingsBlock& block) {
    IpAddressPageModel page;
    page.ipAddress = block.ipAddress();
    page.subnetMask = block.subnetMask();
    page.gateway = block.gateway();
    // A BOOTP device stays BOOTP unless the person chooses another mode.
    switch (block.rawAddressMode()) {
    case 1:
        page.mode = AddressMode::Dhcp;
        break;
    case 2:
        page.mode = AddressMode::Bootp;
        break;
    default:
        page.mode = AddressMode::Static;
        break;
    }
    page.version = 0;
    page.modelFlag = false;
    page.firstAddress = page.ipAddress;
    return page;
}

IpSettingsResult RunIpSettings(Context& ctx, const DeviceIdentity& device, Operator& op,
                               const IpPageEditor& edit, StopToken* stop) {
    IpSettingsResult result;
    const MacAddress target = device.mac();
    ctx.useAdapterOf(device.adapterIndex(), stop);

    const GateResult gate = AcquirePassword(ctx, target, GateCaller::IpSettings, op, stop);
    if (gate.outcome != GateOutcome::Accepted) {
        result.end = endOf(gate.outcome);
        return result;
    }

    SettingsBlock block;
    std::uint16_t readStatus = 0;
    {
        WaitCursor cursor(op);
        readStatus = ReadSettings(ctx, target, gate.password, block, stop);
    }
    if (readStatus != status::kDone) {
        message(op, text::kIncorrectPassword);
        result.end = ConfigEnd::PasswordRefused;
        return result;
    }

    IpAddressPageModel page = FillIpSettingsPage(block);
    std::optional<std::string> refusal;
    for (;;) {
        if (!edit || !edit(page, refusal)) {
            result.end = ConfigEnd::Cancelled;
            return result;
        }
        const auto failure = IpSettingsPageOk(page);
        if (!failure)
            break;
        message(op, failure->message);
        refusal = failure->message;
    }

    const IpAddressPageModel asRead = FillIpSettingsPage(block);
    if (page.mode == asRead.mode && page.ipAddress == asRead.ipAddress &&
        page.subnetMask == asRead.subnetMask && page.gateway == asRead.gateway) {
        // An OK without a change rewrites nothing: the device keeps its block as it is.
        result.end = ConfigEnd::NothingToWrite;
        return result;
    }
    block.setIpAddress(page.ipAddress);
    block.setSubnetMask(page.subnetMask);
    block.setGateway(page.gateway);
    block.setAddressMode(page.mode);
    {
        WaitCursor cursor(op);
        result.writeStatus =
            WriteSettings(ctx, target, gate.password, block, kSettingsIpWriteSize, stop);
    }
    if (result.writeStatus != status::kDone) {
        message(op, text::kWriteAbort);
        result.end = ConfigEnd::WriteFailed;
        return result;
    }
    result.end = ConfigEnd::Written;
    return result;
}

SetPasswordResult RunSetPassword(Context& ctx, const DeviceIdentity& device, Operator& op,
                                 const PasswordPageEditor& edit, StopToken* stop) {
    SetPasswordResult result;
    const MacAddress target = device.mac();
    ctx.useAdapterOf(device.adapterIndex(), stop);

    const GateResult gate = AcquirePassword(ctx, target, GateCaller::SetPassword, op, stop);
    if (gate.outcome != GateOutcome::Accepted) {
        result.end = endOf(gate.outcome);
        return result;
    }

    PasswordPageModel page;
    std::optional<std::string> refusal;
    for (;;) {
        if (!edit || !edit(page, refusal)) {
            result.end = ConfigEnd::Cancelled;
            return result;
        }
        const auto failure = PasswordPageTest(page);
        if (!failure)
            break;
        message(op, failure->message);
        refusal = failure->message;
    }
    if (page.enabled && page.newPassword == kUnchangedPassword) {
        result.end = ConfigEnd::NothingToWrite;
        return result;
    }

    const std::string newPassword = page.enabled ? page.newPassword : std::string();
    {
        WaitCursor cursor(op);
        result.writeStatus = WritePassword(ctx, target, gate.password, newPassword, stop);
    }
    if (result.writeStatus != status::kDone) {
        message(op, text::kSetPasswordAbort);
        result.end = ConfigEnd::WriteFailed;
        return result;
    }
    result.end = ConfigEnd::Written;
    return result;
}

std::uint32_t ParseSerialNumberText(std::string_view text) {
    text = text.substr(0, std::min(text.size(), kSerialNumberTextLimit));
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' ||
                               text[i] == '\r' || text[i] == '\v' || text[i] == '\f'))
        ++i;
    std::uint64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + static_cast<std::uint64_t>(text[i] - '0');
        if (value > 0xFFFFFFFFull)
            return 0xFFFFFFFFu;
    }
    return static_cast<std::uint32_t>(value);
}

MacAddress SerialNumberMac(std::uint32_t v) {
    return MacAddress{{0x02, 0x19, static_cast<std::uint8_t>(v >> 24),
                       static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 8),
                       static_cast<std::uint8_t>(v)}};
}

bool InSerialNumberRange(const MacAddress& mac) {
    const auto& b = mac.bytes;
    return b[0] == 0x02 && b[1] == 0x19 && b[2] == 0xA7 && b[3] == 0x00 && b[4] <= 0x01;
}

namespace {

// A MAC already on the segment gives two devices one address, and one of
// them drops out of every list; a MAC outside the range can never be
// changed again with this command. Both need a deliberate Yes.
bool confirmSerialNumber(Context& ctx, const DeviceIdentity& device, Operator& op,
                         SerialNumberResult& result, StopToken* stop) {
    const MacAddress target = device.mac();
    const MacAddress& mac = result.newMac;
    std::optional<MacAddress> holder;
    if (mac != target) {
        std::vector<DeviceIdentity> found(kDiscoveryCapacity);
        const int n = DiscoverDevices(ctx, found, ctx.currentAdapterIndex(), stop);
        for (int i = 0; i < n && !holder; ++i)
            if (found[static_cast<std::size_t>(i)].mac() == mac)
                holder = mac;
    }
    result.collides = holder.has_value();
    result.outOfRange = !InSerialNumberRange(mac);
    if (!result.collides && !result.outOfRange)
        return true;

    Question question;
    question.topic = QuestionTopic::SerialNumberRisk;
    question.icon = MessageIcon::Warning;
    question.buttons = QuestionButtons::YesNo;
    question.defaultAnswer = Answer::No;
    question.devices = {target};
    question.text = "Device " + DeviceName(target) + ": the serial number " +
                    std::to_string(mac.serialNumber()) + " gives the MAC address " +
                    mac.toString() + ".";
    if (result.collides)
        question.text += "\nAnother device on this segment already has this MAC address: the "
                         "two devices could not be told apart and one of them would drop out "
                         "of the list.";
    if (result.outOfRange)
        question.text += "\nThe address lies outside 02-19-A7-00-00-00 to 02-19-A7-00-01-FF: the "
                         "serial number of this device could never be set again.";
    question.text += "\nWrite it anyway?";
    return GoesAhead(op.ask(question));
}

} // namespace

SerialNumberResult RunSetSerialNumber(Context& ctx, const DeviceIdentity& device, Operator& op,
                                      const SerialNumberEditor& edit, StopToken* stop) {
    SerialNumberResult result;
    const MacAddress target = device.mac();
    ctx.useAdapterOf(device.adapterIndex(), stop);

    const GateResult gate = AcquirePassword(ctx, target, GateCaller::SerialNumber, op, stop);
    if (gate.outcome != GateOutcome::Accepted) {
        result.end = endOf(gate.outcome);
        return result;
    }
    const auto entered = edit ? edit(kSerialNumberPreset) : std::nullopt;
    if (!entered) {
        result.end = ConfigEnd::Cancelled;
        return result;
    }
    result.newMac = SerialNumberMac(ParseSerialNumberText(*entered));
    if (!confirmSerialNumber(ctx, device, op, result, stop)) {
        result.end = ConfigEnd::Declined;
        return result;
    }

    // The hardware version goes back exactly as the device reported it: a
    // text up to its terminator, the numeric form as its raw bytes (which may
    // hold zeros inside).
    const auto versionField =
        device.field(identity_offset::kHardwareVersion, kHardwareVersionWidth);
    const std::string_view hardwareVersion =
        device.hardwareVersionIsText()
            ? device.hardwareVersionText()
            : std::string_view(reinterpret_cast<const char*>(versionField.data()),
                               versionField.size());
    const auto block = BuildFactoryBlock(result.newMac, hardwareVersion);

    WaitCursor cursor(op);
    bool waited = false;
    for (;;) {
        result.writeStatus = WriteFactoryBlock(ctx, target, gate.password, block, stop);
        const auto signedStatus = static_cast<std::int16_t>(result.writeStatus);
        if (signedStatus < 0) {
            result.end = ConfigEnd::WriteFailed; // ends without a message
            return result;
        }
        if (result.writeStatus == status::kNoReply ||
            result.writeStatus == status::kPasswordRefused) {
            message(op, text::kWriteAbort);
            result.end = ConfigEnd::WriteFailed;
            return result;
        }
        if (result.writeStatus == status::kBusy) {
            if (waited) {
                message(op, text::kDownloadFailed);
                result.end = ConfigEnd::WriteFailed;
                return result;
            }
            waited = true;
            if (!Pause(ctx.timing.factoryBusyWait, stop)) {
                result.end = ConfigEnd::WriteFailed;
                return result;
            }
            continue;
        }
        result.end = ConfigEnd::Written;
        return result;
    }
}

bool FactoryCommandEnabled(FactoryCommand command, int selectedRows,
                           const MacAddress& selectedDevice) {
    if (selectedRows != 1)
        return false;
    if (command != FactoryCommand::SerialNumber)
        return true;
    return InSerialNumberRange(selectedDevice);
}

} // namespace korvane
