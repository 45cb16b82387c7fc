// The scenario language's words: how a statement's text splits into words and
// quoted texts, how a duration is written, and how a text is quoted back in a
// report. Scenario::Read (scenario_reader.cpp) reads a file into its lines.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "emulator/scenario/scenario.h"

namespace tovihost {

// Splits text into words and quoted strings ("..." with \" \\ \r \n \t \xHH);
// with operators, "=", "~" and a leading "±" or "+-" also stand alone. False with
// the reason.
bool Tokenize(const std::string& text, bool operators, std::vector<ScenarioToken>& tokens, std::string& error);
// "10ms", "2s", "500us", "1min", or seconds without unit; nullopt when malformed.
std::optional<std::int64_t> ParseMicroseconds(const std::string& text);
// A text as a scenario quotes it: in double quotes, with escapes where needed.
std::string Quote(const std::string& text);

}  // namespace tovihost
