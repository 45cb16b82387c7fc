// Checks what `tovihost scenario FILE` printed against the verdicts FILE asks for:
// every expectation marked "# must fail" (optionally ": REASON", the text of the
// line after the verdict) is reported FAILED, every other one passed, and the
// summary line counts both.
//   verdict_check SCENARIO OUTPUT
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace {

int failures = 0;

void Fail(const std::string& what) {
    std::fprintf(stderr, "verdict_check: %s\n", what.c_str());
    ++failures;
}

std::string Trimmed(const std::string& text) {
    const auto begin = text.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos) return "";
    return text.substr(begin, text.find_last_not_of(" \t\r\n") - begin + 1);
}

bool ReadWhole(const char* path, std::string& text) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    std::ostringstream whole;
    whole << file.rdbuf();
    text = whole.str();
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: verdict_check SCENARIO OUTPUT\n");
        return 2;
    }
    const std::string scenario_path = argv[1];
    std::string scenario;
    std::string output;
    if (!ReadWhole(argv[1], scenario) || !ReadWhole(argv[2], output)) {
        std::fprintf(stderr, "verdict_check: cannot read %s or %s\n", argv[1], argv[2]);
        return 2;
    }
    const std::string marker = "# must fail";
    unsigned passes = 0;
    unsigned fails = 0;
    std::istringstream lines(scenario);
    std::string line;
    for (unsigned number = 1; std::getline(lines, line); ++number) {
        if (Trimmed(line).rfind("expect", 0) != 0) continue;
        const auto marked = line.find(marker);
        const bool must_fail = marked != std::string::npos;
        const std::string where = scenario_path + ":" + std::to_string(number) + ": ";
        const auto verdict = output.find(where + (must_fail ? "FAILED: " : "passed: "));
        if (verdict == std::string::npos) {
            Fail(where + "not reported as " + (must_fail ? "FAILED" : "passed"));
            continue;
        }
        (must_fail ? fails : passes) += 1;
        std::string reason = must_fail ? line.substr(marked + marker.size()) : "";
        if (!reason.empty() && reason[0] == ':') reason = Trimmed(reason.substr(1));
        else reason.clear();
        if (reason.empty()) continue;
        const auto next = output.find('\n', verdict);
        if (next == std::string::npos || output.compare(next + 1, 4 + reason.size(), "    " + reason) != 0) {
            Fail(where + "the failure does not say \"" + reason + "\"");
        }
    }
    if (fails == 0) Fail(scenario_path + " holds no expectation that must fail");
    const std::string summary = "\n" + std::to_string(passes) + " passed, " + std::to_string(fails) + " failed\n";
    if (output.find(summary) == std::string::npos) Fail("no summary line \"" + Trimmed(summary) + "\"");
    return failures == 0 ? 0 : 1;
}
