#pragma once

// Launch Device: for each selected device, ask the device for its current
// settings and open its built-in web page at the address and port it really
// uses, over HTTP when that is on, else over HTTPS.

#include "base/operator.hpp"
#include "base/sync.hpp"
#include "devices/device_list.hpp"
#include "protocol/config_blocks.hpp"
#include "protocol/context.hpp"

#include <optional>
#include <span>
#include <string>
#include <vector>

namespace korvane {

// How a URL reaches a browser: the desktop's URL handler, xdg-open, or only printed.
class UrlOpener {
  public:
    virtual ~UrlOpener() = default;
    virtual bool openUrl(const std::string& url) = 0;
};

// A port is on when it lies from 1 to 65534 (0 and 65535 mean off).
bool WebPortEnabled(std::uint16_t port);
// "http://%s:%d/" with the HTTP port when it is on, else "https://%s:%d/"
// with the HTTPS port when that is on, else nothing. The block's IP address
// is used as it is (no alternate-address rule).
std::optional<std::string> WebPageUrl(const SettingsBlock& block);

struct LaunchTarget {
    int deviceIndex = -1;
    MacAddress mac;
    int adapterIndex = 0;
    std::string serialText;
};

enum class LaunchOutcome {
    Opened,
    OpenFailed, // the opener refused the URL
    ServiceOff, // both ports off: nothing to open
    NoSettings, // the settings read got no reply: skipped
    NoReply,    // the password check got no reply: the operation ended here
    NotReached, // after a device that did not answer
};

struct LaunchReport {
    LaunchTarget target;
    LaunchOutcome outcome = LaunchOutcome::NotReached;
    std::string url; // when one was formed
};

// The selected rows' devices in list order (rows that match no device are
// left out); each lookup goes through the CurrentDeviceAddress. Nothing
// while a search runs. Owner's thread.
std::vector<LaunchTarget> SelectedLaunchTargets(DeviceList& list);

// The launch itself; may run on any thread. A device that does not answer
// the password check ends the whole operation; the pause between pages is
// Timing::betweenWebPages. `op` shows the wait cursor during the settings read.
std::vector<LaunchReport> LaunchDevices(Context& ctx, std::span<const LaunchTarget> targets,
                                        UrlOpener& opener, Operator* op = nullptr,
                                        StopToken* stop = nullptr);

// Both in one, on the owner's thread (the double click and the Launch Device command).
std::vector<LaunchReport> LaunchSelectedDevices(Context& ctx, DeviceList& list, UrlOpener& opener,
                                                Operator* op = nullptr, StopToken* stop = nullptr);

} // namespace korvane
