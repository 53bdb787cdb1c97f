// The search cycle over simulated adapters with emulated devices: LAN
// addresses, merging across adapters, the busy state, remembered passwords,
// and stopping in the middle.

#include "config/blocks.hpp"
#include "devices/lan_address.hpp"
#include "devices/search.hpp"
#include "devices_test_support.hpp"
#include "protocol/discovery.hpp"
#include "wire_fields.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

namespace korvane {
namespace {

using test::DeviceMac;
using test::DeviceSegment;
using test::MakeRecord;

constexpr auto kGenerous = std::chrono::seconds(20);

// One search, applied; false when it did not end within a generous time.
bool SearchOnce(DeviceSearch& search) {
    return search.startSearch() && search.waitEnded(SteadyClock::now() + kGenerous) &&
           search.applyPendingResult();
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
    ASSERT_TRUE(search.startSearch());
    EXPECT_TRUE(list.busy());
    EXPECT_EQ(list.paneText(), "Searching device...");
    EXPECT_EQ(list.statusText(), "");
    EXPECT_FALSE(search.startSearch()); // a second request while busy is ignored
    ASSERT_TRUE(search.waitEnded(SteadyClock::now() + kGenerous));
    const auto result = search.takePendingResult();
    ASSERT_TRUE(result);
    EXPECT_EQ(result->adaptersOpened, 2);
    ASSERT_TRUE(search.apply(*result));
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
    EXPECT_EQ(list.selectedRows(), std::vector<int>{0});
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
    ASSERT_TRUE(list.setRememberedPassword(DeviceMac(2), "secret"));
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
    const int last = list.findRowByKey(MakeKey(SerialText(DeviceMac(256))));
    EXPECT_EQ(last, 255);
    list.setSelection({}, -1);
    list.click(last);
    EXPECT_EQ(list.currentDeviceAddress(), DeviceMac(256));
    EXPECT_EQ(list.statusText(), "Select 1 of 256");
    EXPECT_EQ(list.selectedRowAddressText(), "192.168.1.0"); // 256 & 0xFF
}

TEST(DeviceSearch, NoAdapterFindsNothing) {
    DeviceSegment lan(1);
    lan.segment.denyAccess("sim0");
    lan.add(1);
    DeviceList list;
    DeviceSearch search(*lan.ctx, list);
    ASSERT_TRUE(search.startSearch());
    ASSERT_TRUE(search.waitEnded(SteadyClock::now() + kGenerous));
    const auto result = search.takePendingResult();
    ASSERT_TRUE(result);
    EXPECT_EQ(result->adaptersOpened, 0);
    ASSERT_EQ(result->adapterNotes.size(), 1u);
    EXPECT_EQ(result->adapterNotes[0].problem,
              "raw Ethernet access was refused (Operation not permitted)");
    ASSERT_TRUE(search.apply(*result));
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
    // A token of its own: the waits register it with the link themselves.
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
        EXPECT_TRUE(search.startSearch());
        EXPECT_TRUE(search.waitEnded(SteadyClock::now() + kGenerous));
        auto result = search.takePendingResult();
        EXPECT_TRUE(result && search.apply(*result));
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
    EXPECT_EQ(lan.ctx->adapters()->entries[0].name, "sim1");
    EXPECT_EQ(lan.violations(), 0u);
}

// Several independent segments behind one driver, as a host with many
// adapters has them: adapter netI alone on segment I, with devices of its
// own. Each segment records what its adapter sent, in order.
class SegmentSet : public PacketDriver {
  public:
    struct Lan {
        SimulatedSegment segment;
        std::unique_ptr<sim::DeviceEmulator> emulator;
        MacAddress adapter;
        std::mutex mutex;
        std::vector<std::pair<MacAddress, std::uint16_t>> sent; // destination, code
    };

    // Segment i has devices[i] devices, serial numbers 1000 * i + 1 and on.
    explicit SegmentSet(const std::vector<int>& devices) {
        for (std::size_t i = 0; i < devices.size(); ++i) {
            auto lan = std::make_unique<Lan>();
            lan->adapter = MacAddress{{0x02, 0x00, 0x00, 0x5E, 0x01, static_cast<std::uint8_t>(i)}};
            lan->segment.addAdapter(name(i), "adapter " + std::to_string(i), lan->adapter);
            Lan* raw = lan.get();
            lan->segment.setFrameHook([raw](std::span<const std::uint8_t> frame) {
                const auto header = ParseHeader(frame);
                if (header && header->source == raw->adapter) {
                    std::lock_guard lock(raw->mutex);
                    raw->sent.emplace_back(header->destination, header->code);
                }
                return true;
            });
            OpenOptions station;
            station.promiscuous = true;
            lan->emulator = std::make_unique<sim::DeviceEmulator>(lan->segment.attachStation(
                {{0x02, 0x00, 0x00, 0x5E, 0x02, static_cast<std::uint8_t>(i)}}, station));
            for (int k = 1; k <= devices[i]; ++k) {
                const std::uint32_t serial = 1000 * static_cast<std::uint32_t>(i) + k;
                sim::DeviceConfig config = sim::DefaultDeviceConfig(k - 1, DeviceMac(serial));
                config.settings.setIpAddress(0x0A000000u | serial);
                config.faults.replyDelay = Millis((serial * 7) % 11);
                lan->emulator->addDevice(std::move(config));
            }
            lan->emulator->start();
            lans.push_back(std::move(lan));
        }
    }
    ~SegmentSet() override {
        for (auto& lan : lans)
            lan->emulator.reset();
    }

    static std::string name(std::size_t i) { return "net" + std::to_string(i); }

    std::vector<AdapterInfo> listAdapters() override {
        std::vector<AdapterInfo> all;
        for (auto& lan : lans)
            for (AdapterInfo& a : lan->segment.listAdapters())
                all.push_back(std::move(a));
        return all;
    }
    OpenResult open(const std::string& adapter, const OpenOptions& options) override {
        for (auto& lan : lans)
            for (const AdapterInfo& a : lan->segment.listAdapters())
                if (a.name == adapter)
                    return lan->segment.open(adapter, options);
        return {nullptr, OpenFailure::NoSuchAdapter, "No such device"};
    }

    // What adapter i sent to each destination, in order (discovery requests
    // to the broadcast address).
    std::map<MacAddress, std::vector<std::uint16_t>> sentBy(std::size_t i) {
        lans[i]->segment.drain();
        std::lock_guard lock(lans[i]->mutex);
        std::map<MacAddress, std::vector<std::uint16_t>> out;
        for (const auto& [to, code] : lans[i]->sent)
            out[to].push_back(code);
        return out;
    }

    std::vector<std::unique_ptr<Lan>> lans;
};

TEST(DeviceSearch, DiscoveryOnAllAdaptersAtOnceGivesWhatOneAfterAnotherGives) {
    const std::vector<int> devices = {3, 0, 5, 1, 4};
    const Timing timing = test::TestTiming();

    // The search: every adapter at once.
    SegmentSet atOnce(devices);
    Context ctx(atOnce, timing);
    ctx.link.setDiagnosticSink(nullptr);
    ctx.enumerateAdapters();
    StopToken stop;
    const auto result = RunSearchCycle(ctx, {}, stop);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->adaptersSearched, 5);
    EXPECT_EQ(result->adaptersOpened, 5);

    // The same, one adapter after another: open, discovery, one device after another.
    SegmentSet oneByOne(devices);
    Context seq(oneByOne, timing);
    seq.link.setDiagnosticSink(nullptr);
    seq.enumerateAdapters();
    std::vector<DeviceRecord> table;
    std::vector<DisplayRow> rows;
    for (int a = 0; a < seq.adapterCount(); ++a) {
        ASSERT_TRUE(seq.openAdapter(a));
        std::vector<DeviceRecord> found(kDiscoveryCapacity);
        const int n = DiscoverDevices(seq, found, a);
        for (int k = 0; k < n; ++k) {
            const DeviceRecord& record = found[static_cast<std::size_t>(k)];
            table.push_back(record);
            rows.push_back(
                {SerialText(record.mac()), FormatIPv4(ReadLanAddress(seq, record.mac()))});
        }
    }
    SortDisplayRows(rows);

    ASSERT_EQ(result->rows.size(), rows.size());
    for (std::size_t r = 0; r < rows.size(); ++r) {
        EXPECT_EQ(result->rows[r].serialText, rows[r].serialText);
        EXPECT_EQ(result->rows[r].addressText, rows[r].addressText);
    }
    // Table order: adapter by adapter, each adapter's devices in the order
    // of their replies (which the devices' timing decides from run to run,
    // so only which devices each adapter has is compared).
    ASSERT_EQ(result->table.records.size(), table.size());
    const auto byAdapter = [](const std::vector<DeviceRecord>& records) {
        std::vector<std::pair<int, std::string>> keys;
        for (const DeviceRecord& record : records)
            keys.emplace_back(record.adapterIndex(), record.mac().toString());
        return keys;
    };
    const auto atOnceKeys = byAdapter(result->table.records);
    const auto oneByOneKeys = byAdapter(table);
    for (std::size_t i = 0; i < table.size(); ++i)
        EXPECT_EQ(atOnceKeys[i].first, oneByOneKeys[i].first) << i;
    auto sortedAtOnce = atOnceKeys;
    auto sortedOneByOne = oneByOneKeys;
    std::sort(sortedAtOnce.begin(), sortedAtOnce.end());
    std::sort(sortedOneByOne.begin(), sortedOneByOne.end());
    EXPECT_EQ(sortedAtOnce, sortedOneByOne);
    // Every adapter sent what it sends alone: one discovery request, then
    // to each of its devices the password check and the settings read.
    for (std::size_t a = 0; a < devices.size(); ++a) {
        const auto sent = atOnce.sentBy(a);
        EXPECT_EQ(sent, oneByOne.sentBy(a)) << "adapter " << a;
        EXPECT_EQ(sent.at(MacAddress::broadcast()), std::vector<std::uint16_t>{code::kDiscover});
        EXPECT_EQ(sent.size(), static_cast<std::size_t>(devices[a]) + 1);
    }
    // The search's extra links are closed again; the context's own stays on adapter 0.
    EXPECT_TRUE(ctx.link.isOpen());
    EXPECT_EQ(ctx.currentAdapterIndex(), 0);
}

TEST(DeviceSearch, AnAdapterThatFailsMidSearchDoesNotStopTheOthers) {
    SegmentSet lans({2, 2, 2});
    // Adapter net1 goes down for good when it asks its first device for its
    // address: the hub's thread only notes it; the test takes it down.
    std::atomic<bool> asked{false};
    SegmentSet::Lan& doomed = *lans.lans[1];
    doomed.segment.setFrameHook([&](std::span<const std::uint8_t> frame) {
        const auto header = ParseHeader(frame);
        if (header && header->source == doomed.adapter && header->code == code::kCheckPassword)
            asked = true;
        return true;
    });
    Context ctx(lans, test::TestTiming());
    ctx.link.setDiagnosticSink(nullptr);
    ctx.enumerateAdapters();
    StopToken stop;
    std::optional<std::optional<SearchResult>> result;
    std::thread search([&] { result.emplace(RunSearchCycle(ctx, {}, stop)); });
    const auto deadline = SteadyClock::now() + std::chrono::seconds(10);
    while (!asked && SteadyClock::now() < deadline)
        std::this_thread::yield();
    ASSERT_TRUE(asked);
    doomed.segment.setAdapterDown(SegmentSet::name(1), true);
    search.join();

    ASSERT_TRUE(result && *result);
    const SearchResult& found = **result;
    ASSERT_EQ(found.rows.size(), 6u); // what the discoveries found stays listed
    EXPECT_EQ(found.adaptersOpened, 3);
    // The other adapters' devices got their addresses as if nothing happened.
    for (const std::uint32_t serial : {1u, 2u, 2001u, 2002u}) {
        const auto row = std::find_if(found.rows.begin(), found.rows.end(), [&](const auto& r) {
            return r.serialText == SerialText(DeviceMac(serial));
        });
        ASSERT_NE(row, found.rows.end()) << serial;
        EXPECT_EQ(row->addressText, FormatIPv4(0x0A000000u | serial)) << serial;
    }
}

TEST(DeviceSearch, AdaptersPastTheTableAreNamedNotDroppedWithoutAWord) {
    DeviceSegment lan(1);
    lan.add(1);
    const int extra = static_cast<int>(kMaxAdapters) + 1; // two past the table with sim0
    for (int i = 0; i < extra; ++i)
        lan.segment.addAdapter(
            "x" + std::to_string(i), "extra",
            MacAddress{{0x02, 0x00, 0x01, 0x00, static_cast<std::uint8_t>(i >> 8),
                        static_cast<std::uint8_t>(i)}});
    StopToken stop;
    const auto result = RunSearchCycle(*lan.ctx, {}, stop);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->adaptersOpened, static_cast<int>(kMaxAdapters));
    ASSERT_EQ(result->adapterNotes.size(), kMaxAdapters + 2);
    ASSERT_EQ(result->rows.size(), 1u);
    const std::string text = NotSearchedText(result->adapterNotes);
    EXPECT_EQ(text,
              "x255 (left out: a search takes at most 256 adapters (name it with --interface)), "
              "x256 (left out: a search takes at most 256 adapters (name it with --interface))");
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
    ASSERT_TRUE(list.applySearchResult(test::MakeResult({{MakeRecord(DeviceMac(9)), "1.2.3.4"}})));
    std::vector<bool> buttons;
    std::atomic<bool> resultReady{false};
    DeviceSearch search(*lan.ctx, list,
                        {{}, [&](bool on) { buttons.push_back(on); }, [&] { resultReady = true; }});
    ASSERT_TRUE(search.startSearch());

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
    search.requestStop();
    ASSERT_TRUE(search.waitEnded(stopAt + std::chrono::seconds(2)));
    EXPECT_LT(SteadyClock::now() - stopAt, std::chrono::seconds(2));

    EXPECT_FALSE(resultReady);
    EXPECT_FALSE(search.takePendingResult().has_value());
    EXPECT_FALSE(search.applyPendingResult());
    ASSERT_EQ(list.rows().rowCount(), 1);
    EXPECT_EQ(list.rows().row(0).data.texts[0], SerialText(DeviceMac(9)));
    // Closing: nothing is switched on again and no further search starts.
    EXPECT_TRUE(list.busy());
    EXPECT_EQ(buttons, std::vector<bool>{false});
    EXPECT_FALSE(search.startSearch());
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
    ASSERT_TRUE(search.startSearch());
    ASSERT_TRUE(search.waitEnded(SteadyClock::now() + kGenerous));
    search.requestStop();
    EXPECT_FALSE(search.applyPendingResult());
    EXPECT_EQ(list.rows().rowCount(), 0);
    EXPECT_EQ(list.paneText(), "Searching device...");
}

} // namespace
} // namespace korvane
