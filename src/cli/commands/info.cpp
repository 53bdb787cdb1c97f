// korvane info DEVICE: the information the desktop program's pane shows.

#include "app/environment.hpp"
#include "cli/command.hpp"
#include "cli/device_json.hpp"
#include "cli/options.hpp"
#include "cli/resolver.hpp"
#include "devices/device_list.hpp"
#include "devices/device_table.hpp"
#include "devices/lan_address.hpp"
#include "protocol/config_blocks.hpp"

#include <memory>
#include <ostream>

namespace korvane::cli {

namespace {

struct InfoOptions {
    std::string device;
    bool json = false;
};

int runInfo(Invocation& inv, const InfoOptions& o) {
    const Resolution found = ResolveDevices(inv.env, {o.device});
    if (found.status != kExitOk) {
        inv.error() << found.error << "\n";
        return found.status;
    }
    DeviceIdentity device = found.devices.front();
    device.setSerialText(SerialText(device.mac()));
    Context& ctx = inv.env.context();
    // As a search reads it: the device's LAN address, 0.0.0.0 when it does not answer.
    const std::uint32_t address =
        ctx.useAdapterOf(device.adapterIndex()) ? ReadLanAddress(ctx, device.mac()) : 0;
    const std::string ip = FormatIPv4(address);
    if (o.json) {
        PrintJson(inv.io.out, DeviceObject(ctx, device, SerialText(device.mac()), ip));
        return kExitOk;
    }
    std::string text = DeviceInformationText(device, ip);
    for (std::size_t at = 0; (at = text.find("\r\n", at)) != std::string::npos;)
        text.erase(at, 1);
    inv.io.out << text << "\n";
    return kExitOk;
}

} // namespace

void DeclareInfo(CLI::App& app, Chosen& chosen) {
    auto o = std::make_shared<InfoOptions>();
    CLI::App* cmd = app.add_subcommand(
        "info", "the information of one device: serial number, hardware and firmware version, "
                "LAN IP address");
    cmd->add_option("DEVICE", o->device, "the device: serial number or MAC address")
        ->required()
        ->check(DeviceCheck());
    AddJsonFlag(*cmd, o->json, "the device");
    OnChosen(*cmd, chosen, [o](Invocation& inv) { return runInfo(inv, *o); });
}

} // namespace korvane::cli
