// The device list as a file, without a device: the CSV codec, the list as
// CSV, and its comparison with a saved list.

#include "base/csv.hpp"
#include "devices/device_export.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace korvane {
namespace {

std::vector<std::vector<std::string>> fieldsOf(std::string_view text) {
    std::string error;
    const auto records = ParseCsv(text, error);
    EXPECT_TRUE(records) << error;
    std::vector<std::vector<std::string>> out;
    for (const auto& r : records.value_or(std::vector<CsvRecordRead>{}))
        out.push_back(r.fields);
    return out;
}

TEST(Csv, QuotesOnlyWhatNeedsItAndReadsBackEveryByte) {
    EXPECT_EQ(CsvRecord({"plain", "a,b", "say \"hi\"", "two\nlines", ""}),
              "plain,\"a,b\",\"say \"\"hi\"\"\",\"two\nlines\",\r\n");
    // Every byte value, commas, quotes and line ends among them, comes back as written.
    std::string everyByte;
    for (int b = 0; b < 256; ++b)
        everyByte += static_cast<char>(b);
    const std::vector<std::string> fields = {everyByte, ",\"\r\n", " lead and trail ", "\xE9t\xE9"};
    EXPECT_EQ(fieldsOf(CsvRecord(fields) + CsvRecord({"x"})),
              (std::vector<std::vector<std::string>>{fields, {"x"}}));
    // A record of one empty field is no blank line, and a field that starts
    // like a byte order mark is not taken for the file's.
    const std::string mark = "\xEF\xBB\xBF";
    EXPECT_EQ(fieldsOf(CsvRecord({mark + "x"}) + CsvRecord({""})),
              (std::vector<std::vector<std::string>>{{mark + "x"}, {""}}));
}

TEST(Csv, ReadsWhatEditorsWrite) {
    struct Case {
        const char* name;
        std::string text;
        std::vector<std::vector<std::string>> fields;
    };
    const Case cases[] = {
        {"LF ends, no last end", "a,b\n1,2", {{"a", "b"}, {"1", "2"}}},
        {"CR LF ends", "a,b\r\n1,2\r\n", {{"a", "b"}, {"1", "2"}}},
        {"byte order mark",
         "\xEF\xBB\xBF"
         "a,b\n",
         {{"a", "b"}}},
        {"blank lines skipped", "a\n\n\r\nb\n", {{"a"}, {"b"}}},
        {"empty fields", ",\n\"\",x,\n", {{"", ""}, {"", "x", ""}}},
        {"lone CR is data", "a\rb\n", {{"a\rb"}}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(fieldsOf(c.text), c.fields) << c.name;

    // A record spanning lines starts where it starts; the next one after it.
    std::string error;
    const auto records = ParseCsv("h\n\"x\ny\"\nz\n", error);
    ASSERT_TRUE(records) << error;
    ASSERT_EQ(records->size(), 3u);
    EXPECT_EQ((*records)[1].line, 2);
    EXPECT_EQ((*records)[2].line, 4);
}

TEST(Csv, RefusesWhatIsNotCsvNamingTheLine) {
    const std::pair<const char*, const char*> cases[] = {
        {"a\n\"open", "line 2: a quoted field is not closed"},
        {"a\nb\"c\n", "line 2: a quote inside a field"},
        {"\"a\"b\n", "line 1: text after the closing quote"},
    };
    for (const auto& [text, says] : cases) {
        std::string error;
        EXPECT_FALSE(ParseCsv(text, error)) << text;
        EXPECT_NE(error.find(says), std::string::npos) << error;
    }
}

// A version text with a comma, quotes and bytes above 0x7F, as a device may
// report it: the list shows it escaped, and CSV carries that text exactly.
TEST(DeviceListCsv, DeviceTextWithCommasQuotesAndHighBytesRoundTrips) {
    DeviceIdentity device;
    device.setMac(MacAddress{{0x02, 0x19, 0xA7, 0x00, 0x00, 0x07}});
    const std::string raw = "Q,\"7\"\xE9\xFF";
    auto field = device.field(identity_offset::kHardwareVersion, kHardwareVersionWidth);
    std::copy(raw.begin(), raw.end(), field.begin());
    AdapterTable adapters;
    adapters.entries.push_back({"lan,\"1\"", "Caf\xE9 port", {}, {}});
    device.setAdapterIndex(0);
    const ListedDevice listed = ListedDeviceOf(device, "10.0.0.7", adapters);
    EXPECT_EQ(listed.hardwareVersion, "Q,\"7\"\\xE9\\xFF");

    const std::string csv = DeviceListCsv({listed});
    EXPECT_EQ(csv.substr(0, csv.find('\n') + 1),
              "serial,mac,ip,hardware_version,firmware_version,adapter\r\n");
    const auto rows = fieldsOf(csv);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1], (std::vector<std::string>{"2801795079", "02-19-A7-00-00-07", "10.0.0.7",
                                                 listed.hardwareVersion, listed.firmwareVersion,
                                                 "lan,\"1\""}));
    std::string error;
    const auto saved = ReadSavedDeviceList(csv, error);
    ASSERT_TRUE(saved) << error;
    EXPECT_TRUE(CompareDeviceLists(*saved, {listed}).empty());
}

ListedDevice listed(int n, std::string ip, std::string firmware = "1.2.3-A",
                    std::string adapter = "eth0") {
    const MacAddress mac{{0x02, 0x19, 0xA7, 0x00, 0x00, static_cast<std::uint8_t>(n)}};
    return {std::to_string(mac.serialNumber()),
            mac.toString(),
            std::move(ip),
            "HW-2.1",
            std::move(firmware),
            std::move(adapter)};
}

TEST(DeviceListCompare, ReportsMissingNewAndChanged) {
    const std::vector<ListedDevice> before = {listed(1, "10.0.0.1"), listed(2, "10.0.0.2"),
                                              listed(3, "10.0.0.3"), listed(4, "10.0.0.4")};
    const std::vector<ListedDevice> now = {listed(5, "10.0.0.5"), listed(3, "10.0.0.3", "1.3.0-A"),
                                           listed(2, "10.0.0.22", "1.2.3-A", "eth1"),
                                           listed(4, "10.0.0.4")};
    const auto d = CompareDeviceLists(AsSaved(before), now);
    ASSERT_EQ(d.size(), 4u);
    EXPECT_EQ(d[0].kind, ListDifference::Kind::Missing);
    EXPECT_EQ(d[0].mac, "02-19-A7-00-00-01");
    EXPECT_EQ(d[0].ip, "10.0.0.1");
    EXPECT_EQ(d[1].kind, ListDifference::Kind::New);
    EXPECT_EQ(d[1].mac, "02-19-A7-00-00-05");
    EXPECT_EQ(d[2].kind, ListDifference::Kind::Changed);
    ASSERT_EQ(d[2].changes.size(), 1u);
    EXPECT_EQ(d[2].changes[0].field, "firmware_version");
    EXPECT_EQ(d[2].changes[0].saved, "1.2.3-A");
    EXPECT_EQ(d[2].changes[0].now, "1.3.0-A");
    EXPECT_EQ(d[3].mac, "02-19-A7-00-00-02");
    ASSERT_EQ(d[3].changes.size(), 2u);
    EXPECT_EQ(d[3].changes[0].field, "ip");
    EXPECT_EQ(d[3].changes[1].field, "adapter");
    EXPECT_TRUE(CompareDeviceLists(AsSaved(now), now).empty());
}

TEST(DeviceListCompare, ReadsSavedListsOfEitherFormAndComparesOnlyTheirColumns) {
    std::string error;
    // search --json's array, with the keys a comparison does not use.
    auto saved = ReadSavedDeviceList(
        R"([{"serial": "2801795073", "ip": "10.0.0.1", "mac": "02-19-a7-00-00-01",
             "firmware_version": "1.2.3-A", "version_number": 7, "adapter_index": 0}])",
        error);
    ASSERT_TRUE(saved) << error;
    EXPECT_TRUE(CompareDeviceLists(*saved, {listed(1, "10.0.0.1", "1.2.3-A", "eth9")}).empty());
    // A list made by hand: a MAC and an address, columns in any order, a note column.
    saved = ReadSavedDeviceList("note,ip,mac\ncabinet 4,10.0.0.9,02:19:A7:00:00:01\n", error);
    ASSERT_TRUE(saved) << error;
    const auto d = CompareDeviceLists(*saved, {listed(1, "10.0.0.1", "9.9.9")});
    ASSERT_EQ(d.size(), 1u);
    ASSERT_EQ(d[0].changes.size(), 1u);
    EXPECT_EQ(d[0].changes[0].saved, "10.0.0.9");

    const std::pair<const char*, const char*> bad[] = {
        {"serial,ip\n1,10.0.0.1\n", "no 'mac' column"},
        {"mac,ip\nkitchen,10.0.0.1\n", "row 1: 'kitchen' is no MAC address"},
        {"mac\n02-19-A7-00-00-01,extra\n", "row 1 (line 2) has more fields"},
        {"[{\"ip\": \"10.0.0.1\"}]", "row 1 has no \"mac\""},
        {"{\"devices\": []}", "no JSON array"},
        {"", "empty"},
    };
    for (const auto& [text, says] : bad) {
        EXPECT_FALSE(ReadSavedDeviceList(text, error)) << text;
        EXPECT_NE(error.find(says), std::string::npos) << text << ": " << error;
    }
}

} // namespace
} // namespace korvane
