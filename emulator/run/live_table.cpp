#include "emulator/run/live_table.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

#include "emulator/host/system_info.h"
#include "emulator/run/runner.h"
#include "emulator/text/shown_text.h"

namespace tovihost {

bool IsTerminal() {
#if defined(_WIN32)
    return _isatty(_fileno(stdout)) != 0;
#else
    const char* term = std::getenv("TERM");
    return isatty(fileno(stdout)) != 0 && (term == nullptr || std::string(term) != "dumb");
#endif
}

// Widths count characters, not bytes.
std::string Pad(const std::string& text, std::size_t width) { return PadColumns(text, width); }

std::string PadLeft(const std::string& text, std::size_t width) {
    return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

namespace {


// The table's columns in the order shown, with their widths; a narrow terminal
// drops them from the least needed on (since good, direction, function, module).
struct TableColumn {
    const char* title;
    std::size_t width;
    int drop_order;  // 0: never dropped
};
constexpr TableColumn kTableColumns[] = {{"channel", 9, 0}, {"module", 14, 4}, {"function", 26, 3}, {"dir", 7, 2},
                                         {"value", 13, 0},  {"status", 9, 0},  {"since good", 10, 1}};
constexpr std::size_t kColumnCount = sizeof kTableColumns / sizeof kTableColumns[0];

constexpr std::size_t kModuleColumn = 1;

std::size_t ColumnWidth(std::size_t i, std::size_t module_width) {
    return i == kModuleColumn ? module_width : kTableColumns[i].width;
}

// Which columns fit in width (all of them when the width is unknown).
std::vector<bool> ShownColumns(std::size_t width, std::size_t module_width) {
    std::vector<bool> shown(kColumnCount, true);
    auto total = [&] {
        std::size_t sum = 0;
        for (std::size_t i = 0; i < kColumnCount; ++i) sum += shown[i] ? ColumnWidth(i, module_width) : 0;
        return sum;
    };
    for (int order = 1; width != 0 && total() > width && order <= 4; ++order) {
        for (std::size_t i = 0; i < kColumnCount; ++i) {
            if (kTableColumns[i].drop_order == order) shown[i] = false;
        }
    }
    return shown;
}

std::string Cells(const std::vector<std::string>& cells, const std::vector<bool>& shown, std::size_t module_width) {
    std::string line;
    for (std::size_t i = 0; i < kColumnCount; ++i) {
        if (!shown[i]) continue;
        if (i == 0) line += PadLeft(cells[i], 7) + "  ";
        else if (i + 1 == kColumnCount) line += cells[i];
        else line += Pad(cells[i], ColumnWidth(i, module_width));
    }
    return line.erase(line.find_last_not_of(' ') + 1);
}

}  // namespace

std::string Runner::RowLine(const Row& row, const std::vector<bool>& shown) const {
    const PlantChannel& c = *row.channel;
    std::string age = "-";
    if (row.ever_good) {
        char text[32];
        std::snprintf(text, sizeof text, "%.1f s", std::chrono::duration<double>(Clock::now() - row.last_good).count());
        age = text;
    }
    return Cells({std::to_string(c.number), ShownCp1250(c.module), c.Function(), row.written ? "write" : "read",
                  row.has_value ? FormatValue(row.value) : "-", row.status, age},
                 shown, module_width_);
}

std::vector<std::string> Runner::TableLines(long long cycle) const {
    const auto [width, height] = TerminalSize();
    const std::vector<bool> shown = ShownColumns(width, module_width_);
    auto fit = [width = width](const std::string& line) { return width == 0 ? line : FitColumns(line, width - 1); };
    std::vector<std::string> lines;
    const std::string of = s_.cycles > 0 ? "/" + std::to_string(s_.cycles) : "";
    char when[64];
    std::snprintf(when, sizeof when, "%.2f s", std::chrono::duration<double>(Clock::now() - start_).count());
    lines.push_back(fit("driver window: " + host_.WindowTitle() + "    cycle " + std::to_string(cycle) + of + " at " +
                        when));
    const std::string error_line = host_.ErrorLine();
    lines.push_back(fit("error line:    " + (error_line.empty() ? std::string("(empty)") : ShownUtf8(error_line))));
    lines.push_back("");
    std::vector<std::string> titles;
    for (const TableColumn& column : kTableColumns) titles.emplace_back(column.title);
    lines.push_back(fit(Cells(titles, shown, module_width_)));
    // A short terminal shows the rows that fit and says how many it left out; the
    // cursor needs one line below the table.
    std::size_t room = rows_.size();
    if (height != 0) {
        const std::size_t free = height > lines.size() + 1 ? height - lines.size() - 1 : 0;
        if (rows_.size() > free) room = free > 0 ? free - 1 : 0;
    }
    for (std::size_t i = 0; i < room; ++i) lines.push_back(fit(RowLine(rows_[i], shown)));
    if (room < rows_.size()) {
        lines.push_back(fit("(" + std::to_string(rows_.size() - room) + " more channels: a taller window, or --plain)"));
    }
    return lines;
}

void Runner::Show(long long cycle) {
    std::lock_guard<std::mutex> guard(OutputMutex());
    if (terminal_ && s_.progress) {
        const auto now = Clock::now();
        if (now - progress_drawn_ < std::chrono::milliseconds(100)) return;
        progress_drawn_ = now;
        std::printf("\r%s\x1b[K", s_.progress().c_str());
        std::fflush(stdout);
        return;
    }
    if (terminal_) {
        if (drawn_lines_ != 0) std::printf("\x1b[%zuA\r", drawn_lines_);
        const std::vector<std::string> lines = TableLines(cycle);
        for (const std::string& line : lines) std::printf("%s\x1b[K\n", line.c_str());
        std::printf("\x1b[J");
        drawn_lines_ = lines.size();
        std::fflush(stdout);
        return;
    }
    char when[32];
    std::snprintf(when, sizeof when, "%.2f s", std::chrono::duration<double>(Clock::now() - start_).count());
    std::printf("cycle %lld at %s\n", cycle, when);
    const std::string error_line = host_.ErrorLine();
    if (error_line != last_error_line_) {
        std::printf("  error line: %s\n", ShownUtf8(error_line).c_str());
        last_error_line_ = error_line;
    }
    for (Row& row : rows_) {
        // Only what changed: value and status (the age changes every cycle). The
        // same value, bit for bit, and status show the same text.
        if (row.shown_made && row.has_value == row.shown_has_value &&
            (!row.has_value || (row.value.type_code == row.shown_value.type_code &&
                                row.value.boolean == row.shown_value.boolean &&
                                std::memcmp(&row.value.real, &row.shown_value.real, sizeof row.value.real) == 0)) &&
            row.shown.size() > row.status.size() &&
            row.shown.compare(row.shown.size() - row.status.size(), row.status.size(), row.status) == 0) {
            continue;
        }
        const std::string value = row.has_value ? FormatValue(row.value) : "-";
        const std::string shown = value + "|" + row.status;
        row.shown_made = true;
        row.shown_has_value = row.has_value;
        row.shown_value = row.value;
        if (shown == row.shown) continue;
        row.shown = shown;
        if (row.prefix.empty()) {
            const PlantChannel& c = *row.channel;
            row.prefix = "  " + PadLeft(std::to_string(c.number), 6) + "  " + Pad(ShownCp1250(c.module), module_width_) +
                         Pad(c.Function(), 26) + Pad(row.written ? "write" : "read", 7);
        }
        std::printf("%s%s%s\n", row.prefix.c_str(), Pad(value, 13).c_str(), row.status.c_str());
    }
    // A file or pipe gets the lines at most a tenth of a second late: flushed every
    // cycle, a fast run would spend its time writing.
    const auto now = Clock::now();
    if (now - flushed_ >= std::chrono::milliseconds(100)) {
        std::fflush(stdout);
        flushed_ = now;
    }
}

}  // namespace tovihost
