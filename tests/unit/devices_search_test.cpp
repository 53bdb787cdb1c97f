// The search cycle over simulated adapters with emulated devices: LAN
// addresses, merging across adapters, the busy state, remembered passwords,
// and stopping in the middle.

#include "config/blocks.hpp"
#include "devices/lan_address.hpp"
#include "devices/search.hpp"
#include "devices_test_support.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <thread>

namespace korvane {
namespace {

using test::DeviceMac;
using test::DeviceSegment;
using test::MakeRecord;

constexpr auto kGenerous = std::chrono::seconds(20);

// One search, applied; false when it did not end within a generous time.
bool SearchOnce(DeviceSearch& search) {
    return search.StartSearch() && search.WaitEnded(SteadyClock::now() + kGenerous) &&
           search.ApplyPendingResult();
}

void Silence(sim::DeviceConfig& config, std::uint16_t command) {
    config.faults.silentCommands.push_back(command);
}

TEST(DeviceSearch, ReadLanAddressFollowsTheDhcpVersionRule) {
    DeviceSegment lan(1);
    struct Case {
        std::uint32_t serial;
        AddressMode mode;
        std::uint16_t version;
        bool answers;
        std::uint32_t expected;
    };
    const std::uint32_t alternate = 0x0A000002; // 10.0.0.2
    const Case cases[] = {
        {1, AddressMode::Dhcp, 751, true, alternate},
        {2, AddressMode::Dhcp, 31, true, 0xC0A80102},
        {3, AddressMode::Static, 751, true, 0xC0A80103},
        {4, AddressMode::Dhcp, 751, false, 0},
    };
    for (const Case& c : cases) {
        lan.add(c.serial, [&](sim::DeviceConfig& config) {
            config.settings.setAddressMode(c.mode);
            config.settings.setRawVersion(c.version);
            writeU32(config.settings.bytes, settings_offset::kAlternateIp, alternate);
            if (!c.answers)
                Silence(config, code::kCheckPassword);
        });
    }
    ASSERT_TRUE(lan.ctx->openAdapter(0));
    for (const Case& c : cases)
        EXPECT_EQ(ReadLanAddress(*lan.ctx, DeviceMac(c.serial)), c.expected)
            << "device " << c.serial;
    // No settings read after a password check that got no reply.
    EXPECT_EQ(lan.emulator->device(3).stats().requestCount(code::kReadSettings), 0u);
}

TEST(DeviceSearch, TwoAdaptersOnOneSegmentListEachDeviceOnceOnTheLowerAdapter) {
    DeviceSegment lan(2);
    lan.add(8);
    lan.add(1);
    lan.add(3);
    lan.hideFrom(DeviceMac(3), DeviceSegment::kAdapter0); // only the second adapter finds it
    lan.add(5, [](sim::DeviceConfig& c) { Silence(c, code::kCheckPassword); });

    DeviceList list;
    std::vector<bool> buttons;
    int redraws = 0;
    DeviceSearch search(*lan.ctx, list,
                        {[&] { ++redraws; }, [&](bool on) { buttons.push_back(on); }, {}});
    ASSERT_TRUE(search.StartSearch());
    EXPECT_TRUE(list.busy());
    EXPECT_EQ(list.paneText(), "Searching device...");
    EXPECT_EQ(list.statusText(), "");
    EXPECT_FALSE(search.StartSearch()); // a second request while busy is ignored
    ASSERT_TRUE(search.WaitEnded(SteadyClock::now() + kGenerous));
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
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(table.records[i].mac(), DeviceMac(order[i]));
        EXPECT_EQ(table.records[i].adapterIndex(), adapter[i]);
        EXPECT_EQ(table.records[i].serialText(), SerialText(DeviceMac(order[i])));
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
    EXPECT_EQ(list.paneText(), "Serial Number: 2801795073\r\nHardware Version: Q2.1\r\n"
                               "Firmware Version: 1.20.7K.15\r\nLAN IP Address: 192.168.1.1");
    EXPECT_EQ(lan.violations(), 0u);

    // Busy ended: the next request starts a search again.
    ASSERT_TRUE(SearchOnce(search));
    EXPECT_EQ(list.deviceCount(), 4);
}

TEST(DeviceSearch, RememberedPasswordsSurviveASearch) {
    DeviceSegment lan(1);
    lan.add(1);
    lan.add(2);
    DeviceList list;
    DeviceSearch search(*lan.ctx, list);
    ASSERT_TRUE(SearchOnce(search));
    ASSERT_TRUE(list.SetRememberedPassword(DeviceMac(2), "secret"));
    ASSERT_TRUE(SearchOnce(search));
    ASSERT_EQ(list.deviceCount(), 2);
    EXPECT_EQ(list.record(1)->rememberedPassword(), "secret");
    EXPECT_EQ(list.record(0)->rememberedPassword(), "");
}

TEST(DeviceSearch, MoreThan64DevicesAreListedAndTheTableKeepsTheFirst256) {
    DeviceSegment lan(2);
    // 150 devices answer only the first adapter, 150 others only the second.
    for (std::uint32_t i = 1; i <= 300; ++i) {
        lan.add(i);
        lan.hideFrom(DeviceMac(i), i <= 150 ? DeviceSegment::kAdapter1 : DeviceSegment::kAdapter0);
    }
    DeviceList list;
    DeviceSearch search(*lan.ctx, list);
    ASSERT_TRUE(SearchOnce(search));
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

TEST(DeviceSearch, NoAdapterFindsNothing) {
    DeviceSegment lan(1);
    lan.segment.denyAccess("sim0");
    lan.add(1);
    DeviceList list;
    DeviceSearch search(*lan.ctx, list);
    ASSERT_TRUE(search.StartSearch());
    ASSERT_TRUE(search.WaitEnded(SteadyClock::now() + kGenerous));
    const auto result = search.TakePendingResult();
    ASSERT_TRUE(result);
    EXPECT_EQ(result->adaptersOpened, 0);
    ASSERT_EQ(result->adapterNotes.size(), 1u);
    EXPECT_EQ(result->adapterNotes[0].problem,
              "raw Ethernet access was refused (Operation not permitted)");
    ASSERT_TRUE(search.Apply(*result));
    EXPECT_EQ(list.rows().rowCount(), 0);
    EXPECT_EQ(list.paneText(), "No device found");
    EXPECT_EQ(list.statusText(), "");
}

// Records the requests each device receives, in order, and loses the first
// reply of the chosen devices.
class RequestLog {
  public:
    RequestLog(DeviceSegment& lan, std::vector<MacAddress> loseFirstReply)
        : loseFirstReply_(std::move(loseFirstReply)) {
        lan.segment.setFrameHook([this](std::span<const std::uint8_t> frame) {
            const auto header = ParseHeader(frame);
            if (!header || header->code == code::kDiscover || header->code == code::kDiscoverReply)
                return true;
            std::lock_guard lock(mutex_);
            if (header->destination != DeviceSegment::kAdapter0) {
                requests_[header->destination].push_back(header->code);
                return true;
            }
            const auto lose =
                std::find(loseFirstReply_.begin(), loseFirstReply_.end(), header->source);
            if (lose == loseFirstReply_.end())
                return true;
            loseFirstReply_.erase(lose);
            return false;
        });
    }
    std::vector<std::uint16_t> requestsTo(const MacAddress& device) {
        std::lock_guard lock(mutex_);
        return requests_[device];
    }

  private:
    std::mutex mutex_;
    std::vector<MacAddress> loseFirstReply_;
    std::map<MacAddress, std::vector<std::uint16_t>> requests_;
};

TEST(DeviceSearch, ConcurrentAddressReadsGiveEachDeviceTheSequentialExchange) {
    // 40 devices: reply delays up to 24 ms, every third one loses its first
    // reply, and two never answer the password check. Their replies cross
    // each other's windows, so most are read by another device's worker.
    DeviceSegment lan(1);
    constexpr std::uint32_t kDevices = 40;
    std::vector<MacAddress> lossy;
    for (std::uint32_t i = 1; i <= kDevices; ++i) {
        lan.add(i, [&](sim::DeviceConfig& c) {
            c.faults.replyDelay = Millis((i * 7) % 25);
            if (i == 13 || i == 27)
                Silence(c, code::kCheckPassword);
            if (i == 20) { // DHCP from a version that reports the alternate address
                c.settings.setAddressMode(AddressMode::Dhcp);
                c.settings.setRawVersion(751);
                writeU32(c.settings.bytes, settings_offset::kAlternateIp, 0x0A000014);
            }
        });
        if (i % 3 == 0)
            lossy.push_back(DeviceMac(i));
    }
    RequestLog log(lan, lossy);

    StopToken stop;
    const auto result = RunSearchCycle(*lan.ctx, {}, stop);
    ASSERT_TRUE(result);
    ASSERT_EQ(result->rows.size(), kDevices);
    const int tries = lan.ctx->timing.tries;
    for (std::uint32_t i = 1; i <= kDevices; ++i) {
        const MacAddress mac = DeviceMac(i);
        const bool silent = i == 13 || i == 27;
        const std::string expected = silent    ? "0.0.0.0"
                                     : i == 20 ? "10.0.0.20"
                                               : "192.168.1." + std::to_string(i);
        const auto row =
            std::find_if(result->rows.begin(), result->rows.end(),
                         [&](const DisplayRow& r) { return r.serialText == SerialText(mac); });
        ASSERT_NE(row, result->rows.end());
        EXPECT_EQ(row->addressText, expected) << "device " << i;

        // What the sequential search sends: the password check (again after a
        // lost reply, up to the tries), then the settings read once it answered.
        std::vector<std::uint16_t> sequence;
        if (silent)
            sequence.assign(static_cast<std::size_t>(tries), code::kCheckPassword);
        else if (i % 3 == 0)
            sequence = {code::kCheckPassword, code::kCheckPassword, code::kReadSettings};
        else
            sequence = {code::kCheckPassword, code::kReadSettings};
        EXPECT_EQ(log.requestsTo(mac), sequence) << "device " << i;
    }
    // No reply was lost on the way between the workers.
    EXPECT_EQ(lan.ctx->strays.dropped(), 0u);
    EXPECT_EQ(lan.ctx->link.counters().droppedListFull, 0u);
    EXPECT_EQ(lan.violations(), 0u);
}

TEST(DeviceSearch, AStopDuringConcurrentAddressReadsEndsThemAll) {
    Timing timing = test::TestTiming();
    timing.queryWindow = kGenerous;
    DeviceSegment lan(1, timing);
    constexpr std::uint32_t kDevices = kConcurrentAddressReads + 4;
    for (std::uint32_t i = 1; i <= kDevices; ++i)
        lan.add(i, [](sim::DeviceConfig& c) { Silence(c, code::kCheckPassword); });
    StopToken stop;
    stop.wakeAlso(lan.ctx->link.arrivals()); // as DeviceSearch does
    std::optional<std::optional<SearchResult>> result;
    std::thread search([&] { result.emplace(RunSearchCycle(*lan.ctx, {}, stop)); });

    // Every worker is inside a window that only the stop can end.
    const auto deadline = SteadyClock::now() + std::chrono::seconds(10);
    auto asked = [&] {
        std::uint32_t n = 0;
        for (std::size_t i = 0; i < lan.emulator->deviceCount(); ++i)
            n += lan.emulator->device(i).stats().requestCount(code::kCheckPassword) > 0;
        return n;
    };
    while (asked() < static_cast<std::uint32_t>(kConcurrentAddressReads) &&
           SteadyClock::now() < deadline)
        std::this_thread::yield();
    ASSERT_EQ(asked(), static_cast<std::uint32_t>(kConcurrentAddressReads));

    const auto stopAt = SteadyClock::now();
    stop.requestStop();
    search.join();
    EXPECT_LT(SteadyClock::now() - stopAt, std::chrono::seconds(2));
    ASSERT_TRUE(result);
    EXPECT_FALSE(result->has_value());
    // The devices no worker had reached were never asked.
    EXPECT_EQ(asked(), static_cast<std::uint32_t>(kConcurrentAddressReads));
}

TEST(DeviceSearch, ADeadLinkIsReopenedAndAdaptersAreEnumeratedAtEachSearch) {
    DeviceSegment lan(1);
    lan.add(1);
    DeviceList list;
    DeviceSearch search(*lan.ctx, list);
    auto searchNow = [&] {
        EXPECT_TRUE(search.StartSearch());
        EXPECT_TRUE(search.WaitEnded(SteadyClock::now() + kGenerous));
        auto result = search.TakePendingResult();
        EXPECT_TRUE(result && search.Apply(*result));
        return result ? *result : SearchResult{};
    };
    ASSERT_EQ(searchNow().table.count(), 1);

    // The one adapter went down and up: its receive side ended for good.
    lan.segment.failAdapter("sim0", "The interface went down");
    EXPECT_FALSE(lan.ctx->link.isOpen());
    EXPECT_EQ(lan.ctx->link.receiveEndReason(), "The interface went down");
    SearchResult again = searchNow();
    EXPECT_EQ(again.adaptersOpened, 1);
    ASSERT_EQ(again.table.count(), 1);
    EXPECT_TRUE(lan.ctx->link.isOpen());

    // Plugged in after start: searched. Taken away: dropped, without a note.
    lan.segment.addAdapter("sim1", "second", DeviceSegment::kAdapter1);
    SearchResult both = searchNow();
    EXPECT_EQ(both.adaptersOpened, 2);
    ASSERT_EQ(both.table.count(), 1);
    lan.segment.removeAdapter("sim0");
    SearchResult second = searchNow();
    EXPECT_EQ(second.adaptersSearched, 1);
    ASSERT_EQ(second.adapterNotes.size(), 1u);
    EXPECT_EQ(second.adapterNotes[0].name, "sim1");
    EXPECT_EQ(second.adapterNotes[0].problem, "");
    ASSERT_EQ(second.table.count(), 1);
    EXPECT_EQ(lan.ctx->adapters.entries[0].name, "sim1");
    EXPECT_EQ(lan.violations(), 0u);
}

// Where the search is when the window closes. Each stage's wait is made long
// enough (20 s) that only the stop request can end it in time.
enum class Stage { Settle, Discovery, LanQuery };

class SearchStopTest : public ::testing::TestWithParam<Stage> {};

TEST_P(SearchStopTest, StopEndsTheThreadPromptlyAndInsertsNoRow) {
    Timing timing = test::TestTiming();
    switch (GetParam()) {
    case Stage::Settle:
        timing.settleAfterOpen = kGenerous;
        break;
    case Stage::Discovery:
        timing.discoveryWindow = kGenerous;
        break;
    case Stage::LanQuery:
        timing.queryWindow = kGenerous;
        timing.tries = 5;
        break;
    }
    DeviceSegment lan(1, timing);
    sim::EmulatedDevice& device =
        lan.add(1, [](sim::DeviceConfig& c) { Silence(c, code::kCheckPassword); });

    // What the list showed before: one row of an earlier search.
    DeviceList list;
    ASSERT_TRUE(list.ApplySearchResult(test::MakeResult({{MakeRecord(DeviceMac(9)), "1.2.3.4"}})));
    std::vector<bool> buttons;
    std::atomic<bool> resultReady{false};
    DeviceSearch search(*lan.ctx, list,
                        {{}, [&](bool on) { buttons.push_back(on); }, [&] { resultReady = true; }});
    ASSERT_TRUE(search.StartSearch());

    const auto deadline = SteadyClock::now() + std::chrono::seconds(10);
    switch (GetParam()) {
    case Stage::Settle:
        while (lan.ctx->currentAdapterIndex() != 0 && SteadyClock::now() < deadline)
            std::this_thread::yield();
        break;
    case Stage::Discovery:
        ASSERT_TRUE(device.waitForRequests(code::kDiscover, 1, deadline));
        break;
    case Stage::LanQuery: {
        ASSERT_TRUE(device.waitForRequests(code::kCheckPassword, 1, deadline));
        // A reply from another device reaches the waiting transaction, which
        // files it as a stray: from then on the transaction is past its send
        // and only sleeps, so the stop has to wake it.
        const MacAddress other{{0x02, 0x19, 0xA7, 0x00, 0x00, 0x63}};
        auto bystander = lan.segment.attachStation(other, {});
        bystander->send(
            BuildRequest(other, DeviceSegment::kAdapter0, code::kSettingsReply, "", 0, {}, 0)
                ->view());
        while (lan.ctx->strays.size() == 0 && SteadyClock::now() < deadline)
            std::this_thread::yield();
        ASSERT_EQ(lan.ctx->strays.size(), 1u);
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

TEST(DeviceSearch, AResultWaitingWhenTheStopComesIsNotApplied) {
    DeviceSegment lan(1);
    lan.add(1);
    DeviceList list;
    DeviceSearch search(*lan.ctx, list);
    ASSERT_TRUE(search.StartSearch());
    ASSERT_TRUE(search.WaitEnded(SteadyClock::now() + kGenerous));
    search.RequestStop();
    EXPECT_FALSE(search.ApplyPendingResult());
    EXPECT_EQ(list.rows().rowCount(), 0);
    EXPECT_EQ(list.paneText(), "Searching device...");
}

} // namespace
} // namespace korvane
