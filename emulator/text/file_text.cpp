#include "emulator/text/file_text.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

namespace tovihost {
namespace {

namespace fs = std::filesystem;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

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

bool ReadWholeFile(const std::string& path, std::string& text, std::string& reason, std::uintmax_t largest) {
    text.clear();
    reason = path.empty() ? "no file name given" : NotAFile(path);
    if (!reason.empty()) return false;
    std::error_code code;
    const std::uintmax_t size = fs::file_size(path, code);
    if (!code && size > largest) {
        reason = "it is larger than " + std::to_string(largest / (1024 * 1024)) + " MiB";
        return false;
    }
    errno = 0;
    const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        reason = SystemReason(errno);
        return false;
    }
    char buffer[65536];
    for (;;) {
        const std::size_t got = std::fread(buffer, 1, sizeof buffer, file.get());
        text.append(buffer, got);
        if (text.size() > largest) {
            reason = "it is larger than " + std::to_string(largest / (1024 * 1024)) + " MiB";
            text.clear();
            return false;
        }
        if (got < sizeof buffer) break;
    }
    if (std::ferror(file.get()) != 0) {
        reason = SystemReason(errno == 0 ? EIO : errno);
        text.clear();
        return false;
    }
    return true;
}

bool ReadTextFile(const std::string& path, std::string& text, std::string& reason, std::uint32_t& line,
                  std::uintmax_t largest) {
    line = 0;
    if (!ReadWholeFile(path, text, reason, largest)) return false;
    const std::size_t nul = text.find('\0');
    if (nul == std::string::npos) return true;
    const bool utf16 = text.size() >= 2 && ((text[0] == '\xFF' && text[1] == '\xFE') ||
                                            (text[0] == '\xFE' && text[1] == '\xFF'));
    line = 1;
    for (std::size_t i = 0; i < nul; ++i) line += text[i] == '\n';
    reason = utf16 ? "holds a NUL byte: it is UTF-16 text; save it as 8-bit text (Windows-1250 or ASCII)"
                   : "holds a NUL byte: it is not a text file";
    text.clear();
    return false;
}

std::string CannotRead(const std::string& path, const std::string& reason, std::uint32_t line) {
    if (line != 0) return path + ":" + std::to_string(line) + ": " + reason;
    return path + ": cannot be read: " + reason;
}

bool CheckTextFile(const std::string& path, std::string& message, std::uintmax_t largest) {
    std::string text, reason;
    std::uint32_t line = 0;
    if (ReadTextFile(path, text, reason, line, largest)) return true;
    message = CannotRead(path, reason, line);
    return false;
}

std::string CannotWrite(const std::string& path) {
    if (path.empty()) return "no file name given";
    std::error_code code;
    const fs::file_status status = fs::status(path, code);
    if (status.type() == fs::file_type::directory) return "it is a directory";
    const fs::path parent = fs::path(path).parent_path();
    if (!parent.empty() && !fs::is_directory(parent, code)) return "no such directory " + parent.string();
    return "";
}

}  // namespace tovihost
