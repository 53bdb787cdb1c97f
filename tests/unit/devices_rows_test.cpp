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
    void rowSelectionChanged(int row, bool on) override {
        events.push_back("select " + std::to_string(row) + (on ? " on" : " off"));
    }
};

TEST(DeviceRowModel, RowsTextsSortAndNotifications) {
    DeviceRowModel rows;
    Recorder rec;
    rec.model = &rows;
    rows.addListener(&rec);

    EXPECT_EQ(rows.AddDeviceRow("30", {"b"}), 0);
    EXPECT_EQ(rows.AddDeviceRow("1", {"a", "x", "y", "ignored"}), 1);
    EXPECT_EQ(rows.AddDeviceRow("30", {"c"}), 2);
    rows.SetRowAddress(1, "10.0.0.1");
    rows.setSelected(2, true);
    rows.setSelected(2, true); // no change, no notification
    rows.setFocusRow(2);
    EXPECT_EQ(rows.row(1).data.texts[3], "y");
    EXPECT_EQ(rows.columnText(1, kAddressColumn), "10.0.0.1");
    EXPECT_EQ(rows.row(0).data.texts[2], "");

    // Text comparison, stable for equal texts, the focus and selection follow their rows.
    rows.SortRows(kSerialColumn, true);
    EXPECT_EQ(rows.row(0).data.texts[0], "1");
    EXPECT_EQ(rows.row(1).data.texts[1], "b");
    EXPECT_EQ(rows.row(2).data.texts[1], "c");
    EXPECT_TRUE(rows.isSelected(2));
    EXPECT_EQ(rows.focusRow(), 2);
    rows.SortRows(1, false);
    EXPECT_EQ(rows.row(0).data.texts[1], "c");
    EXPECT_EQ(rows.focusRow(), 0);

    const std::vector<std::string> expected = {"about-insert 0 count 0",
                                               "inserted 0 count 1",
                                               "about-insert 1 count 1",
                                               "inserted 1 count 2",
                                               "about-insert 2 count 2",
                                               "inserted 2 count 3",
                                               "text 1,1",
                                               "select 2 on",
                                               "about-reset",
                                               "reset",
                                               "about-reset",
                                               "reset"};
    EXPECT_EQ(rec.events, expected);

    rows.setSelected(-1, true); // there is no "every row" index
    EXPECT_EQ(rows.selectedCount(), 1);
    rows.removeListener(&rec);
    rows.DeleteAllRows();
    EXPECT_EQ(rows.rowCount(), 0);
    EXPECT_EQ(rows.focusRow(), -1);
}

TEST(DeviceList, EmptyListLookupsLeaveTheAddress) {
    DeviceList list;
    MacAddress out = kUntouched;
    EXPECT_EQ(list.FindSelectedDevice(out), -1);
    EXPECT_EQ(list.FindNthSelectedDevice(0, out), -1);
    EXPECT_EQ(out, kUntouched);
    EXPECT_EQ(list.FindRowByKey(MakeKey("2801795073")), 0);
    EXPECT_EQ(list.SelectedRowAddressText(), "");

    ASSERT_TRUE(list.ApplySearchResult(MakeResult({})));
    EXPECT_EQ(list.paneText(), "No device found");
    EXPECT_EQ(list.statusText(), "");
    list.OnListClick(-1);
    list.OnListItemChanged(0);
    EXPECT_EQ(list.paneText(), "No device found");
    EXPECT_FALSE(list.OnListRightClick().launchEnabled);
}

TEST(DeviceList, LookupsThroughSlots) {
    DeviceList list;
    ASSERT_TRUE(list.ApplySearchResult(ThreeDevices()));
    const DeviceRowModel& rows = list.rows();
    ASSERT_EQ(rows.rowCount(), 3);
    EXPECT_EQ(rows.row(0).data.texts[0], "5"); // numeric order
    EXPECT_EQ(rows.row(1).data.texts[0], "2801795073");
    EXPECT_EQ(rows.row(2).data.texts[0], "2801795080");

    // The one-digit serial's padded key still finds its row and its device.
    EXPECT_EQ(list.FindRowByKey(MakeKey("5")), 0);
    EXPECT_EQ(list.FindRowByKey(MakeKey("2801795080")), 2);
    EXPECT_EQ(list.FindRowByKey(MakeKey("42")), 0);

    list.rows().clearSelection();
    list.rows().setSelected(0, true);
    list.rows().setSelected(2, true);
    MacAddress out = kUntouched;
    EXPECT_EQ(list.FindSelectedDevice(out), 1); // table index of the short serial
    EXPECT_EQ(out, kShort);
    EXPECT_EQ(list.FindNthSelectedDevice(1, out), 0);
    EXPECT_EQ(out, kEighth);
    out = kUntouched;
    EXPECT_EQ(list.FindNthSelectedDevice(2, out), -1);
    EXPECT_EQ(out, kUntouched);
    EXPECT_EQ(list.SelectedRowAddressText(), "10.0.0.5");

    // A row that matches no slot counts as no selection.
    list.rows().clearSelection();
    const int stray = list.rows().AddDeviceRow("123");
    list.rows().setSelected(stray, true);
    EXPECT_EQ(list.FindSelectedDevice(out), -1);
    EXPECT_EQ(out, kUntouched);
}

TEST(DeviceList, RefreshReselectsTheClickedDeviceWhereverItMoved) {
    DeviceList list;
    ASSERT_TRUE(list.ApplySearchResult(ThreeDevices()));
    EXPECT_TRUE(list.rows().isSelected(0)); // nothing clicked yet: row 0
    list.rows().clearSelection();
    list.OnListClick(2); // 2801795080
    EXPECT_EQ(KeyText(list.selectionKey()), "2801795080");

    // Next search: the short-serial device is gone, so 2801795080 moves up to row 1.
    ASSERT_TRUE(list.ApplySearchResult(
        MakeResult({{MakeRecord(kEighth), "192.168.1.8"}, {MakeRecord(kFirst), "192.168.1.1"}})));
    EXPECT_EQ(list.selectedRowIndex(), 1);
    EXPECT_EQ(list.rows().selectedRows(), std::vector<int>{1});
    EXPECT_EQ(list.rows().focusRow(), 1);
    EXPECT_EQ(list.currentDeviceAddress(), kEighth);
    EXPECT_EQ(list.statusText(), "Select 1 of 2");
    EXPECT_NE(list.paneText().find("Serial Number: 2801795080\r\n"), std::string::npos);

    // It vanishes: row 0 is selected.
    ASSERT_TRUE(list.ApplySearchResult(MakeResult({{MakeRecord(kFirst), "192.168.1.1"}})));
    EXPECT_EQ(list.selectedRowIndex(), 0);
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

// The status field and the pane after the list's notifications.
struct HandlerCase {
    const char* name;
    std::vector<int> selected; // rows selected before the notification
    bool searching;
    bool click; // else a state change
    int row;    // the notified row
    const char* status;
    bool paneShowsDevice; // else empty, or untouched during a search
};

class DeviceListHandlers : public ::testing::TestWithParam<HandlerCase> {};

TEST_P(DeviceListHandlers, Texts) {
    const HandlerCase& c = GetParam();
    DeviceList list;
    ASSERT_TRUE(list.ApplySearchResult(ThreeDevices()));
    list.rows().clearSelection();
    for (int row : c.selected)
        list.rows().setSelected(row, true);
    list.setBusy(c.searching);
    const std::string paneBefore = list.paneText();
    int redraws = 0;
    list.setTextsChanged([&] { ++redraws; });

    if (c.click)
        list.OnListClick(c.row);
    else
        list.OnListItemChanged(c.row);

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
    ASSERT_TRUE(list.ApplySearchResult(ThreeDevices()));
    list.rows().clearSelection();
    const SelectionKey keyBefore = list.selectionKey();
    list.OnListClick(-1);
    EXPECT_EQ(list.rows().selectedCount(), 0);
    EXPECT_EQ(list.selectionKey(), keyBefore);
}

TEST(DeviceList, ContextMenuRules) {
    DeviceList list;
    ASSERT_TRUE(list.ApplySearchResult(ThreeDevices()));
    DeviceRowModel& rows = list.rows();

    rows.clearSelection();
    rows.setSelected(2, true);
    ContextMenuState menu = list.OnListRightClick();
    EXPECT_TRUE(menu.show && menu.launchEnabled && menu.settingsEnabled && menu.firmwareEnabled);
    EXPECT_EQ(list.selectedRowIndex(), 2);

    rows.setSelected(0, true);
    menu = list.OnListRightClick();
    EXPECT_TRUE(menu.launchEnabled && menu.firmwareEnabled);
    EXPECT_FALSE(menu.settingsEnabled);
    EXPECT_EQ(list.selectedRowIndex(), 2);

    // Nothing selected: the device items are grey and the remembered row is selected again.
    rows.clearSelection();
    menu = list.OnListRightClick();
    EXPECT_TRUE(menu.show);
    EXPECT_FALSE(menu.launchEnabled || menu.settingsEnabled || menu.firmwareEnabled);
    EXPECT_EQ(rows.selectedRows(), std::vector<int>{2});
    // ... and the pane and the status say so: one selection, one truth.
    EXPECT_EQ(list.paneText().rfind("Serial Number: 2801795080\r\n", 0), 0u) << list.paneText();
    EXPECT_EQ(list.statusText(), "Select 1 of 3");

    list.setBusy(true);
    EXPECT_FALSE(list.OnListRightClick().show);
}

TEST(DeviceList, RememberedPasswordAndTableCopies) {
    DeviceList list;
    ASSERT_TRUE(list.ApplySearchResult(ThreeDevices()));
    EXPECT_EQ(list.deviceCount(), 3);
    EXPECT_TRUE(list.SetRememberedPassword(kFirst, "secret"));
    EXPECT_FALSE(list.SetRememberedPassword(kUntouched, "x"));
    EXPECT_EQ(list.record(2)->rememberedPassword(), "secret");
    EXPECT_EQ(list.record(2)->serialText(), "2801795073");
    EXPECT_FALSE(list.record(3).has_value());
    EXPECT_EQ(list.slot(0)->modelLetter, 'K');
}

} // namespace
} // namespace korvane
