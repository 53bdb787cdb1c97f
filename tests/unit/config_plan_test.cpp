// A settings plan's own rows, without a device: values, columns and keys,
// two rows for one device or one address.

#include "config/settings_plan.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace korvane {
namespace {

std::vector<std::string> planErrors(std::string_view text) {
    std::vector<PlanError> errors;
    EXPECT_FALSE(ParseSettingsPlan(text, errors)) << text;
    std::vector<std::string> out;
    for (const auto& e : errors)
        out.push_back(e.text());
    return out;
}

TEST(SettingsPlanFile, RowsOfCsvAndJsonPlans) {
    std::vector<PlanError> errors;
    // An export with its columns, a MAC in colon form, blanks around values, mixed case.
    auto rows = ParseSettingsPlan("Serial,mac,ip,Mask,adapter,HTTP,ssh,mode\n"
                                  "2801795073,, 10.0.0.1 ,255.255.0.0,eth0,8080,OFF,\n"
                                  ",02:19:a7:00:00:02,,,,,,DHCP\n",
                                  errors);
    ASSERT_TRUE(rows) << (errors.empty() ? "" : errors[0].text());
    ASSERT_EQ(rows->size(), 2u);
    const PlanRow& first = (*rows)[0];
    EXPECT_EQ(first.serial, 2801795073u);
    EXPECT_EQ(first.line, 2);
    EXPECT_EQ(first.edits.ip, 0x0A000001u);
    EXPECT_EQ(first.edits.mask, 0xFFFF0000u);
    EXPECT_FALSE(first.edits.gateway);
    EXPECT_TRUE(first.edits.services.at(ServiceKind::Http).on);
    EXPECT_EQ(first.edits.services.at(ServiceKind::Http).port, 8080);
    EXPECT_FALSE(first.edits.services.at(ServiceKind::Ssh).on);
    EXPECT_FALSE(first.edits.services.contains(ServiceKind::Telnet));
    EXPECT_EQ((*rows)[1].device, "02-19-A7-00-00-02");
    EXPECT_EQ((*rows)[1].edits.mode, AddressMode::Dhcp);

    rows = ParseSettingsPlan(R"([{"mac": "02-19-A7-00-00-01", "ip": "10.0.0.1", "https": 8443,
                                  "telnet": "off", "gateway": null, "firmware_version": "x"}])",
                             errors);
    ASSERT_TRUE(rows);
    EXPECT_EQ((*rows)[0].edits.services.at(ServiceKind::Https).port, 8443);
    EXPECT_EQ((*rows)[0].line, 0);
}

TEST(SettingsPlanFile, EveryUnfitRowIsNamed) {
    EXPECT_EQ(planErrors("mac,ip,mask,http,mode\n"
                         "02-19-A7-00-00-01,10.0.0.300,,,\n"
                         "02-19-A7-00-00-02,,255.255.255.0,0,\n"
                         "kitchen,,,,\n"
                         "02-19-A7-00-00-03,,,,auto\n"
                         ",10.0.0.9,,,\n"
                         "02-19-A7-00-00-05,,,65535,\n"),
              (std::vector<std::string>{
                  "row 1 (line 2, 02-19-A7-00-00-01): ip: '10.0.0.300' is no dotted IPv4 address",
                  "row 2 (line 3, 02-19-A7-00-00-02): http: takes a port number from 1 to 65534 "
                  "or off, not '0'",
                  "row 3 (line 4, kitchen): mac: 'kitchen' is no MAC address (like "
                  "02-19-A7-00-01-23)",
                  "row 4 (line 5, 02-19-A7-00-00-03): mode: 'auto' is none of dhcp, bootp, static",
                  "row 5 (line 6, no device): names no device: give its serial or mac",
                  "row 6 (line 7, 02-19-A7-00-00-05): http: takes a port number from 1 to 65534 "
                  "or off, not '65535'"}));
}

TEST(SettingsPlanFile, ARowForADeviceOrAnAddressAlreadyPlannedIsRefused) {
    // 02-19-A7-00-00-01 is serial number 2801795073.
    EXPECT_EQ(planErrors("serial,mac,ip\n"
                         ",02-19-A7-00-00-01,10.0.0.1\n"
                         "2801795073,,10.0.0.2\n"
                         ",02-19-A7-00-00-03,10.0.0.1\n"
                         "2801795076,02-19-A7-00-00-05,\n"),
              (std::vector<std::string>{
                  "row 2 (line 3, 2801795073): names the same device as row 1",
                  "row 3 (line 4, 02-19-A7-00-00-03): gives the address 10.0.0.1 that row 1 "
                  "gives too",
                  "row 4 (line 5, 02-19-A7-00-00-05): serial 2801795076 is not that of MAC "
                  "address 02-19-A7-00-00-05 (2801795077)"}));
}

TEST(SettingsPlanFile, FilesThatAreNoPlan) {
    const std::pair<const char*, const char*> cases[] = {
        {"mac,gatway\n02-19-A7-00-00-01,10.0.0.1\n",
         "the plan: the header names no column 'gatway'"},
        {"ip,mask\n10.0.0.1,255.0.0.0\n", "neither a 'serial' nor a 'mac' column"},
        {"mac,ip,ip\n", "names column 'ip' twice"},
        {"mac\n\"02-19", "a quoted field is not closed"},
        {"[{\"mac\": \"02-19-A7-00-00-01\", \"password\": \"x\"}]",
         "row 1 (02-19-A7-00-00-01): no setting 'password'"},
        {"[{\"mac\": \"02-19-A7-00-00-01\", \"http\": true}]",
         "http: takes a text or a whole number"},
        {"{\"mac\": 1}", "no JSON array"},
        {"", "the file is empty"},
    };
    for (const auto& [text, says] : cases) {
        const auto errors = planErrors(text);
        ASSERT_FALSE(errors.empty()) << text;
        EXPECT_NE(errors[0].find(says), std::string::npos) << text << ": " << errors[0];
    }
}

} // namespace
} // namespace korvane
