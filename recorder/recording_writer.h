// The recording file: the header, then one line per call. A line reaches the
// file at once when it is urgent (a failed call) or when the last flush is
// flush_interval old, and in any case when the file is closed. When the file reaches its size
// limit it is renamed FILE.1 (older ones move to FILE.2 ... FILE.keep, the oldest
// is removed) and a new file with its own header starts. A file that cannot be
// written ends the recording, never the forwarding: the reason is noted once on
// the standard error stream. Not thread-safe: the recorder's lock guards it.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace recorder {

class RecordingWriter {
public:
    ~RecordingWriter() { Close(); }

    // Starts the file with header; false (noted) when it cannot be written.
    bool Open(const std::string& path, const std::string& header, std::uint64_t max_bytes, int keep,
              std::chrono::milliseconds flush_interval);
    void Append(const std::string& line, bool urgent);
    bool recording() const { return file_ != nullptr; }
    // Why recording stopped; empty while it goes on.
    const std::string& stopped() const { return stopped_; }

private:
    bool Start();
    void Rotate();
    void Stop(const std::string& why);
    void Close();

    std::FILE* file_ = nullptr;
    std::string path_, header_, stopped_;
    std::uint64_t max_bytes_ = 0, written_ = 0;
    int keep_ = 0;
    std::chrono::milliseconds flush_interval_{0};
    std::chrono::steady_clock::time_point flushed_{};
};

}  // namespace recorder
