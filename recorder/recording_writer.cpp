#include "recorder/recording_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

namespace recorder {
namespace {

bool Exists(const std::string& path) {
    std::error_code code;
    return std::filesystem::exists(std::filesystem::path(path), code) || code;
}

}  // namespace

void RecordingWriter::Configure(const std::string& path, std::uint64_t max_bytes, int keep,
                                std::chrono::milliseconds flush_interval) {
    path_ = path;
    max_bytes_ = max_bytes;
    keep_ = keep;
    flush_interval_ = flush_interval;
}

bool RecordingWriter::Open(const std::string& opening, const std::string& resumed) {
    Close();
    std::string why;
    if (written_before_ && !MoveAside(why)) {
        file_ = std::fopen(path_.c_str(), "ab");
        if (file_ == nullptr) {
            Stop(std::strerror(errno));
            return false;
        }
        std::fprintf(stderr, "tovi recorder: %s: %s: recording goes on at its end\n", path_.c_str(), why.c_str());
        Append("# " + why + ": recording goes on here\n" + resumed, true);
        return recording();
    }
    return Start(opening);
}

bool RecordingWriter::Start(const std::string& opening) {
    file_ = std::fopen(path_.c_str(), "wb");
    if (file_ == nullptr) {
        Stop(std::strerror(errno));
        return false;
    }
    written_before_ = true;
    written_ = 0;
    retry_at_ = 0;
    Append(opening, true);
    opening_ = written_;
    return recording();
}

bool RecordingWriter::Full(std::size_t line_size) const {
    // The limit counts the file's own calls: an opening larger than the limit (the
    // carried calls of a large plant) would otherwise turn every call into a file.
    return file_ != nullptr && max_bytes_ != 0 && written_ > opening_ && written_ - opening_ + line_size > max_bytes_ &&
           written_ >= retry_at_;
}

bool RecordingWriter::MoveAside(std::string& why) {
    errno = 0;
    if (keep_ == 0) {
        if (std::remove(path_.c_str()) == 0) return true;
        why = "cannot remove " + path_ + " (" + std::strerror(errno) + ")";
        return false;
    }
    auto numbered = [&](int n) { return path_ + "." + std::to_string(n); };
    // Older files move up one place as far as the first free one, so that a move
    // tried again after a failed one removes nothing more.
    int free = 1;
    while (free <= keep_ && Exists(numbered(free))) ++free;
    if (free > keep_) {
        free = keep_;
        std::remove(numbered(keep_).c_str());
    }
    for (int n = free - 1; n >= 1; --n) std::rename(numbered(n).c_str(), numbered(n + 1).c_str());
    // Never over a file that is still there.
    errno = 0;
    if (!Exists(numbered(1)) && std::rename(path_.c_str(), numbered(1).c_str()) == 0) return true;
    why = "cannot move " + path_ + " aside to " + numbered(1) + " (" +
          (errno != 0 ? std::strerror(errno) : "the name is taken") + ")";
    return false;
}

void RecordingWriter::Rotate(const std::string& opening) {
    Close();
    std::string why;
    if (MoveAside(why)) {
        if (move_failed_) std::fprintf(stderr, "tovi recorder: %s: moved aside at last\n", path_.c_str());
        move_failed_ = false;
        Start(opening);
        return;
    }
    file_ = std::fopen(path_.c_str(), "ab");
    if (file_ == nullptr) {
        Stop(std::strerror(errno));
        return;
    }
    retry_at_ = written_ + std::max<std::uint64_t>(max_bytes_ / 16, 1);
    if (move_failed_) return;
    move_failed_ = true;
    std::fprintf(stderr, "tovi recorder: %s: recording goes on in it and moving it aside is tried again as it grows\n",
                 why.c_str());
    Append("# " + why + ": recording goes on here, moving it aside is tried again as it grows\n", true);
}

void RecordingWriter::Append(const std::string& line, bool urgent) {
    if (file_ == nullptr) return;
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

void RecordingWriter::Finish(const std::string& note) {
    Append(note, true);
    Close();
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
