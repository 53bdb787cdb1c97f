#include "cli/cli.hpp"

#include "app/environment.hpp"
#include "base/printable_text.hpp"
#include "cli/command.hpp"
#include "cli/completion.hpp"
#include "link/capture_recorder.hpp"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>

namespace korvane::cli {

std::ostream& Invocation::error() {
    return io.err << name << ": ";
}

int Invocation::usageError(const std::string& text) {
    error() << text << "\n";
    io.err << "Run '" << name << " --help' for more information.\n";
    return kExitUsage;
}

void OnChosen(CLI::App& command, Chosen& chosen, Action action) {
    std::string name = "korvane";
    for (const CLI::App* app = &command; app->get_parent(); app = app->get_parent())
        name.insert(7, " " + app->get_name());
    command.callback([&chosen, name, action = std::move(action)] {
        chosen.action = action;
        chosen.name = name;
    });
}

namespace {

// Option groups are nameless subcommands to CLI11; commands have names.
bool isCommand(const CLI::App* app) {
    return !app->get_name().empty();
}

constexpr const char* kFooter =
    "DEVICE: a serial number as search lists it (2801795073), or a MAC address in\n"
    "dash or colon form (02-19-A7-00-00-01, 02:19:a7:00:00:01).\n"
    "Passwords are never given on the command line: the current one comes from\n"
    "--password-file FILE, the environment variable KORVANE_PASSWORD or a prompt on\n"
    "a terminal; a new one from --new-password-file FILE or a prompt asked twice.\n"
    "Global options (--simulate, --interface, --capture, --verbose, --relay) may\n"
    "stand before or after the command. 'korvane help COMMAND' describes one command.\n"
    "Without root, korvane reaches the adapters through korvane-relay, the one\n"
    "installed program that holds the raw-frame capability.\n"
    "\n"
    "Exit status:\n"
    "  0  done (for search: every adapter that could be opened was searched, even\n"
    "     when no device answered)\n"
    "  1  the operation failed: no reply, refused, a device not found...\n"
    "  2  wrong arguments: nothing was sent to any device\n"
    "  3  nothing could be searched: no Ethernet adapter, none could be opened (raw\n"
    "     access refused, adapter down), or no adapter has the --interface name\n"
    "  130 interrupted (Ctrl-C, SIGTERM): a firmware upgrade lets the units in\n"
    "     transfer finish and starts no other, settings apply the device in\n"
    "     progress; a second interrupt aborts it";

constexpr const char* kExamples =
    "  korvane search                      list the devices on every adapter\n"
    "  korvane --simulate 8 search --json  try it on a simulated LAN of 8 devices\n"
    "  korvane info 2801795073             one device's information\n"
    "  korvane settings set 2801795073 --static --ip 192.168.1.150 --mask 255.255.255.0\n"
    "  korvane firmware upgrade fw.bin --all --password-file passwords.txt\n";

constexpr const char* kCommandFooter =
    "Global options (--simulate N, --interface NAME, --capture FILE, --verbose,\n"
    "--relay, --no-relay) may stand before or after the command. Exit status: 0\n"
    "done, 1 the operation failed, 2 wrong arguments (nothing was sent), 3 nothing\n"
    "could be searched, 130 interrupted; see 'korvane --help'.";

struct GlobalOptions {
    std::optional<int> simulate;
    std::vector<std::string> interfaces;
    std::string capture;
    bool verbose = false;
    std::optional<bool> relay; // --relay / --no-relay
    bool helpAll = false;      // answered before parsing, where it stands alone
    double timeScale = 1.0;    // every wait of the timing table multiplied by this (tests)
};

struct Program {
    CLI::App app{"Find Korvane network devices on every local Ethernet segment and manage "
                 "them: settings, password, firmware, web page.",
                 "korvane"};
    GlobalOptions global;
    Chosen chosen;
    std::vector<std::string> helpTopic; // korvane help COMMAND [SUBCOMMAND]
};

void declare(Program& p) {
    CLI::App& app = p.app;
    // On Windows too, an argument that starts with / is a path, never an
    // option; set before the commands, which take it over when declared.
    app.allow_windows_style_options(false);
    // Global options stay valid after the command: each command hands what
    // it does not know up to here.
    app.fallthrough();
    app.require_subcommand(1);
    app.footer(kFooter);
    // Answered before parsing (see parse()); declared for the help text.
    app.add_flag("--help-all", p.global.helpAll, "print the help of every command and end");
    app.set_version_flag("-V,--version", "korvane " KORVANE_VERSION_TEXT,
                         "print the version and end");
    app.add_option("--simulate", p.global.simulate,
                   "work on a simulated LAN of N emulated devices instead of the adapters; it "
                   "is made afresh in every run, so nothing written to it is kept (korvane-devsim "
                   "keeps a LAN's state between commands)")
        ->type_name("N")
        ->check(CLI::Validator(
            [](std::string& text) -> std::string {
                int n = -1;
                if (!CLI::detail::lexical_cast(text, n) || n < 0 || n > kMaxSimulatedDevices)
                    return "the simulated LAN holds from 0 to " +
                           std::to_string(kMaxSimulatedDevices) +
                           " devices (as many as one discovery lists), not " + text;
                return {};
            },
            "", "device count"));
    app.add_option("--interface", p.global.interfaces, "use only this adapter (repeatable)")
        ->type_name("NAME")
        ->allow_extra_args(false);
    app.add_option("--capture", p.global.capture,
                   "record every frame sent and received to FILE (pcap, at most 256 MiB), "
                   "for Wireshark and its korvane dissector")
        ->type_name("FILE");
    app.add_option("--time-scale", p.global.timeScale, "every wait multiplied by F (tests)")
        ->check(CLI::Range(0.001, 100.0))
        ->group(""); // hidden, as the desktop program's
    app.add_flag("-v,--verbose", p.global.verbose,
                 "one line per frame sent and received, on standard error");
    CLI::Option* relay = app.add_flag_callback(
        "--relay", [&p] { p.global.relay = true; },
        "reach the adapters through korvane-relay, the program that holds "
        "the raw-frame capability (the default when this one may not open "
        "raw sockets itself; also KORVANE_RELAY=1)");
    CLI::Option* noRelay = app.add_flag_callback(
        "--no-relay", [&p] { p.global.relay = false; },
        "open the adapters with this program's own raw sockets (root, or a build given "
        "cap_net_raw; also KORVANE_RELAY=0)");
    relay->excludes(noRelay);

    DeclareAdapters(app, p.chosen);
    DeclareDiscover(app, p.chosen);
    DeclareSearch(app, p.chosen);
    DeclareInfo(app, p.chosen);
    DeclareOpen(app, p.chosen);
    DeclareSettings(app, p.chosen);
    DeclarePassword(app, p.chosen);
    DeclareFactory(app, p.chosen);
    DeclareFirmware(app, p.chosen);

    CLI::App* help = app.add_subcommand("help", "describe a command: korvane help COMMAND");
    help->add_option("COMMAND", p.helpTopic, "the command (and its subcommand)");
    help->callback([&p] { p.chosen.name = "korvane help"; });

    // A command's help ends with what holds for every command.
    std::function<void(CLI::App&)> footers = [&](CLI::App& command) {
        for (CLI::App* sub : command.get_subcommands(isCommand)) {
            sub->footer(kCommandFooter);
            footers(*sub);
        }
    };
    footers(app);
}

std::string joinWords(const std::vector<std::string>& words) {
    std::string text;
    for (const auto& w : words)
        text += (text.empty() ? "" : " ") + w;
    return text;
}

// The help of `korvane help settings show`; nullopt when no such command.
std::optional<std::string> helpOf(const CLI::App& app, const std::vector<std::string>& topic) {
    const CLI::App* command = &app;
    std::string prefix;
    for (const std::string& name : topic) {
        const auto subs = command->get_subcommands(isCommand);
        const auto it = std::find_if(subs.begin(), subs.end(),
                                     [&](const CLI::App* s) { return s->get_name() == name; });
        if (it == subs.end())
            return std::nullopt;
        prefix += (prefix.empty() ? "" : " ") + command->get_name();
        command = *it;
    }
    return command->help(prefix);
}

// The command the line had reached when it went wrong: "korvane settings set".
std::string reached(const CLI::App& app) {
    std::string name = app.get_name();
    for (const CLI::App* at = &app;;) {
        const auto subs = at->get_subcommands();
        if (subs.empty())
            return name;
        at = subs.front();
        name += " " + at->get_name();
    }
}

// The first word of the line that names no command where one is expected:
// "frobnicate" in `korvane frobnicate`, "delete" in `korvane settings delete`.
std::optional<std::pair<std::string, std::string>>
unknownCommand(const CLI::App& app, const std::vector<std::string>& args) {
    const CLI::App* at = &app;
    std::string path = "korvane";
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& word = args[i];
        // A global option's value is no command.
        if (const CLI::Option* option = app.get_option_no_throw(word);
            option && option->get_type_size_max() > 0) {
            ++i;
            continue;
        }
        if (word.empty() || word[0] == '-')
            continue;
        const auto subs = at->get_subcommands(isCommand);
        if (subs.empty())
            return std::nullopt;
        const auto it = std::find_if(subs.begin(), subs.end(),
                                     [&](const CLI::App* s) { return s->get_name() == word; });
        if (it == subs.end())
            return std::make_pair(word, path);
        at = *it;
        path += " " + word;
    }
    return std::nullopt;
}

// Every option name that some command of the program declares.
void collectOptionNames(const CLI::App& app, std::vector<std::string>& names) {
    for (const CLI::Option* option : app.get_options()) {
        for (const std::string& name : option->get_lnames())
            names.push_back("--" + name);
        for (const std::string& name : option->get_snames())
            names.push_back("-" + name);
    }
    for (const CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; }))
        collectOptionNames(*sub, names);
}

std::size_t editDistance(const std::string& a, const std::string& b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] =
                std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// The first word of the line that looks like an option and is none of the
// program's: "--simlate" in `korvane --simlate 8 search`. It is named before
// anything else is said, or its value would be taken for a command or a
// device, and the message would be about that.
std::optional<std::string> unknownOption(const CLI::App& app,
                                         const std::vector<std::string>& args) {
    std::vector<std::string> known;
    collectOptionNames(app, known);
    for (const std::string& word : args) {
        if (word == "--")
            return std::nullopt; // what follows is no option
        if (word.size() < 2 || word[0] != '-' || (word[1] >= '0' && word[1] <= '9'))
            continue;
        const std::string name = word.substr(0, word.find('='));
        if (std::find(known.begin(), known.end(), name) != known.end())
            continue;
        if (name.size() > 2 && name[1] != '-') // -vV: short flags run together
            continue;
        std::string message = "unknown option " + ShortenedForMessage(name);
        std::string closest;
        // A likely typo is a few edits away, fewer for a short name.
        const std::size_t letters = name.size() - (name[1] == '-' ? 2 : 1);
        std::size_t best = std::min<std::size_t>(4, (letters + 2) / 2 + 1);
        std::size_t bestPrefix = 0;
        for (const std::string& candidate : known) {
            if (candidate.size() <= 2)
                continue;
            // A name cut short (--interf for --interface) is as close as it
            // gets; between equally close names, the longer shared start wins.
            const std::size_t distance =
                candidate.starts_with(name) && name.size() > 3 ? 0 : editDistance(name, candidate);
            const auto shared = static_cast<std::size_t>(
                std::mismatch(name.begin(), name.end(), candidate.begin(), candidate.end()).first -
                name.begin());
            if (distance < best || (distance == best && !closest.empty() && shared > bestPrefix)) {
                best = distance;
                bestPrefix = shared;
                closest = candidate;
            }
        }
        if (!closest.empty())
            message += " (did you mean " + closest + "?)";
        return message;
    }
    return std::nullopt;
}

int usageError(const Program& p, const CLI::ParseError& e, const std::vector<std::string>& args,
               std::ostream& err) {
    std::string where = reached(p.app);
    std::string message = e.what();
    const auto option = unknownOption(p.app, args);
    if (option) {
        message = *option;
    } else if (const auto unknown = unknownCommand(p.app, args)) {
        where = unknown->second;
        message = "no command '" + unknown->first + "'" +
                  (where == "korvane" ? std::string() : " in " + where);
    }
    // Long words are cut where the parser's message echoes them.
    for (const std::string& word : args) {
        if (word.size() <= kEchoLimit)
            continue;
        const std::string shortened = ShortenedForMessage(word);
        for (auto at = message.find(word); at != std::string::npos;
             at = message.find(word, at + shortened.size()))
            message.replace(at, word.size(), shortened);
    }
    // No option takes a password (it would show in the process list and the
    // shell's history): one that looks like it is unknown, and so its value
    // is never echoed; say where a password goes instead.
    const bool passwordOption = std::any_of(args.begin(), args.end(), [](const std::string& w) {
        const std::string name = w.substr(0, w.find('='));
        return name.starts_with("-") && name.find("password") != std::string::npos &&
               !name.ends_with("-file") && !name.ends_with("-book");
    });
    if (passwordOption)
        message += "; passwords are never given on the command line: use --password-file FILE "
                   "(or --new-password-file FILE), KORVANE_PASSWORD or the prompt";
    // --json belongs to the commands that print something: say where it goes.
    const CLI::App* command = &p.app;
    while (!command->get_subcommands().empty())
        command = command->get_subcommands().front();
    if (!option && message.find("--json") != std::string::npos &&
        command->get_option_no_throw("--json"))
        message += " (--json goes after the command: " + where + " --json)";
    err << where << ": " << message << "\n"
        << "Run '" << where << " --help' for more information.\n";
    return kExitUsage;
}

// Parses; returns an exit status when the line is done with (help, version,
// a usage error), nullopt when a command is to run.
std::optional<int> parse(Program& p, const std::vector<std::string>& args, Streams& io) {
    declare(p);
    // Written at build time from the declarations above, and installed.
    if (args.size() == 1 && args[0] == "--bash-completion") {
        io.out << BashCompletion(p.app);
        return kExitOk;
    }
    // The whole manual: the program's help, then every command's.
    if (args.size() == 1 && args[0] == "--help-all") {
        io.out << p.app.help();
        // The footer that every command's help ends with is in the program's
        // help already: once in the manual is enough.
        const std::function<void(CLI::App&)> noFooters = [&](CLI::App& command) {
            for (CLI::App* sub : command.get_subcommands(isCommand)) {
                sub->footer("");
                noFooters(*sub);
            }
        };
        noFooters(p.app);
        const std::function<void(const CLI::App&, std::vector<std::string>)> each =
            [&](const CLI::App& command, std::vector<std::string> path) {
                const auto subs = command.get_subcommands(isCommand);
                if (subs.empty() && !path.empty() && path.front() != "help")
                    io.out << "\nCommand " << joinWords(path) << ":\n  " << *helpOf(p.app, path);
                for (const CLI::App* sub : subs) {
                    auto longer = path;
                    longer.push_back(sub->get_name());
                    each(*sub, longer);
                }
            };
        each(p.app, {});
        io.out << "\nExamples:\n" << kExamples;
        return kExitOk;
    }
    // A help option anywhere on the line asks for help, and help never runs
    // the command: not when it stands after the command's arguments, not
    // when it is --help-all, not when another mistake comes before it.
    const bool helpAsked = std::any_of(args.begin(), args.end(), [](const std::string& a) {
        return a == "-h" || a == "--help" || a == "--help-all";
    });
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    if (helpAsked)
        std::replace(reversed.begin(), reversed.end(), std::string("--help-all"),
                     std::string("--help"));
    try {
        p.app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        io.out << p.app.help();
        return kExitOk;
    } catch (const CLI::CallForAllHelp&) {
        io.out << p.app.help("", CLI::AppFormatMode::All);
        return kExitOk;
    } catch (const CLI::CallForVersion& e) {
        io.out << e.what() << "\n";
        return kExitOk;
    } catch (const CLI::ParseError& e) {
        if (helpAsked) {
            io.out << p.app.help();
            return kExitOk;
        }
        return usageError(p, e, args, io.err);
    }
    if (helpAsked) { // taken as some option's value: still no command runs
        io.out << p.app.help();
        return kExitOk;
    }
    if (p.chosen.name == "korvane help") {
        if (const auto text = helpOf(p.app, p.helpTopic)) {
            io.out << *text;
            return kExitOk;
        }
        io.err << "korvane help: no command '" << p.helpTopic.front() << "'\n"
               << "Run 'korvane --help' for the commands.\n";
        return kExitUsage;
    }
    return std::nullopt;
}

int runChosen(Program& p, Environment& env, Streams io) {
    Invocation inv{env, io, p.chosen.name};
    // Without the capture library no command can do anything but mislead
    // ("No Ethernet adapter found" would hide why).
    if (const std::string why = env.context().driver.unavailableReason(); !why.empty()) {
        inv.error() << why << "\n";
        return kExitNoAdapter;
    }
    const int status = p.chosen.action(inv);
    // What could not be written to standard output (a full disk) is a
    // failure, whatever the command thought of its work. A reader that closed
    // the pipe early (| head) has ended the program by SIGPIPE already,
    // quietly, as for any filter.
    errno = 0;
    io.out.flush();
    if (!io.out) {
        const int error = errno;
        io.err << p.chosen.name << ": cannot write to standard output"
               << (error != 0 ? std::string(": ") + std::strerror(error) : std::string()) << "\n";
        return kExitFailure;
    }
    // An operation that failed because its adapter went away and stayed
    // away says so: "No respond!" alone would blame the device.
    const AdapterLink& link = env.context().link;
    if (status != kExitOk && link.recoverable())
        inv.error() << "adapter " << link.adapterName() << " went away during the operation and "
                    << "did not come back (" << link.receiveEndReason() << ")\n";
    return status;
}

} // namespace

int Run(const std::vector<std::string>& args, Streams streams) {
    Program p;
    if (const auto done = parse(p, args, streams))
        return *done;
    EnvironmentOptions options;
    options.simulate = p.global.simulate.value_or(-1);
    options.interfaces = p.global.interfaces;
    options.access = RequestedLinkAccess(p.global.relay, std::getenv(kRelayEnvironment));
    if (!p.global.capture.empty()) {
        std::string error;
        options.capture = CaptureFile::create(p.global.capture, error);
        if (!options.capture) {
            streams.err << "korvane: --capture: " << error << "\n";
            return kExitUsage;
        }
        options.capture->setMessageSink(
            [&](const std::string& line) { streams.err << "korvane: " << line; });
    }
    options.timing = Timing::defaults().scaled(p.global.timeScale);
    // The frame log and the link's diagnostics write from several threads.
    auto errLock = std::make_shared<std::mutex>();
    std::ostream& err = streams.err;
    if (p.global.verbose) {
        // The log hands over one whole line at a time.
        options.frameLog = [&err, errLock](const std::string& line) {
            std::lock_guard lock(*errLock);
            err << "korvane: " << line << "\n" << std::flush;
        };
    }
    Environment env(std::move(options));
    if (p.global.verbose) // what the link says of its adapters too (gone, reopened)
        env.context().link.setDiagnosticSink([&err, errLock](const std::string& line) {
            std::lock_guard lock(*errLock);
            err << "korvane: " << line << std::flush;
        });
    env.setPermissionReporter([&](const std::string& line) { streams.err << "korvane: " << line; });
    return runChosen(p, env, streams);
}

int RunIn(Environment& env, const std::vector<std::string>& args, Streams streams) {
    Program p;
    if (const auto done = parse(p, args, streams))
        return *done;
    if (!p.global.capture.empty() || p.global.verbose) {
        streams.err << "korvane: --capture and --verbose need the program's own environment\n";
        return kExitUsage;
    }
    return runChosen(p, env, streams);
}

} // namespace korvane::cli
