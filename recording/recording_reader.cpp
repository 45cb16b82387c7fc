#include "recording/recording_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>

namespace recording {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kChunk = 1u << 20;

std::string SystemReason(int error) {
    if (error == ENOENT) return "no such file";
    if (error == EACCES || error == EPERM) return "permission denied";
    if (error == EISDIR) return "it is a directory";
    return std::strerror(error);
}

// Why the path names no regular file, or empty.
std::string NotAFile(const std::string& path) {
    std::error_code code;
    const fs::file_status status = fs::status(path, code);
    if (status.type() == fs::file_type::not_found) return "no such file";
    if (code) return code.message();
    if (status.type() == fs::file_type::directory) return "it is a directory";
    if (status.type() != fs::file_type::regular) return "it is not a regular file";
    return "";
}

}  // namespace

Reader::~Reader() {
    if (file_ != nullptr) std::fclose(file_);
}

bool Reader::Open(const std::string& path, std::string& error) {
    origin_ = path;
    std::string reason = path.empty() ? "no file name given" : NotAFile(path);
    if (reason.empty()) {
        errno = 0;
        file_ = std::fopen(path.c_str(), "rb");
        if (file_ == nullptr) reason = SystemReason(errno == 0 ? EIO : errno);
    }
    if (!reason.empty()) {
        error = path + ": cannot be read: " + reason;
        return false;
    }
    std::error_code code;
    size_ = fs::file_size(path, code);
    if (code) size_ = 0;
    buffer_.reserve(kChunk);
    return Start(error);
}

bool Reader::OpenText(std::string_view text, const std::string& origin, std::string& error) {
    origin_ = origin;
    text_ = text;
    eof_ = true;
    size_ = text.size();
    return Start(error);
}

bool Reader::Fail(std::string& error, const std::string& why) const {
    error = origin_ + ":" + std::to_string(line_ == 0 ? 1 : line_) + ": " + why;
    return false;
}

bool Reader::Fill() {
    if (eof_ || file_ == nullptr) return false;
    buffer_.erase(0, begin_);
    begin_ = 0;
    const std::size_t held = buffer_.size();
    buffer_.resize(held + kChunk);
    errno = 0;
    const std::size_t got = std::fread(buffer_.data() + held, 1, kChunk, file_);
    buffer_.resize(held + got);
    if (got < kChunk) {
        eof_ = true;
        if (std::ferror(file_) != 0) read_errno_ = errno == 0 ? EIO : errno;
    }
    text_ = buffer_;
    return got != 0;
}

bool Reader::ReadLine(std::string_view& line, std::string& error) {
    for (;;) {
        const std::string_view rest = text_.substr(std::min(begin_, text_.size()));
        const std::size_t end = rest.find('\n');
        if (end != std::string_view::npos || (eof_ && !rest.empty() && read_errno_ == 0)) {
            const std::size_t length = end == std::string_view::npos ? rest.size() : end;
            const std::size_t taken = end == std::string_view::npos ? length : length + 1;
            line = rest.substr(0, length);
            begin_ += taken;
            position_ += taken;
            ++line_;
            if (length > kLongestLine) return Fail(error, "a line longer than 1 MiB: not a recording's line");
            return true;
        }
        if (rest.size() > kLongestLine) {
            ++line_;
            return Fail(error, "a line longer than 1 MiB: not a recording's line");
        }
        if (!eof_) {
            Fill();
            continue;
        }
        if (read_errno_ != 0) error = origin_ + ": cannot be read: " + SystemReason(read_errno_);
        return false;
    }
}

bool Reader::Start(std::string& error) {
    std::string_view line;
    if (!ReadLine(line, error)) {
        if (error.empty()) error = origin_ + ":1: the recording is empty";
        return false;
    }
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::string why;
    if (!ParseFirstLine(line, header_.version, why)) return Fail(error, why);
    // The header ends at the first call line, which is kept for Next.
    while (!pending_) {
        if (!ReadLine(line, error)) return error.empty();
        bool call_read = false;
        if (!ParseLine(line, header_.version, false, header_, call_, call_read, why)) return Fail(error, why);
        if (call_read) {
            call_.line = line_;
            pending_ = true;
        }
    }
    return true;
}

bool Reader::Next(Call& call, std::string& error) {
    error.clear();
    if (pending_) {
        pending_ = false;
        call = std::move(call_);
    } else {
        bool call_read = false;
        std::string why;
        while (!call_read) {
            std::string_view line;
            if (!ReadLine(line, error)) return false;
            if (!ParseLine(line, header_.version, true, header_, call, call_read, why)) return Fail(error, why);
        }
        call.line = line_;
    }
    if (call.carried && own_calls_seen_) {
        line_ = call.line;
        return Fail(error, "a carried call after the file's own calls");
    }
    own_calls_seen_ = own_calls_seen_ || !call.carried;
    return true;
}

bool SetReader::Open(const std::vector<std::string>& paths, std::string& error) {
    struct Part {
        std::string path;
        Header header;
        std::uint64_t size;
    };
    std::vector<Part> parts;
    for (const std::string& path : paths) {
        Reader reader;
        if (!reader.Open(path, error)) return false;
        parts.push_back({path, reader.header(), reader.size()});
    }
    if (parts.empty()) {
        error = "no recording given";
        return false;
    }
    std::stable_sort(parts.begin(), parts.end(), [](const Part& a, const Part& b) {
        return (a.header.continues ? a.header.continues_us + 1 : 0) < (b.header.continues ? b.header.continues_us + 1 : 0);
    });
    for (std::size_t i = 1; i < parts.size(); ++i) {
        const Part& before = parts[i - 1];
        const Part& part = parts[i];
        if (part.header.started != before.header.started) {
            error = part.path + ": not of the same run as " + before.path + " (started " + part.header.started +
                    ", not " + before.header.started + ")";
            return false;
        }
        if (!part.header.continues ||
            (before.header.continues && before.header.continues_us == part.header.continues_us)) {
            error = part.path + ": starts at the same point of the run as " + before.path;
            return false;
        }
    }
    paths_.clear();
    total_ = 0;
    for (const Part& part : parts) {
        paths_.push_back(part.path);
        total_ += part.size;
    }
    first_ = parts.front().header;
    current_ = 0;
    reader_.reset();
    done_ = 0;
    return true;
}

bool SetReader::Next(Call& call, std::string& error) {
    error.clear();
    while (current_ < paths_.size()) {
        if (!reader_) {
            reader_ = std::make_unique<Reader>();
            if (!reader_->Open(paths_[current_], error)) return false;
        }
        while (reader_->Next(call, error)) {
            if (current_ != 0 && call.carried) continue;
            call.file = static_cast<std::uint32_t>(current_);
            return true;
        }
        if (!error.empty()) return false;
        done_ += reader_->size();
        ++current_;
        reader_.reset();
    }
    return false;
}

std::vector<std::string> RotatedSet(const std::string& current) {
    std::vector<std::string> older;
    for (int n = 1;; ++n) {
        const std::string path = current + "." + std::to_string(n);
        std::error_code code;
        if (!fs::exists(path, code)) break;
        older.push_back(path);
    }
    std::reverse(older.begin(), older.end());
    older.push_back(current);
    return older;
}

}  // namespace recording
