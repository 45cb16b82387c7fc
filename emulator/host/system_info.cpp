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
#include <sched.h>
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

bool KeepToOneProcessor() {
#if defined(_WIN32)
    DWORD_PTR process = 0, system = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) == 0 || process == 0) return false;
    return SetProcessAffinityMask(GetCurrentProcess(), process & (~process + 1)) != 0;
#elif defined(__linux__)
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (sched_getaffinity(0, sizeof allowed, &allowed) != 0) return false;
    int chosen = sched_getcpu();
    if (chosen < 0 || chosen >= CPU_SETSIZE || !CPU_ISSET(chosen, &allowed)) {
        chosen = -1;
        for (int cpu = 0; cpu < CPU_SETSIZE && chosen < 0; ++cpu)
            if (CPU_ISSET(cpu, &allowed)) chosen = cpu;
        if (chosen < 0) return false;
    }
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(chosen, &one);
    if (sched_setaffinity(0, sizeof one, &one) != 0) return false;
    // A thread woken by the other would otherwise take the processor at once, only
    // to wait for the lock its waker still holds: each hand-over would cost three
    // switches instead of one.
    const sched_param normal{};
    sched_setscheduler(0, SCHED_BATCH, &normal);
    return true;
#else
    return false;
#endif
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
