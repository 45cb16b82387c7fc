// Operating-system primitives the driver needs, behind one thin layer:
// a mutual-exclusion lock, manual-reset events with a wait for any of them,
// one thread with join, the directory of the driver's own library file and
// dynamic library loading. posix/ and win32/ implement it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tovi::platform {

// Mutual-exclusion lock with storage inside the object (no allocation, no failure).
// Initialise before first use and Delete after last use; neither is done implicitly.
class Lock {
public:
    void Initialise();
    void Delete();
    void Enter();
    void Leave();

private:
    alignas(16) unsigned char storage_[64];
};

// Holds a Lock for the lifetime of the guard.
class LockGuard {
public:
    explicit LockGuard(Lock& lock) : lock_(lock) { lock_.Enter(); }
    ~LockGuard() { lock_.Leave(); }
    LockGuard(const LockGuard&) = delete;
    LockGuard& operator=(const LockGuard&) = delete;

private:
    Lock& lock_;
};

// Manual-reset event: stays signalled until reset. Null handle means "none".
struct EventObject;
using EventHandle = EventObject*;

// A new event, not signalled; null when it cannot be created.
EventHandle CreateManualResetEvent();
void SignalEvent(EventHandle event);
void ResetEvent(EventHandle event);
void CloseEvent(EventHandle event);

// Waits without time limit until at least one of the events is signalled and
// returns the lowest index among the signalled ones. count is 1 to kMaxWaitEvents.
// Returns kWaitFailed at once when the arguments are unusable (no array, count out
// of range, a null handle) or the system wait fails.
constexpr std::uint32_t kMaxWaitEvents = 8;
constexpr std::uint32_t kWaitFailed = 0xFFFFFFFFu;
std::uint32_t WaitForAnyEvent(const EventHandle* events, std::uint32_t count);

// Waits at most timeout_ms for the event; true when it is signalled.
bool WaitForEvent(EventHandle event, std::uint32_t timeout_ms);

// A thread that runs routine(argument) at once. Null handle when it cannot be started.
struct ThreadObject;
using ThreadHandle = ThreadObject*;
using ThreadRoutine = std::uint32_t (*)(void* argument);

ThreadHandle StartThread(ThreadRoutine routine, void* argument);
// Waits without time limit until the thread has ended.
void JoinThread(ThreadHandle thread);
// Releases the handle; the thread must have been joined.
void CloseThread(ThreadHandle thread);

// The character that ends a directory in a path: '\\' on Windows, '/' elsewhere.
char DirectorySeparator();

// The process's current directory into buffer (capacity + 1 bytes). False when it
// cannot be read or does not fit: a directory cut short would name another one.
bool CurrentDirectory(std::uint32_t capacity, char* buffer);

// Full file name of the loaded library (or program) file that contains address,
// provided that file's own name (without directory) is canonical_name; false otherwise.
// The result goes into buffer (capacity + 1 bytes); false when it does not fit, and
// then *too_long (when given) is set.
bool LoadedFilePath(const void* address, const char* canonical_name, std::uint32_t capacity, char* buffer,
                    bool* too_long = nullptr);

// Dynamic libraries. Null handle when the library cannot be loaded; the reason,
// when error is not null, goes into error (error_capacity + 1 bytes).
struct LibraryObject;
using LibraryHandle = LibraryObject*;
LibraryHandle OpenLibrary(const char* path, std::uint32_t error_capacity, char* error);
void* LibrarySymbol(LibraryHandle library, const char* name);
void CloseLibrary(LibraryHandle library);
// The loaded module (program or library) whose image holds address, as an opaque
// identity; null when no module holds it.
const void* ModuleOf(const void* address);

// Fault injection for tests: the nth creation from now (1 = the next one) fails;
// 0 switches the hook off.
namespace testing {
void FailEventCreation(std::uint32_t nth);
void FailThreadCreation(std::uint32_t nth);
}  // namespace testing

}  // namespace tovi::platform
