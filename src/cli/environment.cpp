#include "cli/environment.hpp"

#include "link/capture_recorder.hpp"
#include "link/pcap_driver.hpp"
#include "sim/simulated_lan.hpp"

namespace korvane::cli {

Environment::Environment(GlobalOptions options) : options_(std::move(options)) {
    PacketDriver* driver = nullptr;
    if (simulated()) {
        sim::LanOptions lanOptions;
        lanOptions.devices = options_.simulate;
        lan_ = std::make_unique<sim::SimulatedLan>(lanOptions);
        driver = &lan_->segment();
    } else {
        driver_ = std::make_unique<PcapDriver>();
        driver = driver_.get();
    }
    init(*driver);
}

Environment::Environment(GlobalOptions options, PacketDriver& driver)
    : options_(std::move(options)) {
    init(driver);
}

void Environment::init(PacketDriver& driver) {
    PacketDriver* used = &driver;
    if (options_.capture) {
        recorder_ = std::make_unique<RecordingDriver>(driver, options_.capture);
        used = recorder_.get();
    }
    context_ = std::make_unique<Context>(*used, options_.timing);
    context_->link.setDiagnosticSink(nullptr); // console diagnostics stay quiet on the CLI
    context_->enumerateAdapters(options_.interfaces);
}

Environment::~Environment() {
    context_->link.close();
    context_.reset();
}

void Environment::setPermissionReporter(std::function<void(const std::string&)> reporter) {
    context_->link.setPermissionReporter(std::move(reporter));
}

} // namespace korvane::cli
