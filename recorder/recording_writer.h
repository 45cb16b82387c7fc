// The recording file: an opening (the header, and in a file that continues a run
// the calls carried over), then one line per call. A line reaches the file at
// once when it is urgent (a failed call) or when the last flush is flush_interval
// old, and in any case when the file is closed. When the file's calls after its
// opening reach the size limit it is renamed FILE.1 (older ones move to FILE.2 ... FILE.keep, the oldest
// is removed) and a new file with the opening the caller gives starts. A file
// that cannot be moved aside (on Windows, one a viewer holds open) stays the
// current file: recording goes on in it and moving it aside is tried again after
// another sixteenth of the size limit, noted once on the standard error stream
// and in the file. A file that cannot be written ends the recording, never the
// forwarding: the reason is noted once on the standard error stream. Not
// thread-safe: the recorder's lock guards it.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace recorder {

class RecordingWriter {
public:
    ~RecordingWriter() { Close(); }

    // Where and how the files are written; nothing is opened.
    void Configure(const std::string& path, std::uint64_t max_bytes, int keep, std::chrono::milliseconds flush_interval);
    // Starts the file with opening; false (noted) when it cannot be written. A
    // file this writer wrote before is moved aside first, as a full one; when that
    // cannot be done, recording goes on at its end after resumed (a note line).
    bool Open(const std::string& opening, const std::string& resumed);
    // Whether line must go to a new file: the current one holds a call line of its
    // own and would grow past the size limit (and no retry is pending).
    bool Full(std::size_t line_size) const;
    // Moves the current file aside and starts the next one with opening.
    void Rotate(const std::string& opening);
    void Append(const std::string& line, bool urgent);
    // Ends the current file with a note line (recording switched off).
    void Finish(const std::string& note);
    bool recording() const { return file_ != nullptr; }
    // Why recording stopped; empty while it goes on.
    const std::string& stopped() const { return stopped_; }

private:
    bool Start(const std::string& opening);
    bool MoveAside(std::string& why);
    void Stop(const std::string& why);
    void Close();

    std::FILE* file_ = nullptr;
    std::string path_, stopped_;
    std::uint64_t max_bytes_ = 0, written_ = 0, opening_ = 0, retry_at_ = 0;
    int keep_ = 0;
    bool written_before_ = false, move_failed_ = false;
    std::chrono::milliseconds flush_interval_{0};
    std::chrono::steady_clock::time_point flushed_{};
};

}  // namespace recorder
