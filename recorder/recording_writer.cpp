#include "recorder/recording_writer.h"

#include <cerrno>
#include <cstring>

namespace recorder {

bool RecordingWriter::Open(const std::string& path, const std::string& header, std::uint64_t max_bytes, int keep,
                           std::chrono::milliseconds flush_interval) {
    flush_interval_ = flush_interval;
    path_ = path;
    header_ = header;
    max_bytes_ = max_bytes;
    keep_ = keep;
    return Start();
}

bool RecordingWriter::Start() {
    file_ = std::fopen(path_.c_str(), "wb");
    if (file_ == nullptr) {
        Stop(std::strerror(errno));
        return false;
    }
    written_ = 0;
    Append(header_, true);
    return recording();
}

void RecordingWriter::Append(const std::string& line, bool urgent) {
    if (file_ == nullptr) return;
    if (max_bytes_ != 0 && written_ != 0 && written_ + line.size() > max_bytes_) {
        Rotate();
        if (file_ == nullptr) return;
    }
    errno = 0;
    bool good = std::fwrite(line.data(), 1, line.size(), file_) == line.size();
    const auto now = std::chrono::steady_clock::now();
    if (good && (urgent || flush_interval_.count() == 0 || now - flushed_ >= flush_interval_)) {
        good = std::fflush(file_) == 0;
        flushed_ = now;
    }
    if (!good) {
        Stop(errno != 0 ? std::strerror(errno) : "write failed");
        return;
    }
    written_ += line.size();
}

void RecordingWriter::Rotate() {
    Close();
    auto numbered = [&](int n) { return path_ + "." + std::to_string(n); };
    if (keep_ == 0) {
        std::remove(path_.c_str());
    } else {
        std::remove(numbered(keep_).c_str());
        for (int n = keep_ - 1; n >= 1; --n) std::rename(numbered(n).c_str(), numbered(n + 1).c_str());
        std::rename(path_.c_str(), numbered(1).c_str());
    }
    Start();
}

void RecordingWriter::Stop(const std::string& why) {
    Close();
    if (!stopped_.empty()) return;
    stopped_ = path_ + ": " + why;
    std::fprintf(stderr, "tovi recorder: %s: calls are forwarded, recording stopped\n", stopped_.c_str());
}

void RecordingWriter::Close() {
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
}

}  // namespace recorder
