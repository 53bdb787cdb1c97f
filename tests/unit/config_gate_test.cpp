// The password gate against an emulated device: its outcomes per caller, and
// the firmware download's per-unit variant.

#include "config_test_support.hpp"

#include "config/settings_model.hpp"
#include "protocol/password.hpp"

#include <gtest/gtest.h>

namespace korvane {
namespace {

using testing::DeviceFixture;
using testing::kDeviceMac;
using testing::ScriptedOperator;

TEST(CheckPassword, EmptyPasswordIsA42ByteFrameWithZeroPasswordField) {
    DeviceFixture f;
    EXPECT_EQ(CheckPassword(f.ctx, kDeviceMac, ""), status::kDone);
    f.device.setPassword("pw");
    EXPECT_EQ(CheckPassword(f.ctx, kDeviceMac, ""), status::kPasswordRefused);
    EXPECT_EQ(CheckPassword(f.ctx, kDeviceMac, "pw"), status::kDone);
    const auto checks = f.requests(code::kCheckPassword);
    ASSERT_EQ(checks.size(), 3u);
    ASSERT_EQ(checks[0].frame.size(), 42u);
    for (std::size_t i = 22; i < 42; ++i)
        EXPECT_EQ(checks[0].frame[i], 0) << i;
}

struct GateCase {
    const char* what;
    GateCaller caller;
    std::string devicePassword;
    std::vector<std::optional<std::string>> typed; // what the person enters
    GateOutcome outcome;
    std::string password;                // the accepted password
    std::vector<std::string> messages;   // what the person is told
    std::vector<std::string> checksSent; // the passwords of the 0x7001 frames
};

TEST(AcquirePassword, OutcomesPerCaller) {
    const std::string incorrect(text::kIncorrectPassword);
    const GateCase cases[] = {
        {"no password: accepted empty, no prompt",
         GateCaller::NetworkSettings,
         "",
         {},
         GateOutcome::Accepted,
         "",
         {},
         {""}},
        {"sheet: right password",
         GateCaller::NetworkSettings,
         "pw",
         {"pw"},
         GateOutcome::Accepted,
         "pw",
         {},
         {"", "pw"}},
        {"sheet: wrong password",
         GateCaller::NetworkSettings,
         "pw",
         {"nope"},
         GateOutcome::Refused,
         "",
         {incorrect},
         {"", "nope"}},
        {"sheet: cancel",
         GateCaller::NetworkSettings,
         "pw",
         {std::nullopt},
         GateOutcome::Cancelled,
         "",
         {},
         {""}},
        {"IP settings: entered password is not checked",
         GateCaller::IpSettings,
         "pw",
         {"nope"},
         GateOutcome::Accepted,
         "nope",
         {},
         {""}},
        {"set password: no password asked, checked twice",
         GateCaller::SetPassword,
         "",
         {},
         GateOutcome::Accepted,
         "",
         {},
         {"", ""}},
        {"set password: wrong password",
         GateCaller::SetPassword,
         "pw",
         {"nope"},
         GateOutcome::Refused,
         "",
         {incorrect},
         {"", "nope"}},
        {"serial number: no second check without a prompt",
         GateCaller::SerialNumber,
         "",
         {},
         GateOutcome::Accepted,
         "",
         {},
         {""}},
        {"serial number: right password",
         GateCaller::SerialNumber,
         "pw",
         {"pw"},
         GateOutcome::Accepted,
         "pw",
         {},
         {"", "pw"}},
        {"too long for the frame: refused at entry, nothing sent",
         GateCaller::NetworkSettings,
         "pw",
         {"0123456789abcdef"},
         GateOutcome::Refused,
         "",
         {text::PasswordTooLong(15)},
         {""}},
    };
    for (const GateCase& c : cases) {
        DeviceFixture f;
        f.device.setPassword(c.devicePassword);
        ScriptedOperator op;
        op.passwords.assign(c.typed.begin(), c.typed.end());
        const GateResult r = AcquirePassword(f.ctx, kDeviceMac, c.caller, op);
        EXPECT_EQ(r.outcome, c.outcome) << c.what;
        EXPECT_EQ(r.password, c.password) << c.what;
        EXPECT_EQ(op.messages, c.messages) << c.what;
        EXPECT_EQ(op.prompts.size(), c.typed.size()) << c.what;
        std::vector<std::string> sent;
        for (const auto& request : f.requests(code::kCheckPassword))
            sent.push_back(request.password);
        EXPECT_EQ(sent, c.checksSent) << c.what;
    }
}

TEST(AcquirePassword, NoReplyEndsWithoutMessageOrPrompt) {
    for (GateCaller caller : {GateCaller::NetworkSettings, GateCaller::IpSettings,
                              GateCaller::SetPassword, GateCaller::SerialNumber}) {
        DeviceFixture f;
        f.shortWindows();
        testing::SetSilent(f.device);
        ScriptedOperator op;
        op.passwords = {"pw"};
        EXPECT_EQ(AcquirePassword(f.ctx, kDeviceMac, caller, op).outcome, GateOutcome::NoReply);
        EXPECT_TRUE(op.messages.empty());
        EXPECT_TRUE(op.prompts.empty());
    }
}

TEST(AcquirePassword, SheetSaysNoRespondWhenTheEnteredPasswordGetsNoReply) {
    DeviceFixture f;
    const Timing usual = f.ctx.timing;
    f.shortWindows();
    f.device.setPassword("pw");
    testing::ScriptStatuses(f.device, code::kCheckPassword, {status::kPasswordRefused, 0});
    ScriptedOperator op;
    op.passwords = {"pw"};
    // A scripted status 0 is "no reply" to the caller as well.
    const GateResult r = AcquirePassword(f.ctx, kDeviceMac, GateCaller::NetworkSettings, op);
    EXPECT_EQ(r.outcome, GateOutcome::Refused);
    EXPECT_EQ(op.messages, std::vector<std::string>{std::string(text::kNoRespond)});

    // The serial number's check wants a 2: any other answer is an incorrect password.
    // This answer must arrive, so the window is the usual one again: 5 ms is
    // too short for a loaded machine (a sanitizer build beside other tests).
    f.ctx.timing = usual;
    testing::ScriptStatuses(f.device, code::kCheckPassword, {status::kPasswordRefused, 4});
    op.messages.clear();
    op.passwords = {"pw"};
    EXPECT_EQ(AcquirePassword(f.ctx, kDeviceMac, GateCaller::SerialNumber, op).outcome,
              GateOutcome::Refused);
    EXPECT_EQ(op.messages, std::vector<std::string>{std::string(text::kIncorrectPassword)});
}

TEST(AcquirePassword, SheetDialogKeepsTheTextEnteredBefore) {
    DeviceFixture f;
    f.device.setPassword("pw");
    ScriptedOperator op;
    op.passwords = {"wrong", "pw"};
    std::string dialogText;
    EXPECT_EQ(
        AcquirePassword(f.ctx, kDeviceMac, GateCaller::NetworkSettings, op, dialogText).outcome,
        GateOutcome::Refused);
    EXPECT_EQ(
        AcquirePassword(f.ctx, kDeviceMac, GateCaller::NetworkSettings, op, dialogText).outcome,
        GateOutcome::Accepted);
    ASSERT_EQ(op.prompts.size(), 2u);
    EXPECT_EQ(op.prompts[0].second, "");
    EXPECT_EQ(op.prompts[1].second, "wrong");
    EXPECT_EQ(op.prompts[1].first, "") << "the configuration commands show no label";
}

TEST(AcquireUnitPassword, RememberedPasswordFirstThenOnePrompt) {
    DeviceFixture f;
    f.device.setPassword("pw");
    ScriptedOperator op;
    auto accepted = AcquireUnitPassword(f.ctx, kDeviceMac, "pw", op);
    ASSERT_TRUE(accepted);
    EXPECT_EQ(*accepted, "pw");
    EXPECT_TRUE(op.prompts.empty());

    op.passwords = {"pw"};
    accepted = AcquireUnitPassword(f.ctx, kDeviceMac, "stale", op);
    ASSERT_TRUE(accepted);
    EXPECT_EQ(*accepted, "pw");
    ASSERT_EQ(op.prompts.size(), 1u);
    EXPECT_EQ(op.prompts[0].first, "2801795363 MAC:02-19-A7-00-01-23"); // names the unit
    EXPECT_EQ(op.prompts[0].second, "stale");

    op.prompts.clear();
    op.passwords = {"wrong", "pw"};
    accepted = AcquireUnitPassword(f.ctx, kDeviceMac, "", op);
    EXPECT_FALSE(accepted);
    EXPECT_EQ(accepted.outcome, UnitGateOutcome::Refused);
    EXPECT_EQ(op.prompts.size(), 1u) << "no second prompt";

    // A silent device is not asked a password of anybody.
    op.prompts.clear();
    auto faults = f.device.faults();
    faults.neverAnswer = true;
    f.device.setFaults(faults);
    EXPECT_EQ(AcquireUnitPassword(f.ctx, kDeviceMac, "pw", op).outcome, UnitGateOutcome::NoReply);
    EXPECT_TRUE(op.prompts.empty());
    faults.neverAnswer = false;
    f.device.setFaults(faults);

    // A device without a password: the empty password passes, the remembered one is not sent.
    f.device.setPassword("");
    const std::size_t before = f.requests(code::kCheckPassword).size();
    op.prompts.clear();
    accepted = AcquireUnitPassword(f.ctx, kDeviceMac, "old", op);
    ASSERT_TRUE(accepted);
    EXPECT_EQ(*accepted, "");
    EXPECT_TRUE(op.prompts.empty());
    const auto checks = f.requests(code::kCheckPassword);
    ASSERT_EQ(checks.size(), before + 2);
    EXPECT_EQ(checks[before].password, "");
    EXPECT_EQ(checks[before + 1].password, "");
}

} // namespace
} // namespace korvane
