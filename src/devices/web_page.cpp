#include "devices/web_page.hpp"

#include "protocol/frame.hpp"
#include "protocol/transactions.hpp"

#include <thread>

namespace korvane {

namespace {
bool pause(Micros duration, StopToken* stop) {
    if (stop != nullptr)
        return stop->sleepFor(duration);
    std::this_thread::sleep_for(duration);
    return true;
}
} // namespace

bool WebPortEnabled(std::uint16_t port) {
    return port >= 1 && port <= 65534;
}

std::optional<std::string> WebPageUrl(const SettingsBlock& block) {
    const std::string address = FormatIPv4(block.ipAddress());
    const std::uint16_t http = block.port<settings_offset::kHttpPort>();
    if (WebPortEnabled(http))
        return "http://" + address + ":" + std::to_string(http) + "/";
    const std::uint16_t https = block.port<settings_offset::kHttpsPort>();
    if (WebPortEnabled(https))
        return "https://" + address + ":" + std::to_string(https) + "/";
    return std::nullopt;
}

std::vector<LaunchTarget> SelectedLaunchTargets(DeviceList& list) {
    std::vector<LaunchTarget> targets;
    if (list.busy())
        return targets;
    const int n = list.selectedCount();
    for (int k = 0; k < n; ++k) {
        const int device = list.selectNthCurrentDevice(k);
        const auto record = list.record(device);
        if (!record)
            continue;
        targets.push_back({device, list.currentDeviceAddress(), record->adapterIndex(),
                           std::string(record->serialText())});
    }
    return targets;
}

std::vector<LaunchReport> LaunchDevices(Context& ctx, std::span<const LaunchTarget> targets,
                                        UrlOpener& opener, Operator* op, StopToken* stop) {
    std::vector<LaunchReport> reports;
    for (const LaunchTarget& target : targets)
        reports.push_back({target, LaunchOutcome::NotReached, {}});

    bool pauseFirst = false;
    for (LaunchReport& report : reports) {
        if (stop != nullptr && stop->stopRequested())
            break;
        // Browsers drop pages that arrive too quickly one after another.
        if (pauseFirst && !pause(ctx.timing.betweenWebPages, stop))
            break;
        pauseFirst = false;
        const MacAddress& mac = report.target.mac;
        ctx.useAdapterOf(report.target.adapterIndex, stop);
        // Any answer, a refused empty password too, shows the device is there.
        if (QueryDevice(ctx, mac, code::kCheckPassword, code::kPasswordReply, "", 0, {}, stop) ==
            status::kNoReply) {
            report.outcome = LaunchOutcome::NoReply;
            break;
        }
        SettingsBlock block;
        if (op)
            op->setWaitCursor(true);
        const std::uint16_t read = QueryDevice(ctx, mac, code::kReadSettings, code::kSettingsReply,
                                               "", 0, block.readArea(), stop);
        if (op)
            op->setWaitCursor(false);
        if (read == status::kNoReply) {
            // Forming a URL from no settings would open a page of nothing.
            report.outcome = LaunchOutcome::NoSettings;
            continue;
        }
        const auto url = WebPageUrl(block);
        if (!url) {
            report.outcome = LaunchOutcome::ServiceOff;
            continue;
        }
        report.url = *url;
        report.outcome = opener.openUrl(*url) ? LaunchOutcome::Opened : LaunchOutcome::OpenFailed;
        pauseFirst = true;
    }
    return reports;
}

std::vector<LaunchReport> LaunchSelectedDevices(Context& ctx, DeviceList& list, UrlOpener& opener,
                                                Operator* op, StopToken* stop) {
    const auto targets = SelectedLaunchTargets(list);
    if (targets.empty())
        return {};
    return LaunchDevices(ctx, targets, opener, op, stop);
}

} // namespace korvane
