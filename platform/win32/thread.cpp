// Threads on Windows. The handle owns the routine and its argument, which the
// new thread reads from it, so the handle lives until the thread has been joined.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "platform/failure_hooks_internal.h"
#include "platform/platform.h"

#include <new>

namespace tovi::platform {

struct ThreadObject {
    HANDLE thread = nullptr;
    ThreadRoutine routine = nullptr;
    void* argument = nullptr;
    bool joined = false;
};

namespace {

DWORD WINAPI RunThread(LPVOID start) {
    auto* thread = static_cast<ThreadObject*>(start);
    return static_cast<DWORD>(thread->routine(thread->argument));
}

}  // namespace

ThreadHandle StartThread(ThreadRoutine routine, void* argument) {
    if (routine == nullptr || detail::ThreadCreationShouldFail()) {
        return nullptr;
    }
    auto* thread = new (std::nothrow) ThreadObject;
    if (thread == nullptr) {
        return nullptr;
    }
    thread->routine = routine;
    thread->argument = argument;
    thread->thread = CreateThread(nullptr, 0, RunThread, thread, 0, nullptr);
    if (thread->thread == nullptr) {
        delete thread;
        return nullptr;
    }
    return thread;
}

void JoinThread(ThreadHandle thread) {
    if (thread == nullptr || thread->joined) {
        return;
    }
    WaitForSingleObject(thread->thread, INFINITE);
    thread->joined = true;
}

void CloseThread(ThreadHandle thread) {
    if (thread == nullptr) {
        return;
    }
    // A thread still running would read the handle after it is freed; wait for it.
    JoinThread(thread);
    CloseHandle(thread->thread);
    delete thread;
}

}  // namespace tovi::platform
