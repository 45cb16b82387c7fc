// Files the emulator takes from its user (parameter file, module-type database,
// device set, scenario) read whole without an exception escaping, and the reasons
// a file cannot be used, in words: missing, a directory, unreadable, too large,
// or not text at all.
#pragma once

#include <cstdint>
#include <string>

namespace tovihost {

// Larger files are refused: no plant or scenario comes near this. A device set may
// be a recording of a plant's calls, and grows with the time recorded.
inline constexpr std::uintmax_t kLargestFile = 32u * 1024 * 1024;
inline constexpr std::uintmax_t kLargestDeviceSet = 1024u * 1024 * 1024;

// The whole file into text; false with the reason ("no such file", "it is a
// directory", ...), without the file's name.
bool ReadWholeFile(const std::string& path, std::string& text, std::string& reason,
                   std::uintmax_t largest = kLargestFile);

// The whole of a text file: as ReadWholeFile, and also refused when it holds a NUL
// byte (binary data, or UTF-16 text), with line set to that byte's line.
bool ReadTextFile(const std::string& path, std::string& text, std::string& reason, std::uint32_t& line,
                  std::uintmax_t largest = kLargestFile);

// "FILE: cannot be read: REASON", or "FILE:LINE: REASON" when line is not 0.
std::string CannotRead(const std::string& path, const std::string& reason, std::uint32_t line = 0);

// Checks that a parameter file or device set can be read as text; false with
// CannotRead's message.
bool CheckTextFile(const std::string& path, std::string& message, std::uintmax_t largest = kLargestFile);

// Why a file cannot be created or overwritten (a directory, a missing directory),
// or empty when nothing speaks against it.
std::string CannotWrite(const std::string& path);

}  // namespace tovihost
