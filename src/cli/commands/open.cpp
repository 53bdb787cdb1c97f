// korvane open DEVICE...: the devices' web pages, in a browser or printed.

#include "app/environment.hpp"
#include "base/platform.hpp"
#include "cli/command.hpp"
#include "cli/device_command.hpp"
#include "cli/options.hpp"
#include "cli/resolver.hpp"
#include "devices/device_table.hpp"
#include "devices/web_page.hpp"

#include <algorithm>
#include <memory>
#include <ostream>
#include <vector>

namespace korvane::cli {

namespace {

struct OpenOptions {
    std::vector<std::string> devices;
    bool print = false;
};

class PrintingOpener : public UrlOpener {
  public:
    explicit PrintingOpener(std::ostream& out) : out_(out) {}
    bool openUrl(const std::string& url) override {
        out_ << url << "\n";
        return true;
    }

  private:
    std::ostream& out_;
};

// The desktop's URL handler, started without a shell so no URL text is
// interpreted. Remembers whether there was a handler at all.
class DesktopOpener : public UrlOpener {
  public:
    explicit DesktopOpener(std::ostream& out) : out_(out) {}
    bool openUrl(const std::string& url) override {
        out_ << url << "\n" << std::flush;
        const platform::UrlOpen result = platform::OpenUrlOnDesktop(url);
        if (result == platform::UrlOpen::NoOpener)
            noBrowser_ = true;
        return result == platform::UrlOpen::Opened;
    }
    bool noBrowser() const { return noBrowser_; }

  private:
    std::ostream& out_;
    bool noBrowser_ = false;
};

const char* launchProblem(LaunchOutcome outcome) {
    switch (outcome) {
    case LaunchOutcome::Opened:
        return nullptr;
    case LaunchOutcome::OpenFailed:
        return "the URL could not be opened";
    case LaunchOutcome::ServiceOff:
        return "HTTP and HTTPS are both switched off";
    case LaunchOutcome::NoSettings:
        return "no reply to the settings read; skipped";
    case LaunchOutcome::NoReply:
        return "no reply; the devices after it were not opened";
    case LaunchOutcome::NotReached:
        return "not opened";
    }
    return "not opened";
}

int runOpen(Invocation& inv, const OpenOptions& o) {
    const Resolution found = ResolveDevices(inv.env, o.devices);
    if (found.status != kExitOk) {
        inv.error() << found.error << "\n";
        return found.status;
    }
    // The pages open in the list's order (by serial number), whatever the
    // order of the names.
    std::vector<LaunchTarget> targets;
    for (const DeviceIdentity& d : found.devices)
        targets.push_back({-1, d.mac(), d.adapterIndex(), SerialText(d.mac())});
    std::stable_sort(targets.begin(), targets.end(), [](const auto& a, const auto& b) {
        return a.mac.serialNumber() < b.mac.serialNumber();
    });
    PrintingOpener printer(inv.io.out);
    DesktopOpener desktop(inv.io.out);
    UrlOpener& opener = o.print ? static_cast<UrlOpener&>(printer) : desktop;
    const auto reports = LaunchDevices(inv.env.context(), targets, opener);
    int status = kExitOk;
    for (const LaunchReport& report : reports) {
        if (const char* problem = launchProblem(report.outcome)) {
            inv.error() << report.target.serialText << ": " << problem << "\n";
            status = kExitFailure;
        }
    }
    if (desktop.noBrowser())
        inv.error() << "no browser could be started here (" << platform::UrlOpenerName()
                    << "); 'korvane open --print DEVICE...' prints the URLs instead\n";
    return status;
}

} // namespace

void DeclareOpen(CLI::App& app, Chosen& chosen) {
    auto o = std::make_shared<OpenOptions>();
    CLI::App* cmd = app.add_subcommand(
        "open", "open the devices' web pages, at the address and port each really uses");
    AddDevices(*cmd, o->devices)->required();
    cmd->add_flag("--print", o->print, "only print the URLs, one per line");
    OnChosen(*cmd, chosen, [o](Invocation& inv) { return runOpen(inv, *o); });
}

} // namespace korvane::cli
