// Threads on pthreads. The handle owns the routine and its argument, which the
// new thread reads from it, so the handle lives until the thread has been joined.
#include "platform/failure_hooks_internal.h"
#include "platform/platform.h"

#include <pthread.h>

#include <new>

namespace tovi::platform {

struct ThreadObject {
    pthread_t thread{};
    ThreadRoutine routine = nullptr;
    void* argument = nullptr;
    bool joined = false;
};

namespace {

extern "C" void* RunThread(void* start) {
    auto* thread = static_cast<ThreadObject*>(start);
    thread->routine(thread->argument);
    return nullptr;
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
    if (pthread_create(&thread->thread, nullptr, RunThread, thread) != 0) {
        delete thread;
        return nullptr;
    }
    return thread;
}

void JoinThread(ThreadHandle thread) {
    if (thread == nullptr || thread->joined) {
        return;
    }
    pthread_join(thread->thread, nullptr);
    thread->joined = true;
}

void CloseThread(ThreadHandle thread) {
    if (thread == nullptr) {
        return;
    }
    // A thread still running would read the handle after it is freed; wait for it.
    JoinThread(thread);
    delete thread;
}

}  // namespace tovi::platform
