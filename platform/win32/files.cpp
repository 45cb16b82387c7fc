// Paths on Windows.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "platform/platform.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace tovi::platform {
namespace {

// The classic path limit; the module file name is read into a buffer this size.
constexpr DWORD kModulePathSize = 32768;  // the longest path Windows knows

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// File names on Windows compare without regard to case.
bool SameFileName(const char* a, const char* b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        if (LowerAscii(*a) != LowerAscii(*b)) {
            return false;
        }
    }
    return *a == *b;
}

const char* BaseName(const char* path) {
    const char* name = path;
    for (const char* p = path; *p != '\0'; ++p) {
        if (*p == '\\' || *p == '/' || *p == ':') {
            name = p + 1;
        }
    }
    return name;
}

}  // namespace

char DirectorySeparator() { return '\\'; }

bool CurrentDirectory(std::uint32_t capacity, char* buffer) {
    if (buffer == nullptr) {
        return false;
    }
    std::vector<char> whole(MAX_PATH + 1);
    for (int attempt = 0; attempt < 4; ++attempt) {
        const DWORD length = GetCurrentDirectoryA(static_cast<DWORD>(whole.size()), whole.data());
        if (length == 0) {
            return false;
        }
        if (length < whole.size()) {
            if (length > capacity) return false;  // never cut: it would name another directory
            std::memcpy(buffer, whole.data(), length);
            buffer[length] = '\0';
            return true;
        }
        whole.resize(length + 1);  // length is the size needed; the directory may change meanwhile
    }
    return false;
}

bool LoadedFilePath(const void* /*address*/, const char* canonical_name, std::uint32_t capacity, char* buffer,
                    bool* too_long) {
    if (too_long != nullptr) *too_long = false;
    if (canonical_name == nullptr || canonical_name[0] == '\0' || buffer == nullptr) {
        return false;
    }
    HMODULE module = GetModuleHandleA(canonical_name);
    if (module == nullptr) {
        return false;
    }
    std::vector<char> path(kModulePathSize);
    const DWORD length = GetModuleFileNameA(module, path.data(), kModulePathSize);
    if (length == 0) {
        return false;
    }
    if (length >= kModulePathSize || length > capacity) {
        // Cut short by the call, or longer than the caller's buffer.
        if (too_long != nullptr) *too_long = true;
        return false;
    }
    path[length] = '\0';
    if (!SameFileName(BaseName(path.data()), canonical_name)) {
        return false;
    }
    std::memcpy(buffer, path.data(), length + 1);
    return true;
}

}  // namespace tovi::platform
