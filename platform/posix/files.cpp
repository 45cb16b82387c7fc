// Paths on POSIX systems.
#include "platform/platform.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

namespace tovi::platform {
namespace {

bool CopyIfFits(const std::string& text, std::uint32_t capacity, char* buffer) {
    if (text.size() > capacity) {
        return false;
    }
    std::memcpy(buffer, text.data(), text.size());
    buffer[text.size()] = '\0';
    return true;
}

// The whole current directory, however long; empty when it cannot be read.
std::string WholeCurrentDirectory() {
    std::vector<char> buffer(256);
    for (;;) {
        if (getcwd(buffer.data(), buffer.size()) != nullptr) {
            return std::string(buffer.data());
        }
        if (errno != ERANGE || buffer.size() >= (std::size_t{1} << 20)) {
            return {};
        }
        buffer.resize(buffer.size() * 2);
    }
}

// The file the loader reports for the address, with an absolute directory.
// Only the directory part is resolved: the file's own name stays as it was
// loaded, so a library reached through a symbolic link keeps the link's name.
std::string LoadedFileOf(const void* address) {
    Dl_info info{};
    if (dladdr(address, &info) == 0 || info.dli_fname == nullptr || info.dli_fname[0] == '\0') {
        return {};
    }
    std::string file = info.dli_fname;
#if defined(__linux__)
    if (file.find('/') == std::string::npos) {
        // The main program, started through the search path: the loader only
        // knows the name it was started with. The kernel knows the file.
        std::vector<char> link(PATH_MAX + 1);
        const ssize_t length = readlink("/proc/self/exe", link.data(), link.size() - 1);
        if (length > 0 && static_cast<std::size_t>(length) < link.size() - 1) {
            file.assign(link.data(), static_cast<std::size_t>(length));
        }
    }
#endif
    const std::size_t slash = file.rfind('/');
    const std::string directory = slash == std::string::npos ? std::string(".") : file.substr(0, slash);
    const std::string name = slash == std::string::npos ? file : file.substr(slash + 1);
    if (directory.empty()) {
        return "/" + name;  // a file in the root directory
    }
    char* resolved = realpath(directory.c_str(), nullptr);
    if (resolved == nullptr) {
        return file;
    }
    std::string result = resolved;
    free(resolved);
    if (result.empty() || result.back() != '/') {
        result += '/';
    }
    return result + name;
}

}  // namespace

char DirectorySeparator() { return '/'; }

bool CurrentDirectory(std::uint32_t capacity, char* buffer) {
    if (buffer == nullptr) {
        return false;
    }
    const std::string directory = WholeCurrentDirectory();
    if (directory.empty()) {
        return false;
    }
    return CopyIfFits(directory, capacity, buffer);
}

bool LoadedFilePath(const void* address, const char* canonical_name, std::uint32_t capacity, char* buffer,
                    bool* too_long) {
    if (too_long != nullptr) *too_long = false;
    if (canonical_name == nullptr || buffer == nullptr) {
        return false;
    }
    const std::string file = LoadedFileOf(address);
    const std::size_t slash = file.rfind('/');
    const char* name = file.c_str() + (slash == std::string::npos ? 0 : slash + 1);
    if (file.empty() || std::strcmp(name, canonical_name) != 0) {
        return false;
    }
    if (CopyIfFits(file, capacity, buffer)) return true;
    if (too_long != nullptr) *too_long = true;
    return false;
}

}  // namespace tovi::platform
