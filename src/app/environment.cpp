#include "app/environment.hpp"

#include "base/printable_text.hpp"

#include "link/capture_recorder.hpp"
#include "link/pcap_driver.hpp"
#include "protocol/frame_log.hpp"
#include "relay/raw_access.hpp"
#include "sim/simulated_lan.hpp"

#include <algorithm>

namespace korvane {

Environment::Environment(EnvironmentOptions options) : options_(std::move(options)) {
    PacketDriver* driver = nullptr;
    if (simulated()) {
        sim::LanOptions lanOptions;
        lanOptions.devices = options_.simulate;
        lan_ = std::make_unique<sim::SimulatedLan>(lanOptions);
        driver = &lan_->segment();
    } else {
        const LinkAccess requested = options_.access;
        access_ = ResolveLinkAccess(requested, requested == LinkAccess::Auto && CanOpenRawSocket(),
                                    RelayBuilt());
        if (access_ == LinkAccess::Relay) {
            driver_ = MakeRelayDriver(RelayProgram(), options_.timing.relayAnswerWait);
        } else if (requested == LinkAccess::Direct && RelayBuilt()) {
            driver_ = std::make_unique<PcapDriver>(
                PcapDriver().permissionFix() + "; or leave out --no-relay (and " +
                kRelayEnvironment + "=0) so that korvane-relay opens the adapters");
        } else {
            driver_ = std::make_unique<PcapDriver>();
        }
        driver = driver_.get();
    }
    init(*driver);
}

Environment::Environment(EnvironmentOptions options, PacketDriver& driver)
    : options_(std::move(options)) {
    init(driver);
}

void Environment::init(PacketDriver& driver) {
    PacketDriver* used = &driver;
    if (options_.capture) {
        recorder_ = std::make_unique<RecordingDriver>(driver, options_.capture);
        used = recorder_.get();
    }
    if (options_.frameLog) {
        frameLogger_ = std::make_unique<FrameLogDriver>(*used, options_.frameLog);
        used = frameLogger_.get();
    }
    context_ = std::make_unique<Context>(*used, options_.timing);
    context_->link.setDiagnosticSink(nullptr); // console diagnostics stay quiet on the CLI
    context_->enumerateAdapters(options_.interfaces);
}

Environment::~Environment() {
    context_->link.close();
    context_.reset();
}

std::string Environment::unknownInterfaceError() {
    if (options_.interfaces.empty())
        return {};
    const auto adapters = context_->driver.listAdapters();
    std::string unknown;
    for (const std::string& name : options_.interfaces) {
        if (std::any_of(adapters.begin(), adapters.end(),
                        [&](const AdapterInfo& a) { return a.answersTo(name); }))
            continue;
        unknown += (unknown.empty() ? "'" : ", '") + ShortenedForMessage(name) + "'";
    }
    if (unknown.empty())
        return {};
    std::string existing;
    for (const AdapterInfo& a : adapters)
        existing += (existing.empty() ? "" : ", ") + a.name;
    return "no Ethernet adapter named " + unknown + "; " +
           (existing.empty() ? std::string("this machine has none")
                             : "the adapters here are: " + existing);
}

void Environment::setPermissionReporter(std::function<void(const std::string&)> reporter) {
    context_->link.setPermissionReporter(std::move(reporter));
}

} // namespace korvane
