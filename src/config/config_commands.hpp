#pragma once

// The configuration commands as flows: Network Settings, IP Settings, Set
// Password and Serial Number. Each runs against one device (its discovery
// record, which carries the adapter it was found on) and asks the person
// through the Operator; the front end supplies the editing of the sheet or
// page as a callback, and the search that follows a write.

#include "base/mac_address.hpp"
#include "base/operator.hpp"
#include "base/sync.hpp"
#include "config/settings_model.hpp"
#include "protocol/context.hpp"
#include "protocol/device_identity.hpp"
#include "protocol/password.hpp"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace korvane {

// How a command ended.
enum class ConfigEnd {
    NoReply,         // the device did not answer (the read, or the empty password's check)
    Cancelled,       // the person cancelled
    PasswordRefused, // the gate (or the read with the entered password) refused
    NothingToWrite,  // OK without a change
    Written,         // the writes were sent; their statuses are in the result
    WriteFailed,     // the write was not accepted (its message, if any, was shown)
    Declined,        // a question about harm was answered No: nothing was written
};

// ---------------------------------------------------------------- Network Settings

// Why the sheet is shown again: the previous OK did not close it.
enum class SheetRefusal {
    None,             // first showing
    TestFailed,       // an OK test failed (its message was shown)
    ConflictDeclined, // the person answered No to the conflict question
    GateNoReply,      // no answer to the password check (no message)
    GateCancelled,    // the Password Input dialog was cancelled
    GateRefused,      // the entered password was refused (its message was shown)
};

// Shows the sheet on the model and lets the person edit it. True for OK,
// false for Cancel. Called again with the model as it was left when an OK is
// refused (the sheet stays open).
using SheetEditor = std::function<bool(NetworkSettingsModel& model, SheetRefusal previous)>;

struct NetworkSettingsResult {
    ConfigEnd end = ConfigEnd::NoReply;
    SheetRefusal lastRefusal = SheetRefusal::None;
    PasswordWrite::Kind passwordWrite = PasswordWrite::Kind::None;
    std::uint16_t passwordStatus = 0;
    bool settingsWritten = false;
    std::uint16_t settingsStatus = 0;
    bool searchStarted = false;
};

// The device's model letter is "K" (the seventh character of a firmware
// version in text form).
bool ModelLetterIsK(const DeviceIdentity& device);

struct NetworkSettingsHooks {
    SheetEditor edit;
    // The new search that follows a write, after Timing::searchAfterSettingsWrite.
    // Empty: no search (and no wait).
    std::function<void()> startSearch;
    // The conflict question's probe; empty: ProbeAddressInUse on the device's adapter.
    AddressProbe addressInUse;
    // The OK passed every test and the gate: the sheet closes now, before
    // the writes, as its window would. Empty: nothing to close.
    std::function<void()> sheetAccepted;
};

NetworkSettingsResult RunNetworkSettings(Context& ctx, const DeviceIdentity& device, Operator& op,
                                         const NetworkSettingsHooks& hooks,
                                         StopToken* stop = nullptr);

// ---------------------------------------------------------------- IP Settings

// Shows the IP Address page alone; `refusal` is the message of the previous
// refused OK (empty on the first showing). True for OK.
using IpPageEditor =
    std::function<bool(IpAddressPageModel& page, const std::optional<std::string>& refusal)>;

struct IpSettingsResult {
    ConfigEnd end = ConfigEnd::NoReply;
    std::uint16_t writeStatus = 0;
};

// The page a read block fills for the IP Settings command.
IpAddressPageModel FillIpSettingsPage(const SettingsBlock& block);

IpSettingsResult RunIpSettings(Context& ctx, const DeviceIdentity& device, Operator& op,
                               const IpPageEditor& edit, StopToken* stop = nullptr);

// ---------------------------------------------------------------- Set Password

// Shows the Password page alone; `refusal` as above. True for OK. Ticked,
// the new password is written (under the sheet's rules; "********" writes
// nothing); not ticked, the password is cleared.
using PasswordPageEditor =
    std::function<bool(PasswordPageModel& page, const std::optional<std::string>& refusal)>;

struct SetPasswordResult {
    ConfigEnd end = ConfigEnd::NoReply;
    std::uint16_t writeStatus = 0;
};

SetPasswordResult RunSetPassword(Context& ctx, const DeviceIdentity& device, Operator& op,
                                 const PasswordPageEditor& edit, StopToken* stop = nullptr);

// ---------------------------------------------------------------- Serial Number

inline constexpr std::string_view kSerialNumberPreset = "2801795072"; // 02-19-A7-00-00-00
inline constexpr std::size_t kSerialNumberTextLimit = 18;

// The dialog's conversion: leading blanks skipped, decimal digits up to the
// first other character (none: 0), clamped to 4294967295. Only the first 18
// characters count (the edit holds no more).
std::uint32_t ParseSerialNumberText(std::string_view text);
// 02-19 followed by the number's four bytes, most significant first.
MacAddress SerialNumberMac(std::uint32_t serialNumber);

// Whether the serial number command can still be used on a device with this
// MAC: 02-19-A7-00-00-00 .. 02-19-A7-00-01-FF.
bool InSerialNumberRange(const MacAddress& mac);

// Shows the Set Serial Number dialog with `preset`; nullopt for Cancel.
using SerialNumberEditor = std::function<std::optional<std::string>(std::string_view preset)>;

struct SerialNumberResult {
    ConfigEnd end = ConfigEnd::NoReply;
    std::uint16_t writeStatus = 0;
    MacAddress newMac;
    bool collides = false;   // another device on the segment has the new MAC
    bool outOfRange = false; // the new MAC leaves the range that enables the command
};

// Before the write, the new MAC is looked for among the devices that answer
// a discovery on the device's segment, and against the range above. Either
// finding asks one question (QuestionTopic::SerialNumberRisk, Yes/No, No the
// default) naming the device, the new MAC and what goes wrong; No ends the
// command with Declined and nothing written.
SerialNumberResult RunSetSerialNumber(Context& ctx, const DeviceIdentity& device, Operator& op,
                                      const SerialNumberEditor& edit, StopToken* stop = nullptr);

// ---------------------------------------------------------------- enabling

enum class FactoryCommand { Mac, IpSettings, SetPassword, SerialNumber };

// The factory commands need exactly one selected row; the serial number also
// a device whose MAC lies in 02-19-A7-00-00-00 .. 02-19-A7-00-01-FF.
bool FactoryCommandEnabled(FactoryCommand command, int selectedRows,
                           const MacAddress& selectedDevice);

} // namespace korvane
