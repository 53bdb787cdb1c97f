#include "cli/completion.hpp"

#include <CLI/CLI.hpp>

#include <functional>
#include <map>
#include <set>

namespace korvane::cli {

namespace {

// The words of an option's value that bash can offer: the choices of a
// "{a,b}" type, or files.
enum class ValueKind { None, Choices, File };

ValueKind valueKind(const CLI::Option& option, std::string& choices) {
    const std::string type = option.get_type_name();
    const auto open = type.find('{');
    const auto close = type.find('}', open);
    if (open != std::string::npos && close != std::string::npos) {
        choices = type.substr(open + 1, close - open - 1);
        for (char& c : choices)
            if (c == ',')
                c = ' ';
        return ValueKind::Choices;
    }
    if (type.find("FILE") != std::string::npos || type.find("IMAGE") != std::string::npos)
        return ValueKind::File;
    return ValueKind::None;
}

std::string join(const std::set<std::string>& words) {
    std::string out;
    for (const auto& w : words)
        out += (out.empty() ? "" : " ") + w;
    return out;
}

} // namespace

std::string BashCompletion(const CLI::App& app) {
    std::map<std::string, std::set<std::string>> wordsAt; // command path -> words
    std::set<std::string> transitions;                    // "path word" that enter a command
    std::set<std::string> filePaths;                      // paths with a file positional
    std::map<std::string, std::string> optionValues;      // "--pacing" -> "shared per-device"
    std::set<std::string> fileOptions;

    std::function<void(const CLI::App&, const std::string&)> walk = [&](const CLI::App& at,
                                                                        const std::string& path) {
        auto& words = wordsAt[path];
        for (const CLI::Option* option : at.get_options()) {
            if (option->get_group().empty())
                continue; // hidden
            if (!option->nonpositional()) {
                std::string choices;
                if (valueKind(*option, choices) == ValueKind::File)
                    filePaths.insert(path);
                continue;
            }
            for (const auto& name : option->get_lnames())
                words.insert("--" + name);
            for (const auto& name : option->get_snames())
                words.insert("-" + name);
            if (option->get_type_size_max() == 0)
                continue; // a flag
            std::string choices;
            const ValueKind kind = valueKind(*option, choices);
            for (const auto& name : option->get_lnames()) {
                if (kind == ValueKind::Choices)
                    optionValues["--" + name] = choices;
                else if (kind == ValueKind::File)
                    fileOptions.insert("--" + name);
            }
        }
        for (const CLI::App* sub : at.get_subcommands([](const CLI::App*) { return true; })) {
            if (sub->get_name().empty()) {
                walk(*sub, path); // an option group: its options are the command's
                continue;
            }
            words.insert(sub->get_name());
            const std::string subPath =
                path.empty() ? sub->get_name() : path + " " + sub->get_name();
            transitions.insert(path + "|" + sub->get_name());
            walk(*sub, subPath);
        }
    };
    walk(app, "");
    // Global options are valid after any command.
    const std::set<std::string> global = wordsAt[""];

    std::string s = "# bash completion for korvane, written by 'korvane --bash-completion'\n"
                    "_korvane() {\n"
                    "    local cur prev path w i words\n"
                    "    cur=\"${COMP_WORDS[COMP_CWORD]}\"\n"
                    "    prev=\"${COMP_WORDS[COMP_CWORD-1]}\"\n"
                    "    path=\"\"\n"
                    "    for ((i = 1; i < COMP_CWORD; i++)); do\n"
                    "        w=\"${COMP_WORDS[i]}\"\n"
                    "        case \"$path|$w\" in\n";
    std::string cases;
    for (const auto& t : transitions)
        cases += (cases.empty() ? "" : "|") + ("\"" + t + "\"");
    s += "        " + cases +
         ")\n"
         "            path=\"${path:+$path }$w\" ;;\n"
         "        esac\n"
         "    done\n"
         "    case \"$prev\" in\n";
    for (const auto& [option, choices] : optionValues)
        s += "    " + option + ")\n        COMPREPLY=($(compgen -W \"" + choices +
             "\" -- \"$cur\"))\n        return ;;\n";
    std::string pattern;
    for (const auto& o : fileOptions)
        pattern += (pattern.empty() ? "" : "|") + o;
    if (!pattern.empty())
        s += "    " + pattern +
             ")\n        compopt -o filenames 2>/dev/null\n"
             "        COMPREPLY=($(compgen -f -- \"$cur\"))\n        return ;;\n";
    s += "    esac\n"
         "    case \"$path\" in\n";
    for (const auto& [path, words] : wordsAt) {
        std::set<std::string> all = words;
        if (!path.empty())
            for (const auto& g : global)
                if (g.rfind("-", 0) == 0 && g != "--version")
                    all.insert(g);
        s += "    \"" + path + "\")\n        words=\"" + join(all) + "\" ;;\n";
    }
    s += "    *)\n        words=\"\" ;;\n"
         "    esac\n"
         "    COMPREPLY=($(compgen -W \"$words\" -- \"$cur\"))\n";
    std::string files;
    for (const auto& p : filePaths)
        files += (files.empty() ? "" : "|") + ("\"" + p + "\"");
    if (!files.empty())
        s += "    case \"$path\" in\n    " + files +
             ")\n        if [[ \"$cur\" != -* ]]; then\n"
             "            compopt -o filenames 2>/dev/null\n"
             "            COMPREPLY+=($(compgen -f -- \"$cur\"))\n"
             "        fi ;;\n    esac\n";
    s += "}\ncomplete -F _korvane korvane\n";
    return s;
}

} // namespace korvane::cli
