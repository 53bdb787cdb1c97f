#include "config/settings_edits.hpp"

namespace korvane {

std::optional<EditRefusal> ApplyAddressEdits(const SettingsEdits& edits, IpAddressPageModel& page) {
    if (edits.mode == AddressMode::Bootp && !page.bootpAvailable())
        return EditRefusal{EditRefusal::Kind::BootpUnavailable};
    if (edits.mode)
        page.mode = *edits.mode;
    if (edits.hasAddress() && !page.addressesEditable())
        return EditRefusal{EditRefusal::Kind::AddressNeedsStatic};
    if (edits.ip)
        page.ipAddress = *edits.ip;
    if (edits.mask)
        page.subnetMask = *edits.mask;
    if (edits.gateway)
        page.gateway = *edits.gateway;
    return std::nullopt;
}

std::optional<EditRefusal> ApplyServiceEdits(const SettingsEdits& edits, AdvancedPageModel& page) {
    for (const auto& [kind, edit] : edits.services) {
        if (!page.serviceEditable(kind)) {
            const bool field = kind == ServiceKind::Http || kind == ServiceKind::Telnet;
            return EditRefusal{field ? EditRefusal::Kind::NoSuchField
                                     : EditRefusal::Kind::NoSuchService,
                               kind, page.version};
        }
        page.setEnabled(kind, edit.on);
        if (edit.on)
            page.service(kind).port = edit.port;
    }
    return std::nullopt;
}

std::optional<EditRefusal> ApplySettingsEdits(const SettingsEdits& edits,
                                              NetworkSettingsModel& model) {
    if (auto refusal = ApplyAddressEdits(edits, model.ipPage))
        return refusal;
    return ApplyServiceEdits(edits, model.advancedPage);
}

std::string ServiceRefusalText(const EditRefusal& refusal) {
    const std::string service(ServiceName(refusal.service));
    if (refusal.kind == EditRefusal::Kind::NoSuchField)
        return "this device's settings (version " + std::to_string(refusal.version) + ") have no " +
               service + " setting";
    return "this device has no " + service + " service";
}

std::string_view AddressModeName(AddressMode mode) {
    switch (mode) {
    case AddressMode::Dhcp:
        return "dhcp";
    case AddressMode::Bootp:
        return "bootp";
    case AddressMode::Static:
        break;
    }
    return "static";
}

std::optional<AddressMode> ParseAddressModeName(std::string_view name) {
    for (const AddressMode mode : {AddressMode::Dhcp, AddressMode::Bootp, AddressMode::Static})
        if (name == AddressModeName(mode))
            return mode;
    return std::nullopt;
}

} // namespace korvane
