// Launch Device: the URL rule, and the launch over emulated devices (a silent
// device ends the operation, a device without settings or services is skipped).

#include "devices/web_page.hpp"
#include "devices_test_support.hpp"
#include "wire_fields.hpp"

#include <gtest/gtest.h>

namespace korvane {
namespace {

using test::DeviceMac;
using test::DeviceSegment;
using test::MakeRecord;
using test::MakeSettings;

TEST(WebPageUrl, HttpFirstThenHttpsElseNothing) {
    struct Case {
        std::uint16_t http;
        std::uint16_t https;
        const char* url; // nullptr: nothing opens
    };
    const Case cases[] = {
        {80, 443, "http://192.168.1.10:80/"},
        {0, 443, "https://192.168.1.10:443/"},
        {65535, 0, nullptr},
        {0, 65535, nullptr},
        {65535, 8443, "https://192.168.1.10:8443/"},
        {65534, 0, "http://192.168.1.10:65534/"},
        {1, 443, "http://192.168.1.10:1/"},
    };
    for (const Case& c : cases) {
        SettingsBlock block = MakeSettings(0xC0A8010A, c.http, c.https);
        // The alternate address is not looked at here.
        block.setAddressMode(AddressMode::Dhcp);
        block.setRawVersion(751);
        writeU32(block.bytes, settings_offset::kAlternateIp, 0x0A000001);
        const auto url = WebPageUrl(block);
        if (c.url == nullptr)
            EXPECT_FALSE(url) << c.http << "/" << c.https;
        else
            EXPECT_EQ(url.value_or("none"), c.url) << c.http << "/" << c.https;
    }
}

struct RecordingOpener : UrlOpener {
    std::vector<std::string> urls;
    bool openUrl(const std::string& url) override {
        urls.push_back(url);
        return true;
    }
};

struct CursorOperator : Operator {
    std::vector<bool> cursor;
    std::optional<std::string> askPassword(const std::string&, const std::string&) override {
        return std::nullopt;
    }
    Answer ask(const Question& question) override { return YesNoAnswer(question.buttons, false); }
    void showMessage(const std::string&, MessageIcon) override {}
    void setWaitCursor(bool on) override { cursor.push_back(on); }
};

class LaunchTest : public ::testing::Test {
  protected:
    // Devices 1..n, listed and all selected; `tweak` adjusts device i.
    void listDevices(int n, const std::function<void(int, sim::DeviceConfig&)>& tweak) {
        std::vector<test::ListedDevice> listed;
        for (int i = 1; i <= n; ++i) {
            sim::EmulatedDevice& device =
                lan.add(static_cast<std::uint32_t>(i), [&](sim::DeviceConfig& c) { tweak(i, c); });
            listed.push_back({device.identity(), "0.0.0.0"});
        }
        ASSERT_TRUE(list.applySearchResult(test::MakeResult(listed)));
        std::vector<int> every;
        for (int row = 0; row < list.rows().rowCount(); ++row)
            every.push_back(row);
        list.setSelection(std::move(every), -1);
    }
    std::uint64_t passwordChecks(std::size_t device) {
        return lan.emulator->device(device).stats().requestCount(code::kCheckPassword);
    }
    static std::vector<LaunchOutcome> outcomes(const std::vector<LaunchReport>& reports) {
        std::vector<LaunchOutcome> out;
        for (const auto& r : reports)
            out.push_back(r.outcome);
        return out;
    }
    static void setPorts(sim::DeviceConfig& c, std::uint16_t http, std::uint16_t https) {
        c.settings.setPort<settings_offset::kHttpPort>(http);
        c.settings.setPort<settings_offset::kHttpsPort>(https);
    }

    DeviceSegment lan{1};
    DeviceList list;
    RecordingOpener opener;
};

TEST_F(LaunchTest, ADeviceThatDoesNotAnswerEndsTheOperation) {
    listDevices(3, [](int i, sim::DeviceConfig& c) {
        if (i == 2)
            c.faults.silentCommands = {code::kCheckPassword};
    });
    const auto reports = LaunchSelectedDevices(*lan.ctx, list, opener);
    EXPECT_EQ(opener.urls, std::vector<std::string>{"http://192.168.1.1:80/"});
    EXPECT_EQ(outcomes(reports),
              (std::vector<LaunchOutcome>{LaunchOutcome::Opened, LaunchOutcome::NoReply,
                                          LaunchOutcome::NotReached}));
    EXPECT_EQ(passwordChecks(2), 0u);
    EXPECT_EQ(lan.ctx->currentAdapterIndex(), 0); // the devices' adapter was opened first
}

TEST_F(LaunchTest, DevicesWithoutSettingsOrServicesAreSkipped) {
    listDevices(4, [](int i, sim::DeviceConfig& c) {
        if (i == 1)
            c.faults.silentCommands = {code::kReadSettings};
        if (i == 2)
            setPorts(c, 0xFFFF, 0xFFFF);
        if (i == 3)
            setPorts(c, 0, 8443);
        if (i == 4)
            c.password = "set"; // the empty password is refused: the device is there all the same
    });
    CursorOperator op;
    const auto reports = LaunchSelectedDevices(*lan.ctx, list, opener, &op);
    EXPECT_EQ(opener.urls,
              (std::vector<std::string>{"https://192.168.1.3:8443/", "http://192.168.1.4:80/"}));
    EXPECT_EQ(outcomes(reports),
              (std::vector<LaunchOutcome>{LaunchOutcome::NoSettings, LaunchOutcome::ServiceOff,
                                          LaunchOutcome::Opened, LaunchOutcome::Opened}));
    EXPECT_EQ(op.cursor, (std::vector<bool>{true, false, true, false, true, false, true, false}));
    EXPECT_EQ(lan.violations(), 0u);
}

TEST_F(LaunchTest, NothingWhileASearchRunsOrNothingIsSelected) {
    listDevices(2, [](int, sim::DeviceConfig&) {});
    list.setBusy(true);
    EXPECT_TRUE(LaunchSelectedDevices(*lan.ctx, list, opener).empty());
    list.setBusy(false);
    list.setSelection({}, -1);
    EXPECT_TRUE(LaunchSelectedDevices(*lan.ctx, list, opener).empty());
    EXPECT_TRUE(opener.urls.empty());
    EXPECT_EQ(passwordChecks(0) + passwordChecks(1), 0u);
}

} // namespace
} // namespace korvane
