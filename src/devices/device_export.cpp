#include "devices/device_export.hpp"

#include "base/csv.hpp"
#include "base/printable_text.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <map>

namespace korvane {

namespace {

std::string adapterName(const AdapterTable& adapters, int index) {
    if (index < 0 || index >= adapters.count())
        return {};
    return Utf8Text(adapters.entries[static_cast<std::size_t>(index)].name);
}

// The field of a saved device that a column fills; null for "mac" and for
// columns that are not compared.
std::optional<std::string>* savedField(SavedDevice& d, std::string_view column) {
    if (column == "serial")
        return &d.serial;
    if (column == "ip")
        return &d.ip;
    if (column == "hardware_version")
        return &d.hardwareVersion;
    if (column == "firmware_version")
        return &d.firmwareVersion;
    if (column == "adapter")
        return &d.adapter;
    return nullptr;
}

bool takeMac(SavedDevice& d, const std::string& text, std::string& error) {
    const auto mac = MacAddress::parse(text);
    if (!mac) {
        error = "row " + std::to_string(d.row) + ": '" + ShortenedForMessage(text) +
                "' is no MAC address";
        return false;
    }
    d.mac = mac->toString();
    return true;
}

std::optional<std::vector<SavedDevice>> fromCsv(std::string_view text, std::string& error) {
    const auto records = ParseCsv(text, error);
    if (!records)
        return std::nullopt;
    if (records->empty()) {
        error = "the file is empty";
        return std::nullopt;
    }
    const std::vector<std::string>& header = records->front().fields;
    const auto macColumn = std::find(header.begin(), header.end(), "mac");
    if (macColumn == header.end()) {
        error = "the header has no 'mac' column (the first line names the columns: " +
                std::string(kDeviceListColumns[0]) + ",mac,ip,...)";
        return std::nullopt;
    }
    std::vector<SavedDevice> devices;
    for (std::size_t r = 1; r < records->size(); ++r) {
        const CsvRecordRead& record = (*records)[r];
        SavedDevice d;
        d.row = static_cast<int>(r);
        if (record.fields.size() > header.size()) {
            error = "row " + std::to_string(d.row) + " (line " + std::to_string(record.line) +
                    ") has more fields than the header names";
            return std::nullopt;
        }
        for (std::size_t c = 0; c < record.fields.size(); ++c) {
            if (header[c] == "mac") {
                if (!takeMac(d, record.fields[c], error))
                    return std::nullopt;
            } else if (auto* field = savedField(d, header[c])) {
                *field = record.fields[c];
            }
        }
        if (d.mac.empty()) {
            error = "row " + std::to_string(d.row) + " (line " + std::to_string(record.line) +
                    ") has no MAC address";
            return std::nullopt;
        }
        devices.push_back(std::move(d));
    }
    return devices;
}

std::optional<std::vector<SavedDevice>> fromJson(std::string_view text, std::string& error) {
    const auto json = nlohmann::json::parse(text, nullptr, false);
    if (json.is_discarded() || !json.is_array()) {
        error = "the file is no JSON array of devices (as search --json prints)";
        return std::nullopt;
    }
    std::vector<SavedDevice> devices;
    int row = 0;
    for (const auto& element : json) {
        SavedDevice d;
        d.row = ++row;
        if (!element.is_object()) {
            error = "row " + std::to_string(d.row) + " is no JSON object";
            return std::nullopt;
        }
        for (const auto& [key, value] : element.items()) {
            std::optional<std::string>* field = savedField(d, key);
            if (key != "mac" && !field)
                continue;
            if (!value.is_string()) {
                error = "row " + std::to_string(d.row) + ": \"" + key + "\" is no string";
                return std::nullopt;
            }
            if (key == "mac") {
                if (!takeMac(d, value.get<std::string>(), error))
                    return std::nullopt;
            } else {
                *field = value.get<std::string>();
            }
        }
        if (d.mac.empty()) {
            error = "row " + std::to_string(d.row) + " has no \"mac\"";
            return std::nullopt;
        }
        devices.push_back(std::move(d));
    }
    return devices;
}

} // namespace

ListedDevice ListedDeviceOf(const DeviceIdentity& device, std::string ip,
                            const AdapterTable& adapters) {
    return {std::to_string(device.serialNumber()),
            device.mac().toString(),
            std::move(ip),
            device.hardwareVersionDisplay(),
            device.firmwareVersionDisplay(),
            adapterName(adapters, device.adapterIndex())};
}

std::vector<ListedDevice> ListedDevices(const DeviceList& list, const AdapterTable& adapters) {
    std::vector<ListedDevice> devices;
    const DeviceRowModel& rows = list.rows();
    for (int row = 0; row < rows.rowCount(); ++row) {
        const auto record = list.record(list.deviceOfRow(row));
        if (!record)
            continue;
        ListedDevice d = ListedDeviceOf(*record, rows.row(row).addressText, adapters);
        d.serial = rows.row(row).data.texts[kSerialColumn];
        devices.push_back(std::move(d));
    }
    return devices;
}

std::string DeviceListCsv(const std::vector<ListedDevice>& devices) {
    std::string text = CsvRecord({kDeviceListColumns.begin(), kDeviceListColumns.end()});
    for (const ListedDevice& d : devices)
        text += CsvRecord(
            {d.serial, d.mac, d.ip, d.hardwareVersion, d.firmwareVersion, Utf8Text(d.adapter)});
    return text;
}

std::optional<std::vector<SavedDevice>> ReadSavedDeviceList(std::string_view text,
                                                            std::string& error) {
    const auto start = text.find_first_not_of(" \t\r\n");
    if (start != std::string_view::npos && (text[start] == '[' || text[start] == '{'))
        return fromJson(text, error);
    return fromCsv(text, error);
}

std::vector<ListDifference> CompareDeviceLists(const std::vector<SavedDevice>& saved,
                                               const std::vector<ListedDevice>& now) {
    std::map<std::string, const ListedDevice*> found;
    for (const ListedDevice& d : now)
        found.emplace(d.mac, &d);
    std::map<std::string, const SavedDevice*> known;
    for (const SavedDevice& d : saved)
        known.emplace(d.mac, &d);

    std::vector<ListDifference> differences;
    for (const SavedDevice& d : saved)
        if (!found.contains(d.mac) && known.at(d.mac) == &d)
            differences.push_back({ListDifference::Kind::Missing,
                                   d.mac,
                                   d.serial.value_or(""),
                                   d.ip.value_or(""),
                                   {}});
    for (const ListedDevice& d : now) {
        const auto it = known.find(d.mac);
        if (it == known.end()) {
            differences.push_back({ListDifference::Kind::New, d.mac, d.serial, d.ip, {}});
            continue;
        }
        const SavedDevice& before = *it->second;
        std::vector<FieldChange> changes;
        const auto compare = [&](const char* field, const std::optional<std::string>& was,
                                 const std::string& is) {
            // The adapter's name may have been saved in another encoding.
            if (was && Utf8Text(*was) != Utf8Text(is))
                changes.push_back({field, *was, is});
        };
        compare("ip", before.ip, d.ip);
        compare("firmware_version", before.firmwareVersion, d.firmwareVersion);
        compare("adapter", before.adapter, d.adapter);
        if (!changes.empty())
            differences.push_back(
                {ListDifference::Kind::Changed, d.mac, d.serial, d.ip, std::move(changes)});
    }
    return differences;
}

std::vector<SavedDevice> AsSaved(const std::vector<ListedDevice>& devices) {
    std::vector<SavedDevice> saved;
    int row = 0;
    for (const ListedDevice& d : devices)
        saved.push_back(
            {++row, d.mac, d.serial, d.ip, d.hardwareVersion, d.firmwareVersion, d.adapter});
    return saved;
}

} // namespace korvane
