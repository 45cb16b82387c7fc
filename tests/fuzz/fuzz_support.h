// What the fuzz targets share: a private working directory, the example device set,
// and a quiet host.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tovifuzz {

// Once per process: a fresh working directory (the driver looks for tovi.ini in the
// current directory when linked into a program), the example device set loaded,
// the simulator's trace kept short.
void PrepareProcess();

// Writes bytes to a file of the working directory.
void WriteFile(const char* name, const std::uint8_t* data, std::size_t size);
void WriteFile(const char* name, const std::string& text);

// The text of a file of the source tree.
std::string SourceFile(const char* relative_path);

// Forgets what the host stand-in and the simulator recorded (they would grow over
// millions of runs).
void ForgetRecords();

}  // namespace tovifuzz
