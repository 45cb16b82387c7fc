// Dynamic libraries through the dynamic loader. The handle is the loader's own.
#include "platform/platform.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstring>

namespace tovi::platform {
namespace {

void CopyBounded(const char* text, std::uint32_t capacity, char* buffer) {
    const std::size_t length = std::min<std::size_t>(std::strlen(text), capacity);
    std::memcpy(buffer, text, length);
    buffer[length] = '\0';
}

}  // namespace

LibraryHandle OpenLibrary(const char* path, std::uint32_t error_capacity, char* error) {
    if (path == nullptr) {
        if (error != nullptr) {
            CopyBounded("no library path given", error_capacity, error);
        }
        return nullptr;
    }
    dlerror();  // clear a stale message
    void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr && error != nullptr) {
        const char* reason = dlerror();
        CopyBounded(reason != nullptr ? reason : "the library could not be loaded", error_capacity, error);
    }
    return static_cast<LibraryHandle>(library);
}

void* LibrarySymbol(LibraryHandle library, const char* name) {
    if (library == nullptr || name == nullptr) {
        return nullptr;
    }
    return dlsym(static_cast<void*>(library), name);
}

const void* ModuleOf(const void* address) {
    Dl_info info{};
    if (address == nullptr || dladdr(address, &info) == 0) return nullptr;
    return info.dli_fbase;
}

void CloseLibrary(LibraryHandle library) {
    if (library != nullptr) {
        dlclose(static_cast<void*>(library));
    }
}

}  // namespace tovi::platform
