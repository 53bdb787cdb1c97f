// The device list without a network: keys, rows, lookups, reselection after
// a search, the handlers' texts and the context menu's rules.

#include "devices/device_list.hpp"
#include "devices_test_support.hpp"

#include <gtest/gtest.h>

namespace korvane {
namespace {

using test::DeviceMac;
using test::MakeRecord;
using test::MakeResult;

const MacAddress kUntouched{{0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF}};

// 2801795073, 2801795080 and 5 (a MAC outside the maker's block ending in 00-00-00-05).
const MacAddress kFirst = DeviceMac(1);
const MacAddress kEighth = DeviceMac(8);
const MacAddress kShort{{0x00, 0x11, 0x00, 0x00, 0x00, 0x05}};

SearchResult ThreeDevices() {
    // Found in the order 8, short, 1: the rows come out 5, ...073, ...080.
    return MakeResult({{MakeRecord(kEighth), "192.168.1.8"},
                       {MakeRecord(kShort), "10.0.0.5"},
                       {MakeRecord(kFirst), "192.168.1.1"}});
}

TEST(DeviceKeys, SerialTextAndShortKeys) {
    EXPECT_EQ(SerialText(kFirst), "2801795073");
    EXPECT_EQ(SerialText(kShort), "5");
    const DeviceKey key = MakeKey("5");
    EXPECT_EQ(key, (DeviceKey{'5', 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(KeyMatches(key, "5"));
    EXPECT_FALSE(KeyMatches(key, "50"));
    // Only the first 10 characters take part.
    EXPECT_TRUE(KeyMatches(MakeKey("2801795073"), "2801795073999"));
    EXPECT_EQ(KeyText(key), "5");
}

TEST(DeviceKeys, ModelLetterIsTheSeventhFirmwareCharacter) {
    EXPECT_EQ(ModelLetter(MakeRecord(kFirst, "Q1", "4.55.aK01")), 'K');
    EXPECT_EQ(ModelLetter(MakeRecord(kFirst, "Q1", "4.55")), 0);
    DeviceRecord numeric = MakeRecord(kFirst, "Q1", "");
    numeric.bytes[identity_offset::kFirmwareVersion] = 4;
    numeric.bytes[identity_offset::kFirmwareVersion + 6] = 'K';
    EXPECT_EQ(ModelLetter(numeric), 0);
}

struct Recorder : RowModelListener {
    std::vector<std::string> events;
    const DeviceRowModel* model = nullptr;
    void rowsAboutToBeInserted(int first, int) override {
        events.push_back("about-insert " + std::to_string(first) + " count " +
                         std::to_string(model->rowCount()));
    }
    void rowsInserted(int first, int) override {
        events.push_back("inserted " + std::to_string(first) + " count " +
                         std::to_string(model->rowCount()));
    }
    void rowsAboutToBeReset() override { events.push_back("about-reset"); }
    void rowsReset() override { events.push_back("reset"); }
    void rowTextChanged(int row, int column) override {
        events.push_back("text " + std::to_string(row) + "," + std::to_string(column));
    }
};

TEST(DeviceRowModel, RowsTextsAndNotifications) {
    DeviceRowModel rows;
    Recorder rec;
    rec.model = &rows;
    rows.addListener(&rec);

    EXPECT_EQ(rows.addRow("30", {"b"}), 0);
    EXPECT_EQ(rows.addRow("1", {"a", "x", "y", "ignored"}), 1);
    EXPECT_EQ(rows.addRow("30", {"c"}), 2);
    rows.setRowAddress(1, "10.0.0.1");
    rows.setRowAddress(7, "10.0.0.7"); // no such row: nothing
    EXPECT_EQ(rows.row(1).data.texts[3], "y");
    EXPECT_EQ(rows.columnText(1, kAddressColumn), "10.0.0.1");
    EXPECT_EQ(rows.row(0).data.texts[2], "");
    rows.clear();
    EXPECT_EQ(rows.rowCount(), 0);

    const std::vector<std::string> expected = {"about-insert 0 count 0",
                                               "inserted 0 count 1",
                                               "about-insert 1 count 1",
                                               "inserted 1 count 2",
                                               "about-insert 2 count 2",
                                               "inserted 2 count 3",
                                               "text 1,1",
                                               "about-reset",
                                               "reset"};
    EXPECT_EQ(rec.events, expected);
    rows.removeListener(&rec);
}

TEST(DeviceList, EmptyListLookupsLeaveTheAddress) {
    DeviceList list;
    MacAddress out = kUntouched;
    EXPECT_EQ(list.findSelectedDevice(out), -1);
    EXPECT_EQ(list.findNthSelectedDevice(0, out), -1);
    EXPECT_EQ(out, kUntouched);
    EXPECT_EQ(list.findRowByKey(MakeKey("2801795073")), 0);
    EXPECT_EQ(list.selectedRowAddressText(), "");

    ASSERT_TRUE(list.applySearchResult(MakeResult({})));
    EXPECT_EQ(list.paneText(), "No device found");
    EXPECT_EQ(list.statusText(), "");
    list.click(-1);
    list.setSelection({0}, 0); // no such row
    EXPECT_EQ(list.paneText(), "No device found");
    EXPECT_FALSE(list.contextMenu().launchEnabled);
}

TEST(DeviceList, LookupsThroughSlots) {
    DeviceList list;
    ASSERT_TRUE(list.applySearchResult(ThreeDevices()));
    const DeviceRowModel& rows = list.rows();
    ASSERT_EQ(rows.rowCount(), 3);
    EXPECT_EQ(rows.row(0).data.texts[0], "5"); // numeric order
    EXPECT_EQ(rows.row(1).data.texts[0], "2801795073");
    EXPECT_EQ(rows.row(2).data.texts[0], "2801795080");

    // The one-digit serial's padded key still finds its row and its device.
    EXPECT_EQ(list.findRowByKey(MakeKey("5")), 0);
    EXPECT_EQ(list.findRowByKey(MakeKey("2801795080")), 2);
    EXPECT_EQ(list.findRowByKey(MakeKey("42")), 0);

    list.setSelection({2, 0, 2}, 2); // in any order, repeated
    EXPECT_EQ(list.selectedRows(), (std::vector<int>{0, 2}));
    MacAddress out = kUntouched;
    EXPECT_EQ(list.findSelectedDevice(out), 1); // table index of the short serial
    EXPECT_EQ(out, kShort);
    EXPECT_EQ(list.findNthSelectedDevice(1, out), 0);
    EXPECT_EQ(out, kEighth);
    out = kUntouched;
    EXPECT_EQ(list.findNthSelectedDevice(2, out), -1);
    EXPECT_EQ(out, kUntouched);
    EXPECT_EQ(list.selectedRowAddressText(), "10.0.0.5");

    // A row that matches no slot counts as no selection.
    const int stray = list.rows().addRow("123");
    list.setSelection({stray}, stray);
    EXPECT_EQ(list.findSelectedDevice(out), -1);
    EXPECT_EQ(out, kUntouched);
}

TEST(DeviceList, RefreshReselectsTheClickedDeviceWhereverItMoved) {
    DeviceList list;
    int chosen = 0;
    list.setSelectionChosen([&] { ++chosen; });
    ASSERT_TRUE(list.applySearchResult(ThreeDevices()));
    EXPECT_EQ(list.selectedRows(), std::vector<int>{0}); // nothing clicked yet: row 0
    EXPECT_EQ(chosen, 1);                                // and the front end is told
    list.setSelection({}, 0);
    list.click(2); // 2801795080, selected by the click as nothing is
    EXPECT_EQ(list.selectedRows(), std::vector<int>{2});
    EXPECT_EQ(chosen, 2);
    EXPECT_EQ(KeyText(list.selectionKey()), "2801795080");

    // Next search: the short-serial device is gone, so 2801795080 moves up to row 1.
    ASSERT_TRUE(list.applySearchResult(
        MakeResult({{MakeRecord(kEighth), "192.168.1.8"}, {MakeRecord(kFirst), "192.168.1.1"}})));
    EXPECT_EQ(list.selectedRows(), std::vector<int>{1});
    EXPECT_EQ(list.focusRow(), 1);
    EXPECT_EQ(list.currentDeviceAddress(), kEighth);
    EXPECT_EQ(list.statusText(), "Select 1 of 2");
    EXPECT_NE(list.paneText().find("Serial Number: 2801795080\r\n"), std::string::npos);

    // It vanishes: row 0 is selected.
    ASSERT_TRUE(list.applySearchResult(MakeResult({{MakeRecord(kFirst), "192.168.1.1"}})));
    EXPECT_EQ(list.selectedRows(), std::vector<int>{0});
    EXPECT_EQ(list.currentDeviceAddress(), kFirst);
}

TEST(DeviceList, InformationText) {
    DeviceRecord record = MakeRecord(kFirst, "Q3100-B", "4.55.K01");
    record.setSerialText("2801795073");
    EXPECT_EQ(DeviceInformationText(record, "192.168.1.1"),
              "Serial Number: 2801795073\r\nHardware Version: Q3100-B\r\n"
              "Firmware Version: 4.55.K01\r\nLAN IP Address: 192.168.1.1");

    // A hardware version not beginning with Q, or in the four-number form, reads "error".
    EXPECT_NE(DeviceInformationText(MakeRecord(kFirst, "X3100"), "").find("Version: error\r\n"),
              std::string::npos);
    DeviceRecord numeric = MakeRecord(kFirst, "", "");
    const std::uint8_t fw[] = {4, 55, 'K', 1};
    std::copy(std::begin(fw), std::end(fw),
              numeric.bytes.begin() + identity_offset::kFirmwareVersion);
    numeric.bytes[identity_offset::kHardwareVersion] = 3;
    const std::string text = DeviceInformationText(numeric, "0.0.0.0");
    EXPECT_NE(text.find("Hardware Version: error\r\nFirmware Version: 4.55.K1\r\n"),
              std::string::npos);
}

// The status field and the pane after a click or a change of the selection.
struct HandlerCase {
    const char* name;
    std::vector<int> selected; // selected before a click, or by the change
    bool searching;
    bool click; // else a change of the selection (from row 2 alone)
    int row;    // the clicked or changed row
    const char* status;
    bool paneShowsDevice; // else empty, or untouched during a search
};

class DeviceListHandlers : public ::testing::TestWithParam<HandlerCase> {};

TEST_P(DeviceListHandlers, Texts) {
    const HandlerCase& c = GetParam();
    DeviceList list;
    ASSERT_TRUE(list.applySearchResult(ThreeDevices()));
    list.setSelection(c.click ? c.selected : std::vector<int>{2}, -1);
    list.setBusy(c.searching);
    const std::string paneBefore = list.paneText();
    int redraws = 0;
    list.setTextsChanged([&] { ++redraws; });

    if (c.click)
        list.click(c.row);
    else
        list.setSelection(c.selected, c.row);

    EXPECT_EQ(list.statusText(), c.status);
    if (c.searching)
        EXPECT_EQ(list.paneText(), paneBefore);
    else if (c.paneShowsDevice)
        EXPECT_EQ(list.paneText().rfind("Serial Number: ", 0), 0u) << list.paneText();
    else
        EXPECT_EQ(list.paneText(), "");
    if (!(c.click && c.searching)) {
        EXPECT_GE(redraws, 1); // the front end redraws after every change
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DeviceListHandlers,
    ::testing::Values(
        HandlerCase{"ClickSelectsWhenNothingIs", {}, false, true, 1, "Select 1 of 3", true},
        HandlerCase{"ClickTwoSelected", {0, 2}, false, true, 2, "Select 2 of 3", false},
        HandlerCase{"ClickDuringSearchChangesNothing", {1}, true, true, 1, "Select 1 of 3", false},
        HandlerCase{"ChangeOneSelected", {1}, false, false, 1, "Select 1 of 3", true},
        HandlerCase{"ChangeTwoSelected", {0, 1}, false, false, 1, "Select 2 of 3", false},
        HandlerCase{"ChangeNoneSelected", {}, false, false, 1, "Select 0 of 3", false},
        HandlerCase{"ChangeDuringSearchOne", {1}, true, false, 1, "Select 1 item", false},
        HandlerCase{"ChangeDuringSearchTwo", {0, 1}, true, false, 1, "Select 2 items", false},
        HandlerCase{"ChangeDuringSearchNone", {}, true, false, 1, "Select 0 item", false}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(DeviceList, ClickOnTheEmptyAreaWithNothingSelectedSelectsNothing) {
    DeviceList list;
    ASSERT_TRUE(list.applySearchResult(ThreeDevices()));
    list.setSelection({}, -1);
    const SelectionKey keyBefore = list.selectionKey();
    list.click(-1);
    EXPECT_EQ(list.selectedCount(), 0);
    EXPECT_EQ(list.selectionKey(), keyBefore);
}

TEST(DeviceList, ContextMenuRules) {
    DeviceList list;
    ASSERT_TRUE(list.applySearchResult(ThreeDevices()));
    int chosen = 0;
    list.setSelectionChosen([&] { ++chosen; });

    list.setSelection({2}, 2);
    ContextMenuState menu = list.contextMenu();
    EXPECT_TRUE(menu.show && menu.launchEnabled && menu.settingsEnabled && menu.firmwareEnabled);

    list.setSelection({0, 2}, 0); // two selected: row 2 stays the remembered one
    menu = list.contextMenu();
    EXPECT_TRUE(menu.launchEnabled && menu.firmwareEnabled);
    EXPECT_FALSE(menu.settingsEnabled);

    // Nothing selected: the device items are grey and the remembered row is selected again.
    list.setSelection({}, 0);
    menu = list.contextMenu();
    EXPECT_TRUE(menu.show);
    EXPECT_FALSE(menu.launchEnabled || menu.settingsEnabled || menu.firmwareEnabled);
    EXPECT_EQ(list.selectedRows(), std::vector<int>{2});
    EXPECT_EQ(list.focusRow(), 2);
    EXPECT_EQ(chosen, 1); // the front end shows the row selected again
    // ... and the pane and the status say so: one selection, one truth.
    EXPECT_EQ(list.paneText().rfind("Serial Number: 2801795080\r\n", 0), 0u) << list.paneText();
    EXPECT_EQ(list.statusText(), "Select 1 of 3");

    list.setBusy(true);
    EXPECT_FALSE(list.contextMenu().show);
}

TEST(DeviceList, RememberedPasswordAndTableCopies) {
    DeviceList list;
    ASSERT_TRUE(list.applySearchResult(ThreeDevices()));
    EXPECT_EQ(list.deviceCount(), 3);
    EXPECT_TRUE(list.setRememberedPassword(kFirst, "secret"));
    EXPECT_FALSE(list.setRememberedPassword(kUntouched, "x"));
    EXPECT_EQ(list.record(2)->rememberedPassword(), "secret");
    EXPECT_EQ(list.record(2)->serialText(), "2801795073");
    EXPECT_FALSE(list.record(3).has_value());
    EXPECT_EQ(list.slot(0)->modelLetter, 'K');
}

} // namespace
} // namespace korvane
