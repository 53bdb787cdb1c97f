#pragma once

// The device password: the check (0x7001), the gate that asks the person
// for the password when the device has one, and the variant of the gate the
// firmware download runs for each unit.

#include "base/mac_address.hpp"
#include "base/sync.hpp"
#include "protocol/context.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace korvane {

class Operator;

// The messages of the password check, shared by every command that runs it.
namespace text {
inline constexpr std::string_view kNoRespond = "No respond!";
inline constexpr std::string_view kIncorrectPassword = "Incorrect Password.";
// A password that the frame (or the password block) cannot carry is refused
// at entry, naming the limit, never cut.
std::string PasswordTooLong(std::size_t limit);
} // namespace text

// 0x7001 with `password` in the frame: 2 accepted, 1 refused, 0 no reply.
std::uint16_t CheckPassword(Context& ctx, const MacAddress& target, std::string_view password,
                            StopToken* stop = nullptr);

// Which command runs the gate; they differ in what they make of its steps.
enum class GateCaller {
    NetworkSettings, // the sheet's OK: an entered password must pass a check
    IpSettings,      // no check of an entered password: the read that follows decides
    SetPassword,     // the check, repeated with the empty password when none was asked, must give 2
    SerialNumber,    // an entered password's check must give 2
};

enum class GateOutcome {
    Accepted,  // `password` is the SettingsPassword of the run (empty: the device has none)
    NoReply,   // no answer to the empty password: ends without a message
    Cancelled, // the person cancelled the Password Input dialog
    Refused,   // the entered password was refused (its message was shown)
};

struct GateResult {
    GateOutcome outcome = GateOutcome::NoReply;
    std::string password;
    bool asked = false; // the Password Input dialog was shown
};

// The password gate. `dialogText` is the Password Input dialog's text: its
// preset, and afterwards what the person typed (the sheet keeps one dialog for
// the whole run, so a second OK shows the text entered before). A password
// longer than the frame carries is refused at entry with a message naming the
// limit.
GateResult AcquirePassword(Context& ctx, const MacAddress& target, GateCaller caller, Operator& op,
                           std::string& dialogText, StopToken* stop = nullptr);
GateResult AcquirePassword(Context& ctx, const MacAddress& target, GateCaller caller, Operator& op,
                           StopToken* stop = nullptr);

// The Password Input dialog's label in the firmware download: the unit's
// serial number and "MAC:%02X-...".
std::string UnitPasswordLabel(const MacAddress& target);

enum class UnitGateOutcome {
    Accepted,
    NoReply,   // the device did not answer the check: no prompt, no password blamed
    Refused,   // the password entered (or none) was refused
    Cancelled, // the person cancelled the prompt
};

// What the firmware gate ends with. Tests true, and dereferences to the
// password, only when a password was accepted.
struct UnitGateResult {
    UnitGateOutcome outcome = UnitGateOutcome::Refused;
    std::string password;
    explicit operator bool() const { return outcome == UnitGateOutcome::Accepted; }
    const std::string& operator*() const { return password; }
};

// The firmware download's gate for one unit: when the device refuses the
// empty password, the unit's remembered password is tried first; otherwise
// (or when that is refused) the person is asked once, with the label above and
// the preset in the edit. An accepted password is the caller's to keep as the
// unit's remembered password. A device that answers no check is NoReply
// without a prompt.
UnitGateResult AcquireUnitPassword(Context& ctx, const MacAddress& target,
                                   std::string_view rememberedPassword, Operator& op,
                                   StopToken* stop = nullptr);

// Whether a password can be sent at all; the message to show when not.
std::optional<std::string> PasswordEntryProblem(std::string_view password);

} // namespace korvane
