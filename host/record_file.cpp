// Record files of the host run-time. Handles are the operating system's file
// descriptors, so a file created by another library in this process can be written
// here. Each line goes to the file in a single write at the file's end.
#include "host/record_file.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace host {
namespace {

constexpr std::size_t kPathRoom = 4096;  // including the terminating NUL
constexpr std::size_t kLongestLine = 4096;

#if defined(_WIN32)
constexpr char kLineEnd[] = "\r\n";
#else
constexpr char kLineEnd[] = "\n";
#endif
constexpr std::size_t kLineEndLength = sizeof kLineEnd - 1;

// path as a terminated text in room; false when it is empty or does not fit (a cut
// path would name another file).
bool TerminatedPath(Cap path_cap, const char* path, char (&room)[kPathRoom]) {
    const std::uint32_t length = StrLength(path_cap, path);
    if (length == 0 || length >= kPathRoom) return false;
    std::memcpy(room, path, length);
    room[length] = '\0';
    return true;
}

std::int32_t OpenDescriptor(const char* path, bool create) {
#if defined(_WIN32)
    int flags = _O_WRONLY | _O_APPEND | _O_BINARY | _O_NOINHERIT;
    if (create) flags |= _O_CREAT;
    const int fd = _open(path, flags, _S_IREAD | _S_IWRITE);
#else
    int flags = O_WRONLY | O_APPEND | O_CLOEXEC;
    if (create) flags |= O_CREAT;
    int fd;
    do {
        fd = ::open(path, flags, 0644);
    } while (fd < 0 && errno == EINTR);
#endif
    return fd < 0 ? -1 : fd;
}

}  // namespace

// mode is part of the host's call shape; a record file is always opened for adding lines.
std::int32_t RecOpen(Cap path_cap, const char* path, std::int32_t /*mode*/) {
    char room[kPathRoom];
    if (!TerminatedPath(path_cap, path, room)) return -1;
    return OpenDescriptor(room, false);
}

std::int32_t RecCreate(Cap path_cap, const char* path) {
    char room[kPathRoom];
    if (!TerminatedPath(path_cap, path, room)) return -1;
    return OpenDescriptor(room, true);
}

void RecAddLine(std::int32_t handle, Cap text_cap, const char* text) {
    if (handle < 0) return;
    char line[kLongestLine + kLineEndLength];
    const std::size_t length = std::min<std::size_t>(StrLength(text_cap, text), kLongestLine);
    if (length != 0) std::memcpy(line, text, length);
    std::memcpy(line + length, kLineEnd, kLineEndLength);
    const std::size_t total = length + kLineEndLength;
    std::size_t written = 0;
    // One write normally takes the whole line; the loop only finishes an interrupted one.
    while (written < total) {
#if defined(_WIN32)
        const int n = _write(handle, line + written, static_cast<unsigned>(total - written));
#else
        const ssize_t n = ::write(handle, line + written, total - written);
        if (n < 0 && errno == EINTR) continue;
#endif
        if (n <= 0) return;
        written += static_cast<std::size_t>(n);
    }
}

// Lines go straight to the operating system; there is no buffer of ours to flush.
void RecFlush(std::int32_t /*handle*/) {}

void RecClose(std::int32_t handle) {
    if (handle < 0) return;
#if defined(_WIN32)
    _close(handle);
#else
    ::close(handle);
#endif
}

}  // namespace host
