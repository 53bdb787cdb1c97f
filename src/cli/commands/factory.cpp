// korvane factory serial DEVICE NUMBER: the serial number, and with it the MAC.

#include "app/environment.hpp"
#include "cli/config_steps.hpp"
#include "cli/device_command.hpp"
#include "cli/options.hpp"

#include <memory>
#include <ostream>

namespace korvane::cli {

namespace {

struct FactoryOptions {
    std::string number;
    bool force = false;
};

// Stricter than the dialog's conversion: a typing error must not become a MAC address.
CLI::Validator serialNumberCheck() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            if (!text.empty() && text.size() <= 10 &&
                text.find_first_not_of("0123456789") == std::string::npos &&
                std::stoull(text) <= 0xFFFFFFFFull)
                return {};
            return "NUMBER is a serial number from 0 to 4294967295, not '" + text + "'";
        },
        "", "serial number");
}

int runSerial(Invocation& inv, const DeviceIdentity& device, CliOperator& op,
              const FactoryOptions& o) {
    if (!FactoryCommandEnabled(FactoryCommand::SerialNumber, 1, device.mac())) {
        inv.error() << "the serial number can be set only on a device whose MAC lies "
                    << "between 02-19-A7-00-00-00 and 02-19-A7-00-01-FF (this one is "
                    << device.mac().toString() << ")\n";
        return kExitFailure;
    }

    const std::string number = o.number;
    const SerialNumberResult r =
        RunSetSerialNumber(inv.env.context(), device, op,
                           [&](std::string_view) { return std::optional<std::string>(number); });
    switch (r.end) {
    case ConfigEnd::Written:
        inv.io.out << "Serial number " << ParseSerialNumberText(number) << " written: MAC "
                   << r.newMac.toString() << "\n";
        return kExitOk;
    case ConfigEnd::NoReply:
    case ConfigEnd::Cancelled:
        return GateEnd(op, r.end);
    case ConfigEnd::Declined:
        op.error("nothing written");
        return kExitFailure;
    case ConfigEnd::WriteFailed:
        if (static_cast<std::int16_t>(r.writeStatus) < 0)
            op.error("the device refused the factory block (status " +
                     std::to_string(r.writeStatus) + ")");
        return kExitFailure;
    default:
        return kExitFailure;
    }
}

} // namespace

void DeclareFactory(CLI::App& app, Chosen& chosen) {
    CLI::App* factory = app.add_subcommand("factory", "factory identity commands");
    factory->require_subcommand(1);
    auto o = std::make_shared<FactoryOptions>();
    CLI::App* cmd = factory->add_subcommand("serial", "write the serial number (and so the MAC)");
    DeviceCommand command;
    command.access = DeviceAccess::Write;
    command.prepare = [o](Invocation&, CliAnswers& answers) {
        answers.force = o->force;
        return kExitOk;
    };
    command.run = [o](Invocation& inv, const DeviceIdentity& device, CliOperator& op) {
        return runSerial(inv, device, op, *o);
    };
    DeclareDeviceCommand(*cmd, chosen, std::move(command));
    cmd->add_option("NUMBER", o->number, "the new serial number")
        ->required()
        ->check(serialNumberCheck());
    cmd->add_flag("--force", o->force,
                  "write a number whose MAC address another device on the segment has, or that "
                  "lies outside 02-19-A7-00-00-00 to 02-19-A7-00-01-FF");
}

} // namespace korvane::cli
