// korvane info DEVICE: the information the desktop program's pane shows.

#include "app/environment.hpp"
#include "cli/device_command.hpp"
#include "cli/device_json.hpp"
#include "cli/options.hpp"
#include "devices/device_list.hpp"
#include "devices/device_table.hpp"
#include "devices/lan_address.hpp"
#include "protocol/config_blocks.hpp"

#include <memory>
#include <ostream>

namespace korvane::cli {

namespace {

int runInfo(Invocation& inv, DeviceIdentity device, bool json) {
    device.setSerialText(SerialText(device.mac()));
    Context& ctx = inv.env.context();
    // As a search reads it: the device's LAN address, 0.0.0.0 when it does not answer.
    const std::uint32_t address =
        ctx.useAdapterOf(device.adapterIndex()) ? ReadLanAddress(ctx, device.mac()) : 0;
    const std::string ip = FormatIPv4(address);
    if (json) {
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
    auto json = std::make_shared<bool>(false);
    CLI::App* cmd = app.add_subcommand(
        "info", "the information of one device: serial number, hardware and firmware version, "
                "LAN IP address");
    DeviceCommand command;
    command.run = [json](Invocation& inv, const DeviceIdentity& device, CliOperator&) {
        return runInfo(inv, device, *json);
    };
    DeclareDeviceCommand(*cmd, chosen, std::move(command));
    AddJsonFlag(*cmd, *json, "the device");
}

} // namespace korvane::cli
