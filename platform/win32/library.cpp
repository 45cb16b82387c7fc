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

// The loader would otherwise show a message box for some failures (a damaged file,
// one built for another processor) and wait for someone to close it, holding up
// the caller. Errors are reported to the caller instead, for this thread only;
// systems before Windows 7 lack the thread's own error mode and keep theirs.
class QuietLoaderErrors {
public:
    QuietLoaderErrors()
        : set_mode_(reinterpret_cast<SetThreadErrorModeFn>(
              reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetThreadErrorMode")))) {
        changed_ = set_mode_ != nullptr && set_mode_(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previous_);
    }
    ~QuietLoaderErrors() {
        if (changed_) set_mode_(previous_, nullptr);
    }
    QuietLoaderErrors(const QuietLoaderErrors&) = delete;
    QuietLoaderErrors& operator=(const QuietLoaderErrors&) = delete;

private:
    using SetThreadErrorModeFn = BOOL(WINAPI*)(DWORD mode, DWORD* previous);
    SetThreadErrorModeFn set_mode_;
    DWORD previous_ = 0;
    bool changed_ = false;
};

}  // namespace

LibraryHandle OpenLibrary(const char* path, std::uint32_t error_capacity, char* error) {
    if (path == nullptr) {
        if (error != nullptr) {
            std::snprintf(error, BufferSize(error_capacity), "%s", "no library path given");
        }
        return nullptr;
    }
    HMODULE library = nullptr;
    DWORD code = 0;
    {
        QuietLoaderErrors quiet;
        library = LoadLibraryA(path);
        code = GetLastError();
    }
    if (library == nullptr && error != nullptr) {
        DescribeError(path, code, error_capacity, error);
    }
    return reinterpret_cast<LibraryHandle>(library);
}

void* LibrarySymbol(LibraryHandle library, const char* name) {
    if (library == nullptr || name == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(library), name));
}

const void* ModuleOf(const void* address) {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCWSTR>(address), &module)) {
        return nullptr;
    }
    return reinterpret_cast<const void*>(module);
}

void CloseLibrary(LibraryHandle library) {
    if (library != nullptr) {
        FreeLibrary(reinterpret_cast<HMODULE>(library));
    }
}

}  // namespace tovi::platform
