#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "emulator/commands/commands.h"
#include "emulator/plant/plant.h"
#include "emulator/text/shown_text.h"

namespace tovihost {
namespace {

bool Listed(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

}  // namespace

std::string Arguments::Value(const std::string& name, const std::string& fallback) const {
    const auto found = options.find(name);
    return found == options.end() || found->second.empty() ? fallback : found->second.back();
}

const std::vector<std::string>& Arguments::Values(const std::string& name) const {
    static const std::vector<std::string> none;
    const auto found = options.find(name);
    return found == options.end() ? none : found->second;
}

bool ParseArguments(const std::string& command, const std::vector<std::string>& arguments, const ArgumentRules& rules,
                    Arguments& parsed, std::string& error) {
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument.size() < 2 || argument[0] != '-' || argument == "--") {
            parsed.positional.push_back(argument);
            continue;
        }
        const auto equals = argument.find('=');
        const std::string name = argument.substr(0, equals);
        if (Listed(rules.with_value, name)) {
            if (equals != std::string::npos) {
                parsed.options[name].push_back(argument.substr(equals + 1));
            } else if (i + 1 < arguments.size()) {
                parsed.options[name].push_back(arguments[++i]);
            } else {
                error = "tovihost " + command + ": option " + name + " needs a value";
                return false;
            }
        } else if (Listed(rules.optional_value, name)) {
            parsed.options[name].push_back(equals == std::string::npos ? "" : argument.substr(equals + 1));
        } else if (Listed(rules.switches, name) && equals == std::string::npos) {
            parsed.options[name].push_back("");
        } else {
            error = "tovihost " + command + ": unknown option " + argument;
            return false;
        }
    }
    return true;
}

std::optional<long long> ParseCount(const std::string& text, long long minimum, long long maximum) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 18) {
        return std::nullopt;
    }
    const long long value = std::strtoll(text.c_str(), nullptr, 10);
    if (value < minimum || value > maximum) return std::nullopt;
    return value;
}

bool ReadTimeout(const std::string& command, const Arguments& arguments, long long& timeout_ms) {
    if (!arguments.Has("--timeout")) return true;
    const auto value = ParseCount(arguments.Value("--timeout"), 1, 3600000);
    if (!value) {
        std::fprintf(stderr, "tovihost %s: --timeout takes milliseconds from 1 to 3600000, not \"%s\"\n",
                     command.c_str(), arguments.Value("--timeout").c_str());
        return false;
    }
    timeout_ms = *value;
    return true;
}

bool LoadDevicesFor(const std::string& command, const Arguments& arguments, const std::string& param_path,
                    std::string& loaded) {
    std::string path = arguments.Has("--devices") ? arguments.Value("--devices") : DefaultDeviceSet(param_path);
    loaded.clear();
    if (path.empty() || path == "none") {
        UnloadDeviceSet();
        return true;
    }
    std::string error;
    if (!LoadDeviceSet(path, error)) {
        std::fprintf(stderr, "tovihost %s: device set %s\n", command.c_str(), ShownUtf8(error).c_str());
        return false;
    }
    loaded = path;
    return true;
}

}  // namespace tovihost
