// The search cycle over simulated adapters with scripted devices: LAN
// addresses, merging across adapters, the busy state, remembered passwords,
// and stopping in the middle.

#include "config/blocks.hpp"
#include "devices/search.hpp"
#include "devices_test_support.hpp"

#include <gtest/gtest.h>

namespace korvane {
namespace {

using test::DeviceMac;
using test::MakeRecord;
using test::MakeSettings;
using test::ScriptedDevice;
using test::ScriptedResponder;

constexpr std::uint32_t kIp(std::uint8_t last) {
    return 0xC0A80100u | last; // 192.168.1.last
}

class SearchTest : public ::testing::Test {
  protected:
    const MacAddress kAdapter0{{0x02, 0x00, 0x00, 0x5E, 0x00, 0x01}};
    const MacAddress kAdapter1{{0x02, 0x00, 0x00, 0x5E, 0x00, 0x02}};

    void makeContext(int adapters, Timing timing = test::TestTiming()) {
        segment.addAdapter("sim0", "first", kAdapter0);
        if (adapters > 1)
            segment.addAdapter("sim1", "second", kAdapter1);
        ctx = std::make_unique<Context>(segment, timing);
        ctx->link.setDiagnosticSink(nullptr);
        ctx->enumerateAdapters();
    }
    ScriptedResponder& addDevice(std::uint32_t serialLow, ScriptedDevice device = {}) {
        device.identity = MakeRecord(DeviceMac(serialLow));
        if (device.settings.ipAddress() == 0)
            device.settings = MakeSettings(kIp(static_cast<std::uint8_t>(serialLow)));
        devices.push_back(std::make_unique<ScriptedResponder>(segment, device));
        return *devices.back();
    }
    // One search, applied; false when it did not end within a generous time.
    bool searchOnce(DeviceSearch& search) {
        if (!search.StartSearch())
            return false;
        if (!search.WaitEnded(SteadyClock::now() + std::chrono::seconds(20)))
            return false;
        return search.ApplyPendingResult();
    }

    SimulatedSegment segment;
    std::vector<std::unique_ptr<ScriptedResponder>> devices;
    std::unique_ptr<Context> ctx;
    DeviceList list;
};

TEST_F(SearchTest, ReadLanAddressFollowsTheDhcpVersionRule) {
    makeContext(1);
    struct Case {
        std::uint32_t serial;
        AddressMode mode;
        std::uint16_t version;
        bool answers;
        std::uint32_t expected;
    };
    const std::uint32_t ip = kIp(10);
    const std::uint32_t alternate = 0x0A000002; // 10.0.0.2
    const Case cases[] = {
        {1, AddressMode::Dhcp, 751, true, alternate},
        {2, AddressMode::Dhcp, 31, true, ip},
        {3, AddressMode::Static, 751, true, ip},
        {4, AddressMode::Dhcp, 751, false, 0},
    };
    for (const Case& c : cases) {
        ScriptedDevice device;
        device.settings = MakeSettings(ip);
        device.settings.setAddressMode(c.mode);
        device.settings.setRawVersion(c.version);
        writeU32(device.settings.bytes, settings_offset::kAlternateIp, alternate);
        device.answerPasswordCheck = c.answers;
        addDevice(c.serial, device);
    }
    ASSERT_TRUE(ctx->openAdapter(0));
    for (const Case& c : cases)
        EXPECT_EQ(ReadLanAddress(*ctx, DeviceMac(c.serial)), c.expected) << "device " << c.serial;
}

TEST_F(SearchTest, TwoAdaptersOnOneSegmentListEachDeviceOnceOnTheLowerAdapter) {
    makeContext(2);
    addDevice(8);
    addDevice(1);
    ScriptedDevice onlySecond;
    onlySecond.onlyAnswer = kAdapter1;
    addDevice(3, onlySecond);
    ScriptedDevice silent;
    silent.answerPasswordCheck = false;
    addDevice(5, silent);

    std::vector<bool> buttons;
    int redraws = 0;
    DeviceSearch search(*ctx, list,
                        {[&] { ++redraws; }, [&](bool on) { buttons.push_back(on); }, {}});
    ASSERT_TRUE(search.StartSearch());
    EXPECT_TRUE(list.busy());
    EXPECT_EQ(list.paneText(), "Searching device...");
    EXPECT_EQ(list.statusText(), "");
    EXPECT_FALSE(search.StartSearch()); // a second request while busy is ignored
    ASSERT_TRUE(search.WaitEnded(SteadyClock::now() + std::chrono::seconds(20)));
    const auto result = search.TakePendingResult();
    ASSERT_TRUE(result);
    EXPECT_EQ(result->adaptersOpened, 2);
    ASSERT_TRUE(search.Apply(*result));
    EXPECT_FALSE(list.busy());
    EXPECT_EQ(buttons, (std::vector<bool>{false, true}));
    EXPECT_GE(redraws, 2);

    // Table order: adapter 0's devices in reply order, then what only adapter 1 found.
    const DeviceTable table = list.table();
    ASSERT_EQ(table.count(), 4);
    const std::uint32_t order[] = {8, 1, 5, 3};
    const int adapter[] = {0, 0, 0, 1};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(table.records[static_cast<std::size_t>(i)].mac(), DeviceMac(order[i]));
        EXPECT_EQ(table.records[static_cast<std::size_t>(i)].adapterIndex(), adapter[i]);
        EXPECT_EQ(table.records[static_cast<std::size_t>(i)].serialText(),
                  SerialText(DeviceMac(order[i])));
    }

    // Rows by serial number; the device that ignores the password check shows 0.0.0.0.
    const DeviceRowModel& rows = list.rows();
    ASSERT_EQ(rows.rowCount(), 4);
    const char* expected[][2] = {{"2801795073", "192.168.1.1"},
                                 {"2801795075", "192.168.1.3"},
                                 {"2801795077", "0.0.0.0"},
                                 {"2801795080", "192.168.1.8"}};
    for (int r = 0; r < 4; ++r) {
        EXPECT_EQ(rows.row(r).data.texts[0], expected[r][0]);
        EXPECT_EQ(rows.row(r).addressText, expected[r][1]);
    }
    EXPECT_EQ(rows.selectedRows(), std::vector<int>{0});
    EXPECT_EQ(list.currentDeviceAddress(), DeviceMac(1));
    EXPECT_EQ(list.statusText(), "Select 1 of 4");
    EXPECT_EQ(list.paneText(), "Serial Number: 2801795073\r\nHardware Version: Q3100\r\n"
                               "Firmware Version: 4.55.1K03\r\nLAN IP Address: 192.168.1.1");

    // Busy ended: the next request starts a search again.
    ASSERT_TRUE(searchOnce(search));
    EXPECT_EQ(list.deviceCount(), 4);
}

TEST_F(SearchTest, RememberedPasswordsSurviveASearch) {
    makeContext(1);
    addDevice(1);
    addDevice(2);
    DeviceSearch search(*ctx, list);
    ASSERT_TRUE(searchOnce(search));
    ASSERT_TRUE(list.SetRememberedPassword(DeviceMac(2), "secret"));
    ASSERT_TRUE(searchOnce(search));
    ASSERT_EQ(list.deviceCount(), 2);
    EXPECT_EQ(list.record(1)->rememberedPassword(), "secret");
    EXPECT_EQ(list.record(0)->rememberedPassword(), "");
}

TEST_F(SearchTest, MoreThan64DevicesAreListedAndTheTableKeepsTheFirst256) {
    makeContext(2);
    // 150 devices answer only the first adapter, 150 others only the second.
    for (std::uint32_t i = 1; i <= 300; ++i) {
        ScriptedDevice device;
        device.onlyAnswer = i <= 150 ? kAdapter0 : kAdapter1;
        addDevice(i, device);
    }
    DeviceSearch search(*ctx, list);
    ASSERT_TRUE(searchOnce(search));
    ASSERT_EQ(list.deviceCount(), 256);
    const DeviceRowModel& rows = list.rows();
    ASSERT_EQ(rows.rowCount(), 256);
    EXPECT_EQ(list.record(255)->mac(), DeviceMac(256));
    EXPECT_EQ(list.record(255)->adapterIndex(), 1);

    // The last row still leads to its device.
    const int last = list.FindRowByKey(MakeKey(SerialText(DeviceMac(256))));
    EXPECT_EQ(last, 255);
    list.rows().clearSelection();
    list.OnListClick(last);
    EXPECT_EQ(list.currentDeviceAddress(), DeviceMac(256));
    EXPECT_EQ(list.statusText(), "Select 1 of 256");
    EXPECT_EQ(list.SelectedRowAddressText(), "192.168.1.0"); // 256 & 0xFF
}

TEST_F(SearchTest, NoAdapterFindsNothing) {
    makeContext(1);
    segment.denyAccess("sim0");
    ctx->link.setPermissionReporter(nullptr);
    addDevice(1);
    DeviceSearch search(*ctx, list);
    ASSERT_TRUE(search.StartSearch());
    ASSERT_TRUE(search.WaitEnded(SteadyClock::now() + std::chrono::seconds(20)));
    const auto result = search.TakePendingResult();
    ASSERT_TRUE(result);
    EXPECT_EQ(result->adaptersOpened, 0);
    ASSERT_TRUE(search.Apply(*result));
    EXPECT_EQ(list.rows().rowCount(), 0);
    EXPECT_EQ(list.paneText(), "No device found");
    EXPECT_EQ(list.statusText(), "");
}

// Where the search is when the window closes. Each stage's wait is made long
// enough (20 s) that only the stop request can end it in time.
enum class Stage { Settle, Discovery, LanQuery };

class SearchStopTest : public SearchTest, public ::testing::WithParamInterface<Stage> {};

TEST_P(SearchStopTest, StopEndsTheThreadPromptlyAndInsertsNoRow) {
    Timing timing = test::TestTiming();
    const Micros longWait = std::chrono::seconds(20);
    switch (GetParam()) {
    case Stage::Settle:
        timing.settleAfterOpen = longWait;
        break;
    case Stage::Discovery:
        timing.discoveryWindow = longWait;
        break;
    case Stage::LanQuery:
        timing.queryWindow = longWait;
        timing.tries = 5;
        break;
    }
    makeContext(1, timing);
    ScriptedDevice silent;
    silent.answerPasswordCheck = false;
    ScriptedResponder& device = addDevice(1, silent);

    // What the list showed before: one row of an earlier search.
    ASSERT_TRUE(list.ApplySearchResult(test::MakeResult({{MakeRecord(DeviceMac(9)), "1.2.3.4"}})));
    std::vector<bool> buttons;
    bool resultReady = false;
    DeviceSearch search(*ctx, list,
                        {{}, [&](bool on) { buttons.push_back(on); }, [&] { resultReady = true; }});
    ASSERT_TRUE(search.StartSearch());

    const auto deadline = SteadyClock::now() + std::chrono::seconds(10);
    switch (GetParam()) {
    case Stage::Settle:
        while (ctx->currentAdapterIndex() != 0 && SteadyClock::now() < deadline)
            std::this_thread::yield();
        break;
    case Stage::Discovery:
        ASSERT_TRUE(device.discoverySeen.waitUntil(deadline));
        break;
    case Stage::LanQuery: {
        ASSERT_TRUE(device.passwordCheckSeen.waitUntil(deadline));
        // A reply from another device reaches the waiting transaction, which
        // files it as a stray: from then on the transaction is past its send
        // and only sleeps, so the stop has to wake it.
        const MacAddress other{{0x02, 0x19, 0xA7, 0x00, 0x00, 0x63}};
        auto bystander = segment.attachStation(other, {});
        bystander->send(BuildRequest(other, kAdapter0, code::kSettingsReply, "", 0, {}, 0)->view());
        while (ctx->strays.size() == 0 && SteadyClock::now() < deadline)
            std::this_thread::yield();
        ASSERT_EQ(ctx->strays.size(), 1u);
        break;
    }
    }
    const auto stopAt = SteadyClock::now();
    search.RequestStop();
    ASSERT_TRUE(search.WaitEnded(stopAt + std::chrono::seconds(2)));
    EXPECT_LT(SteadyClock::now() - stopAt, std::chrono::seconds(2));

    EXPECT_FALSE(resultReady);
    EXPECT_FALSE(search.TakePendingResult().has_value());
    EXPECT_FALSE(search.ApplyPendingResult());
    ASSERT_EQ(list.rows().rowCount(), 1);
    EXPECT_EQ(list.rows().row(0).data.texts[0], SerialText(DeviceMac(9)));
    // Closing: nothing is switched on again and no further search starts.
    EXPECT_TRUE(list.busy());
    EXPECT_EQ(buttons, std::vector<bool>{false});
    EXPECT_FALSE(search.StartSearch());
}

INSTANTIATE_TEST_SUITE_P(Stages, SearchStopTest,
                         ::testing::Values(Stage::Settle, Stage::Discovery, Stage::LanQuery),
                         [](const auto& p) {
                             switch (p.param) {
                             case Stage::Settle:
                                 return "Settle";
                             case Stage::Discovery:
                                 return "Discovery";
                             case Stage::LanQuery:
                                 return "LanQuery";
                             }
                             return "Unknown";
                         });

TEST_F(SearchTest, AResultWaitingWhenTheStopComesIsNotApplied) {
    makeContext(1);
    addDevice(1);
    DeviceSearch search(*ctx, list);
    ASSERT_TRUE(search.StartSearch());
    ASSERT_TRUE(search.WaitEnded(SteadyClock::now() + std::chrono::seconds(20)));
    search.RequestStop();
    EXPECT_FALSE(search.ApplyPendingResult());
    EXPECT_EQ(list.rows().rowCount(), 0);
    EXPECT_EQ(list.paneText(), "Searching device...");
}

} // namespace
} // namespace korvane
