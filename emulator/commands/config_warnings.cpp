#include "emulator/commands/config_warnings.h"

#include <algorithm>
#include <cstring>

#include "emulator/commands/commissioning.h"
#include "emulator/text/shown_text.h"

namespace tovihost {
namespace {

// The [tovi] keys the driver reads.
constexpr const char* kSettingKeys[] = {"log_file", "debug", "check_sum"};

bool SameName(const std::string& a, const std::string& b) { return Lower(a) == Lower(b); }

std::string At(const IniText& file, std::uint32_t line) { return file.path() + ":" + std::to_string(line) + ": "; }

// Edits (insertions, deletions, replacements, swaps of neighbours) from a to b.
std::size_t Distance(const std::string& a, const std::string& b) {
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        for (std::size_t j = 1; j <= b.size(); ++j) {
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
            }
        }
    }
    return d[a.size()][b.size()];
}

void UnreadSections(const ConfigWalk& walk, std::vector<std::string>& out) {
    const IniText& file = walk.parameters();
    for (const IniSection& section : file.sections()) {
        if (SameName(section.name, "tovi") || SameName(section.name, "modules")) continue;
        const bool named = std::any_of(walk.modules().begin(), walk.modules().end(),
                                       [&](const ModuleEntry& m) { return SameName(m.name, section.name); });
        if (named) continue;
        out.push_back(At(file, section.header_number) + "section [" + ShownCp1250(section.name) +
                      "] names no module of [modules]: the driver does not read its channels");
    }
    for (const IniRepeat& repeat : file.repeats()) {
        out.push_back(At(file, repeat.line) + "section [" + ShownCp1250(repeat.name) +
                      "] appears a second time: the driver reads only the first, line " +
                      std::to_string(repeat.first_line) + ", and none of the lines after this one");
    }
}

void UnknownSettings(const ConfigWalk& walk, std::vector<std::string>& out) {
    const IniSection* settings = walk.parameters().Find("tovi");
    if (settings == nullptr) return;
    for (const IniLine& line : settings->lines) {
        const std::string key = Lower(line.key);
        if (std::any_of(std::begin(kSettingKeys), std::end(kSettingKeys), [&](const char* k) { return key == k; })) {
            continue;
        }
        std::string hint;
        for (const char* known : kSettingKeys) {
            if (Distance(key, known) <= 2) hint = std::string(": did you mean ") + known + "?";
        }
        out.push_back(At(walk.parameters(), line.number) + "[tovi] holds \"" + ShownCp1250(line.key) +
                      "\", which the driver does not know (it reads log_file, debug, check_sum) and ignores" + hint);
    }
}

std::string DeviceWords(std::int64_t number, bool subdevice) {
    std::string words = std::string(subdevice ? "sub-device " : "device ") + std::to_string(number);
    if (const auto info = DeviceInfo(number)) {
        words += " \"" + ShownUtf8(std::string(info->name, strnlen(info->name, DEVSIM_MAX_DEVICE_NAME))) + "\"";
    }
    return words;
}

void SharedDevices(const ConfigWalk& walk, const Plant& plant, bool have_devices, std::vector<std::string>& out) {
    const auto& modules = plant.modules();
    for (std::size_t i = 0; i < modules.size(); ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            const PlantModule& here = modules[i];
            const PlantModule& first = modules[j];
            std::string what;
            if (have_devices && here.device_number >= 0 && here.device_number == first.device_number) {
                what = "binds to " + DeviceWords(here.device_number, here.device_number != here.listed_device);
            } else if (!have_devices && here.device == first.device && here.subdevice == first.subdevice) {
                what = "names the same device text \"" + ShownCp1250(here.device) + "\"" +
                       (here.subdevice.empty() ? "" : " and sub-device text \"" + ShownCp1250(here.subdevice) + "\"");
            } else {
                continue;
            }
            out.push_back(At(walk.parameters(), here.line) + "module " + ShownCp1250(here.name) + " " + what +
                          ", as module " + ShownCp1250(first.name) + " (line " + std::to_string(first.line) +
                          ") does: both drive one device");
            break;
        }
    }
}

void UnaddressedDisplays(const ConfigWalk& walk, const Plant& plant, std::vector<std::string>& out) {
    for (const PlantModule& m : plant.modules()) {
        if (!IsDisplayModule(plant, m) || !DisplayAddress(m.device, m.subdevice).empty()) continue;
        out.push_back(At(walk.parameters(), m.line) + "display module " + ShownCp1250(m.name) +
                      ": neither its device nor its sub-device text holds \"Address=\": its frames go out "
                      "without an address, and a real display does not answer them");
    }
}

void Utf8Text(const IniText& file, std::vector<std::string>& out) {
    std::uint32_t first = 0;
    for (std::uint32_t number = 1; number <= file.line_count(); ++number) {
        const std::string line = file.RawLine(number);
        if (!LooksLikeUtf8(line)) {
            const bool ascii = std::all_of(line.begin(), line.end(), [](char c) { return (c & 0x80) == 0; });
            if (!ascii) return;  // a byte above ASCII outside a UTF-8 sequence: not UTF-8
            continue;
        }
        if (first == 0) first = number;
    }
    if (first == 0) return;
    // The first word that holds a multi-byte sequence, as written and as the driver reads it.
    const std::string line = file.RawLine(first);
    std::size_t at = 0;
    while (at < line.size() && (line[at] & 0x80) == 0) ++at;
    std::size_t begin = at;
    while (begin > 0 && line[begin - 1] != ' ' && line[begin - 1] != '=' && line[begin - 1] != ',' &&
           line[begin - 1] != '[' && line[begin - 1] != '\t') {
        --begin;
    }
    std::size_t end = at;
    while (end < line.size() && line[end] != ' ' && line[end] != '=' && line[end] != ',' && line[end] != ']' &&
           line[end] != '\t') {
        ++end;
    }
    const std::string word = line.substr(begin, std::min<std::size_t>(end - begin, 80));
    out.push_back(At(file, first) + "the file looks like UTF-8, but the driver reads it as Windows-1250: \"" +
                  ShownUtf8(word) + "\" is read as \"" + ShownCp1250(word) + "\"; save the file as Windows-1250");
}

}  // namespace

bool LooksLikeUtf8(const std::string& text) {
    bool multi_byte = false;
    for (std::size_t at = 0; at < text.size();) {
        if ((text[at] & 0x80) == 0) {
            ++at;
            continue;
        }
        const std::size_t length = Utf8SequenceLength(text, at);
        if (length == 0) return false;
        multi_byte = true;
        at += length;
    }
    return multi_byte;
}

std::vector<std::string> ConfigWarnings(const ConfigWalk& walk, const Plant& plant, bool have_devices) {
    std::vector<std::string> out;
    UnreadSections(walk, out);
    UnknownSettings(walk, out);
    SharedDevices(walk, plant, have_devices, out);
    UnaddressedDisplays(walk, plant, out);
    Utf8Text(walk.parameters(), out);
    return out;
}

}  // namespace tovihost
