#include "emulator/host/system_info.h"

#include <cstdio>

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <dlfcn.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

#include "device_sim/device_sim.h"

namespace tovihost {

std::pair<std::size_t, std::size_t> TerminalSize() {
#if defined(_WIN32)
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info) != 0) {
        return {static_cast<std::size_t>(info.srWindow.Right - info.srWindow.Left + 1),
                static_cast<std::size_t>(info.srWindow.Bottom - info.srWindow.Top + 1)};
    }
#else
    winsize size{};
    if (ioctl(fileno(stdout), TIOCGWINSZ, &size) == 0) return {size.ws_col, size.ws_row};
#endif
    return {0, 0};
}

std::string SimulatorPath() {
#if defined(_WIN32)
    char path[4096] = {};
    HMODULE module = nullptr;
    if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           reinterpret_cast<LPCSTR>(&devsim_device_count), &module) == 0 ||
        GetModuleFileNameA(module, path, sizeof path - 1) == 0) {
        return "";
    }
    return path;
#else
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&devsim_device_count), &info) == 0 || info.dli_fname == nullptr) return "";
    return info.dli_fname;
#endif
}

}  // namespace tovihost
