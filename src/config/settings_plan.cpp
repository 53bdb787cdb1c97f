#include "config/settings_plan.hpp"

#include "base/csv.hpp"
#include "base/printable_text.hpp"
#include "config/config_commands.hpp"
#include "protocol/config_blocks.hpp"
#include "protocol/frame.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <map>
#include <utility>

namespace korvane {

std::string PlanError::text() const {
    if (row == 0)
        return "the plan: " + message;
    std::string where = "row " + std::to_string(row) + " (";
    if (line > 0)
        where += "line " + std::to_string(line) + ", ";
    where += (device.empty() ? std::string("no device") : device) + ")";
    return where + ": " + message;
}

namespace {

using Cells = std::vector<std::pair<std::string, std::string>>; // column, value

// A row of the file before its values are read.
struct RawRow {
    int row = 0;
    int line = 0; // CSV only
    Cells cells;
};

bool isOneOf(std::string_view name, const auto& names) {
    return std::find(std::begin(names), std::end(names), name) != std::end(names);
}

bool knownColumn(std::string_view name) {
    return name == "serial" || name == "mac" || isOneOf(name, kPlanSettingColumns) ||
           isOneOf(name, kPlanIgnoredColumns);
}

std::string knownColumnsText() {
    std::string text = "serial, mac";
    for (const std::string_view c : kPlanSettingColumns)
        text += ", " + std::string(c);
    return text;
}

std::string trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(" \t");
    return std::string(text.substr(first, last - first + 1));
}

std::string lowered(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::optional<std::uint32_t> parseSerial(std::string_view text) {
    if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != text.npos)
        return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : text)
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    if (value > 0xFFFFFFFFull)
        return std::nullopt;
    return static_cast<std::uint32_t>(value);
}

std::optional<ServiceEdit> parseServiceValue(std::string_view text) {
    if (lowered(std::string(text)) == "off")
        return ServiceEdit{false, 0};
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != text.npos)
        return std::nullopt;
    const int port = std::stoi(std::string(text));
    if (port < kMinServicePort || port > kMaxServicePort)
        return std::nullopt;
    return ServiceEdit{true, port};
}

std::optional<ServiceKind> serviceOfColumn(std::string_view column) {
    for (const ServiceKind kind : kServices)
        if (lowered(std::string(ServiceName(kind))) == column)
            return kind;
    return std::nullopt;
}

// A value as it goes into a message: printable, and not a page long.
std::string inQuotes(std::string_view value) {
    return "'" + PrintableText(ShortenedForMessage(value)) + "'";
}

// One row's cells into a PlanRow; its errors are added to `errors`.
PlanRow parseRow(int row, int line, const Cells& cells, std::vector<PlanError>& errors) {
    PlanRow r;
    r.row = row;
    r.line = line;
    std::string serialText, macText;
    for (const auto& [column, value] : cells) {
        if (column == "serial")
            serialText = value;
        else if (column == "mac")
            macText = value;
    }
    r.device = !macText.empty() ? macText : serialText;
    const auto error = [&](std::string message) {
        errors.push_back(
            {row, line, PrintableText(ShortenedForMessage(r.device)), std::move(message)});
    };

    if (!macText.empty()) {
        r.mac = MacAddress::parse(macText);
        if (!r.mac)
            error("mac: " + inQuotes(macText) + " is no MAC address (like 02-19-A7-00-01-23)");
        else
            r.device = r.mac->toString();
    }
    if (!serialText.empty()) {
        r.serial = parseSerial(serialText);
        if (!r.serial)
            error("serial: " + inQuotes(serialText) + " is no serial number");
    }
    if (r.mac && r.serial && r.mac->serialNumber() != *r.serial)
        error("serial " + serialText + " is not that of MAC address " + r.mac->toString() + " (" +
              std::to_string(r.mac->serialNumber()) + ")");
    if (macText.empty() && serialText.empty())
        error("names no device: give its serial or mac");

    for (const auto& [column, value] : cells) {
        if (value.empty())
            continue;
        if (column == "mode") {
            r.edits.mode = ParseAddressModeName(lowered(value));
            if (!r.edits.mode)
                error("mode: " + inQuotes(value) + " is none of dhcp, bootp, static");
        } else if (column == "ip" || column == "mask" || column == "gateway") {
            auto& target = column == "ip"     ? r.edits.ip
                           : column == "mask" ? r.edits.mask
                                              : r.edits.gateway;
            target = ParseIPv4(value);
            if (!target)
                error(column + ": " + inQuotes(value) + " is no dotted IPv4 address");
        } else if (const auto service = serviceOfColumn(column)) {
            const auto edit = parseServiceValue(value);
            if (edit)
                r.edits.services[*service] = *edit;
            else
                error(column + ": takes a port number from " + std::to_string(kMinServicePort) +
                      " to " + std::to_string(kMaxServicePort) + " or off, not " + inQuotes(value));
        }
    }
    return r;
}

std::optional<std::vector<RawRow>> csvRows(std::string_view text, std::vector<PlanError>& errors) {
    std::string error;
    const auto records = ParseCsv(text, error);
    if (!records) {
        errors.push_back({0, 0, {}, error});
        return std::nullopt;
    }
    if (records->empty()) {
        errors.push_back({0, 0, {}, "the file is empty"});
        return std::nullopt;
    }
    std::vector<std::string> header;
    for (const std::string& name : records->front().fields)
        header.push_back(lowered(trimmed(name)));
    bool fit = true;
    for (std::size_t c = 0; c < header.size(); ++c) {
        if (!knownColumn(header[c])) {
            errors.push_back({0,
                              0,
                              {},
                              "the header names no column " + inQuotes(header[c]) +
                                  " (the columns are " + knownColumnsText() + ")"});
            fit = false;
        } else if (std::find(header.begin(), header.begin() + static_cast<std::ptrdiff_t>(c),
                             header[c]) != header.begin() + static_cast<std::ptrdiff_t>(c)) {
            errors.push_back({0, 0, {}, "the header names column '" + header[c] + "' twice"});
            fit = false;
        }
    }
    if (std::find(header.begin(), header.end(), "serial") == header.end() &&
        std::find(header.begin(), header.end(), "mac") == header.end()) {
        errors.push_back({0, 0, {}, "the header has neither a 'serial' nor a 'mac' column"});
        fit = false;
    }
    if (!fit)
        return std::nullopt;
    std::vector<RawRow> rows;
    for (std::size_t r = 1; r < records->size(); ++r) {
        const CsvRecordRead& record = (*records)[r];
        if (record.fields.size() > header.size()) {
            errors.push_back(
                {static_cast<int>(r), record.line, {}, "more fields than the header names"});
            continue;
        }
        Cells cells;
        for (std::size_t c = 0; c < record.fields.size(); ++c)
            cells.emplace_back(header[c], trimmed(record.fields[c]));
        rows.push_back({static_cast<int>(r), record.line, std::move(cells)});
    }
    return rows;
}

std::optional<std::vector<RawRow>> jsonRows(std::string_view text, std::vector<PlanError>& errors) {
    const auto json = nlohmann::json::parse(text, nullptr, false);
    if (json.is_discarded() || !json.is_array()) {
        errors.push_back({0, 0, {}, "the file is no JSON array of rows (objects)"});
        return std::nullopt;
    }
    std::vector<RawRow> rows;
    int row = 0;
    for (const auto& element : json) {
        ++row;
        if (!element.is_object()) {
            errors.push_back({row, 0, {}, "is no JSON object"});
            continue;
        }
        // How the row names its device, for the messages about its keys.
        std::string device;
        for (const char* key : {"serial", "mac"})
            if (element.contains(key) && element[key].is_string())
                device = PrintableText(ShortenedForMessage(element[key].get<std::string>()));
        Cells cells;
        for (const auto& [key, value] : element.items()) {
            if (!knownColumn(key)) {
                errors.push_back(
                    {row, 0, device,
                     "no setting " + inQuotes(key) + " (the keys are " + knownColumnsText() + ")"});
                continue;
            }
            if (isOneOf(key, kPlanIgnoredColumns) || value.is_null())
                continue;
            if (value.is_string())
                cells.emplace_back(key, trimmed(value.get<std::string>()));
            else if (value.is_number_unsigned())
                cells.emplace_back(key, std::to_string(value.get<std::uint64_t>()));
            else
                errors.push_back({row, 0, device, key + ": takes a text or a whole number"});
        }
        rows.push_back({row, 0, std::move(cells)});
    }
    return rows;
}

} // namespace

std::optional<std::vector<PlanRow>> ParseSettingsPlan(std::string_view text,
                                                      std::vector<PlanError>& errors) {
    const std::size_t errorsBefore = errors.size();
    const auto start = text.find_first_not_of(" \t\r\n");
    const bool json = start != std::string_view::npos && (text[start] == '[' || text[start] == '{');
    const auto raw = json ? jsonRows(text, errors) : csvRows(text, errors);
    if (!raw)
        return std::nullopt;

    std::vector<PlanRow> rows;
    for (const RawRow& r : *raw)
        rows.push_back(parseRow(r.row, r.line, r.cells, errors));

    // Two rows for one device, or giving one address: the plan contradicts itself.
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const PlanRow& r = rows[i];
        const auto serial = r.mac ? std::optional(r.mac->serialNumber()) : r.serial;
        for (std::size_t j = 0; j < i; ++j) {
            const PlanRow& earlier = rows[j];
            const auto earlierSerial =
                earlier.mac ? std::optional(earlier.mac->serialNumber()) : earlier.serial;
            const bool sameMac = r.mac && earlier.mac && *r.mac == *earlier.mac;
            const bool sameSerial =
                serial && earlierSerial && *serial == *earlierSerial && !(r.mac && earlier.mac);
            if (sameMac || sameSerial) {
                errors.push_back({r.row, r.line, r.device,
                                  "names the same device as row " + std::to_string(earlier.row)});
                break;
            }
        }
        if (!r.edits.ip)
            continue;
        for (std::size_t j = 0; j < i; ++j)
            if (rows[j].edits.ip == r.edits.ip) {
                errors.push_back({r.row, r.line, r.device,
                                  "gives the address " + FormatIPv4(*r.edits.ip) + " that row " +
                                      std::to_string(rows[j].row) + " gives too"});
                break;
            }
    }
    if (errors.size() == errorsBefore)
        return rows;
    std::stable_sort(errors.begin() + static_cast<std::ptrdiff_t>(errorsBefore), errors.end(),
                     [](const PlanError& a, const PlanError& b) { return a.row < b.row; });
    return std::nullopt;
}

SettingsEdits PlanEditsFor(const SettingsEdits& edits, const NetworkSettingsModel& model) {
    SettingsEdits out = edits;
    const IpAddressPageModel& page = model.ipPage;
    const AddressMode finalMode = edits.mode.value_or(page.mode);
    if (finalMode != AddressMode::Static) {
        if (out.ip == page.ipAddress)
            out.ip.reset();
        if (out.mask == page.subnetMask)
            out.mask.reset();
        if (out.gateway == page.gateway)
            out.gateway.reset();
    }
    for (auto it = out.services.begin(); it != out.services.end();)
        if (!it->second.on && !model.advancedPage.serviceEditable(it->first))
            it = out.services.erase(it);
        else
            ++it;
    return out;
}

namespace {

std::string editRefusalText(const EditRefusal& refusal, const SettingsEdits& edits) {
    switch (refusal.kind) {
    case EditRefusal::Kind::BootpUnavailable:
        return "BOOTP is not available on this device (only a model K device with settings "
               "version 31 or more offers it)";
    case EditRefusal::Kind::AddressNeedsStatic:
        if (edits.mode)
            return "mode " + std::string(AddressModeName(*edits.mode)) +
                   " takes the address from a server: leave ip, mask and gateway empty, or "
                   "give mode static";
        return "ip, mask and gateway set a static address, and this device gets its address "
               "from a server: give mode static";
    default:
        break;
    }
    return ServiceRefusalText(refusal);
}

// The address a device has after the write when that is a fixed one.
std::optional<std::uint32_t> finalStaticAddress(const NetworkSettingsModel& m) {
    if (m.ipPage.mode != AddressMode::Static)
        return std::nullopt;
    return m.ipPage.ipAddress;
}

bool givesUp(const PlannedDevice& d, std::uint32_t address) {
    return d.model.original.ipAddress == address && finalStaticAddress(d.model) &&
           *finalStaticAddress(d.model) != address;
}

// Devices that give an address up come before those that take it; a ring of
// devices swapping addresses keeps the plan's order.
std::vector<PlannedDevice> writeOrder(std::vector<PlannedDevice> devices) {
    std::vector<PlannedDevice> ordered;
    std::vector<bool> done(devices.size(), false);
    const auto waitsFor = [&](std::size_t taker, std::size_t giver) {
        const auto taken = finalStaticAddress(devices[taker].model);
        return taker != giver && devices[taker].changes() && taken &&
               *taken != devices[taker].model.original.ipAddress && givesUp(devices[giver], *taken);
    };
    for (std::size_t placed = 0; placed < devices.size(); ++placed) {
        std::optional<std::size_t> next;
        for (std::size_t i = 0; i < devices.size() && !next; ++i) {
            if (done[i])
                continue;
            bool ready = true;
            for (std::size_t j = 0; j < devices.size() && ready; ++j)
                ready = done[j] || !waitsFor(i, j);
            if (ready)
                next = i;
        }
        if (!next) // a ring: the first left in plan order
            next =
                static_cast<std::size_t>(std::find(done.begin(), done.end(), false) - done.begin());
        done[*next] = true;
        ordered.push_back(std::move(devices[*next]));
    }
    return ordered;
}

} // namespace

PlanCheck CheckSettingsPlan(const std::vector<PlanRow>& rows,
                            const std::vector<DeviceIdentity>& found,
                            const PlanSettingsReader& read, const PlanAddressProbe& probe) {
    PlanCheck check;
    std::vector<PlannedDevice> devices;
    std::map<MacAddress, int> rowOfDevice;
    std::vector<bool> failed; // per entry of `devices`
    for (const PlanRow& row : rows) {
        const auto error = [&](std::string message) {
            check.errors.push_back({row.row, row.line, row.device, std::move(message)});
        };
        std::vector<const DeviceIdentity*> matches;
        for (const DeviceIdentity& d : found)
            if (row.mac ? d.mac() == *row.mac : row.serial == d.serialNumber())
                matches.push_back(&d);
        if (matches.empty()) {
            error("no such device answered on the segment");
            continue;
        }
        if (matches.size() > 1) {
            error("serial number " + row.device + " is that of " + std::to_string(matches.size()) +
                  " devices (" + matches[0]->mac().toString() + ", " +
                  matches[1]->mac().toString() + "...): name the device by its MAC address");
            continue;
        }
        const DeviceIdentity& device = *matches.front();
        if (const auto it = rowOfDevice.find(device.mac()); it != rowOfDevice.end()) {
            error("names the same device as row " + std::to_string(it->second));
            continue;
        }
        rowOfDevice.emplace(device.mac(), row.row);

        SettingsBlock block;
        const std::uint16_t readStatus = read(device, block);
        if (readStatus == status::kNoReply) {
            error(std::string(text::kNoRespond) + " (the settings read was not answered)");
            continue;
        }
        PlannedDevice planned{
            row, device, FillNetworkSettings(block, readStatus, ModelLetterIsK(device)), {}};
        planned.edits = PlanEditsFor(row.edits, planned.model);
        if (const auto refusal = ApplySettingsEdits(planned.edits, planned.model)) {
            error(editRefusalText(*refusal, planned.edits));
            continue;
        }
        if (planned.changes()) {
            auto failure = SheetTestsBeforeConflict(planned.model);
            if (!failure)
                failure = SheetTestsAfterConflict(planned.model);
            if (failure) {
                error(failure->message);
                continue;
            }
        }
        devices.push_back(std::move(planned));
        failed.push_back(false);
    }

    // The addresses the devices end with: no two alike where the plan makes
    // them so. The row that moves a device onto the address is the one named.
    const auto moves = [&](std::size_t i) {
        return devices[i].changes() &&
               finalStaticAddress(devices[i].model) != devices[i].model.original.ipAddress;
    };
    for (std::size_t i = 0; i < devices.size(); ++i) {
        const auto address = finalStaticAddress(devices[i].model);
        if (!address)
            continue;
        for (std::size_t j = 0; j < i; ++j) {
            if (finalStaticAddress(devices[j].model) != address || (!moves(i) && !moves(j)))
                continue;
            const std::size_t named = moves(i) ? i : j;
            const std::size_t other = named == i ? j : i;
            check.errors.push_back(
                {devices[named].row.row, devices[named].row.line, devices[named].row.device,
                 "ends with the address " + FormatIPv4(*address) + ", as the device of row " +
                     std::to_string(devices[other].row.row) + " does"});
            failed[named] = true;
            break;
        }
    }

    // A new static address nobody may answer to, unless a device of the plan gives it up.
    for (std::size_t i = 0; i < devices.size(); ++i) {
        const PlannedDevice& d = devices[i];
        if (failed[i] || !d.changes() || !ConflictQuestionApplies(d.model.ipPage))
            continue;
        const std::uint32_t address = d.model.ipPage.ipAddress;
        const bool freedByPlan = std::any_of(devices.begin(), devices.end(), [&](const auto& o) {
            return &o != &d && givesUp(o, address);
        });
        if (!freedByPlan && probe && probe(d.device, address))
            check.errors.push_back(
                {d.row.row, d.row.line, d.row.device,
                 "IP address: " + FormatIPv4(address) + " already exists on the LAN"});
    }

    std::stable_sort(check.errors.begin(), check.errors.end(),
                     [](const PlanError& a, const PlanError& b) { return a.row < b.row; });
    check.devices = writeOrder(std::move(devices));
    return check;
}

namespace {

std::string serviceValue(const ServiceSetting& s, bool hasField) {
    if (!hasField || s.absent)
        return "absent";
    return s.enabled ? std::to_string(s.port) : "off";
}

} // namespace

std::vector<SettingChange> PlannedChanges(const NetworkSettingsModel& m) {
    std::vector<SettingChange> changes;
    const auto add = [&](std::string_view setting, std::string from, std::string to) {
        if (from != to)
            changes.push_back({std::string(setting), std::move(from), std::move(to)});
    };
    add("mode", std::string(AddressModeName(m.original.mode)),
        std::string(AddressModeName(m.ipPage.mode)));
    add("ip", FormatIPv4(m.original.ipAddress), FormatIPv4(m.ipPage.ipAddress));
    add("mask", FormatIPv4(m.original.subnetMask), FormatIPv4(m.ipPage.subnetMask));
    add("gateway", FormatIPv4(m.original.gateway), FormatIPv4(m.ipPage.gateway));
    for (std::size_t i = 0; i < kServices.size(); ++i) {
        const ServiceKind kind = kServices[i];
        // HTTP and Telnet have no field in settings older than version 32.
        const bool hasField = (kind != ServiceKind::Http && kind != ServiceKind::Telnet) ||
                              m.advancedPage.version >= kFirstVersionWithHttpTelnet;
        add(lowered(std::string(ServiceName(kind))), serviceValue(m.original.services[i], hasField),
            serviceValue(m.advancedPage.service(kind), hasField));
    }
    return changes;
}

} // namespace korvane
