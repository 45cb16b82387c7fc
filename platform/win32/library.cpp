// Dynamic libraries on Windows. The handle is the module handle.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "platform/platform.h"

#include <cstdio>

namespace tovi::platform {
namespace {

// Bytes in a caller's buffer of capacity + 1, kept within size_t on 32-bit systems.
std::size_t BufferSize(std::uint32_t capacity) {
    return capacity < 0xFFFFFFFFu ? std::size_t{capacity} + 1 : std::size_t{capacity};
}

// "<path>: <system text> (error <code>)", cut to the caller's buffer.
void DescribeError(const char* path, DWORD code, std::uint32_t capacity, char* buffer) {
    char text[512] = "";
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                  text, sizeof(text), nullptr);
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' || text[length - 1] == ' ' ||
                          text[length - 1] == '.')) {
        text[--length] = '\0';
    }
    std::snprintf(buffer, BufferSize(capacity), "%s: %s (error %lu)", path,
                  length > 0 ? text : "the library could not be loaded", static_cast<unsigned long>(code));
}

}  // namespace

LibraryHandle OpenLibrary(const char* path, std::uint32_t error_capacity, char* error) {
    if (path == nullptr) {
        if (error != nullptr) {
            std::snprintf(error, BufferSize(error_capacity), "%s", "no library path given");
        }
        return nullptr;
    }
    HMODULE library = LoadLibraryA(path);
    if (library == nullptr && error != nullptr) {
        DescribeError(path, GetLastError(), error_capacity, error);
    }
    return reinterpret_cast<LibraryHandle>(library);
}

void* LibrarySymbol(LibraryHandle library, const char* name) {
    if (library == nullptr || name == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(library), name));
}

void CloseLibrary(LibraryHandle library) {
    if (library != nullptr) {
        FreeLibrary(reinterpret_cast<HMODULE>(library));
    }
}

}  // namespace tovi::platform
