// Reading a recording as it goes: the header first, then one call at a time,
// never the whole file in memory. A run recorded into several files (a rotated
// set) is read as one run.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "recording/recording_format.h"

namespace recording {

// The longest line a reader takes; a longer one is a damaged file.
inline constexpr std::size_t kLongestLine = 1u << 20;

class Reader {
public:
    Reader() = default;
    ~Reader();
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    // Opens a file and reads its header. False with "PATH: cannot be read: REASON"
    // or "PATH:LINE: message".
    bool Open(const std::string& path, std::string& error);
    // Reads text the caller keeps for the reader's life, named origin in messages.
    bool OpenText(std::string_view text, const std::string& origin, std::string& error);

    const Header& header() const { return header_; }
    const std::string& origin() const { return origin_; }
    // The next call, with its line; false at the end (error empty) or on a damaged
    // line (error "ORIGIN:LINE: message").
    bool Next(Call& call, std::string& error);
    // Bytes read so far and the whole size (for progress).
    std::uint64_t position() const { return position_; }
    std::uint64_t size() const { return size_; }

private:
    bool Start(std::string& error);
    // The next line without its end; false at the end of the input or on error.
    bool ReadLine(std::string_view& line, std::string& error);
    bool Fill();
    bool Fail(std::string& error, const std::string& why) const;

    std::FILE* file_ = nullptr;
    std::string origin_;
    std::string buffer_;
    std::string_view text_;  // what is held: the caller's text, or buffer_ from begin_
    std::size_t begin_ = 0;
    bool eof_ = false;
    int read_errno_ = 0;
    std::uint64_t position_ = 0, size_ = 0;
    std::size_t line_ = 0;
    Header header_;
    bool own_calls_seen_ = false;
    bool pending_ = false;  // call_ holds the first call, read with the header
    Call call_;
};

// The files of one run read as one, in the order they hold the run whatever the
// order given: the first file's calls, then of every further file its own calls
// only (its carried calls restate what the earlier files hold). Every file must
// be of the same run (the same "started"); two files that start at the same
// point of the run are refused. Calls are not checked for order by time: a line
// is written when its call ends but carries when it started, so the calls of
// several threads are not in the order of their times.
class SetReader {
public:
    // Reads every file's header; false with the first fault.
    bool Open(const std::vector<std::string>& paths, std::string& error);

    const Header& header() const { return first_; }
    std::size_t files() const { return paths_.size(); }
    // The files in the order they are read.
    const std::string& path(std::size_t file) const { return paths_[file]; }
    // As Reader::Next; call.file is the index of its file.
    bool Next(Call& call, std::string& error);
    std::uint64_t position() const { return done_ + (reader_ ? reader_->position() : 0); }
    std::uint64_t size() const { return total_; }

private:
    std::vector<std::string> paths_;
    Header first_;
    std::size_t current_ = 0;
    std::unique_ptr<Reader> reader_;
    std::uint64_t done_ = 0, total_ = 0;
};

// A rotated set named by its current file FILE: FILE.N ... FILE.2, FILE.1, FILE,
// those that exist, oldest first (numbering stops at the first missing number).
std::vector<std::string> RotatedSet(const std::string& current);

}  // namespace recording
