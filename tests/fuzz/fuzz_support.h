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

// Reads a fuzz input piece by piece; an exhausted input reads as zeros.
class ByteReader {
public:
    ByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool More() const { return position_ < size_; }
    std::uint8_t Byte() { return position_ < size_ ? data_[position_++] : 0; }
    std::uint32_t Word() {
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) value |= static_cast<std::uint32_t>(Byte()) << (8 * i);
        return value;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

// Forgets what the host stand-in and the simulator recorded (they would grow over
// millions of runs).
void ForgetRecords();

}  // namespace tovifuzz
