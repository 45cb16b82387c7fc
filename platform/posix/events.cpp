// Manual-reset events on pthreads.
//
// Each event keeps its state under its own mutex plus an intrusive list of the
// waiters currently registered on it. A waiting thread owns one Waiter (mutex,
// condition variable, woken flag) and one list node per event, all on its own
// stack, so waiting never allocates and any number of threads may wait on the
// same event. Signalling an event that was not signalled sets the state and
// wakes every registered waiter; the woken thread then reads the states again.
//
// Lock order: event mutex, then waiter mutex; never the other way round. A
// waiter only leaves an event's list under that event's mutex, so a signalling
// thread that holds the event mutex can safely touch every waiter on the list.
#include "platform/failure_hooks_internal.h"
#include "platform/platform.h"

#include <pthread.h>
#include <time.h>

#include <cerrno>
#include <new>

namespace tovi::platform {
namespace {

class Waiter {
public:
    Waiter() {
        pthread_mutex_init(&mutex_, nullptr);
        pthread_condattr_t attributes;
        pthread_condattr_init(&attributes);
        pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
        pthread_cond_init(&condition_, &attributes);
        pthread_condattr_destroy(&attributes);
    }
    ~Waiter() {
        pthread_cond_destroy(&condition_);
        pthread_mutex_destroy(&mutex_);
    }
    Waiter(const Waiter&) = delete;
    Waiter& operator=(const Waiter&) = delete;

    // Called with the mutex of an event this waiter is registered on held.
    void Wake() {
        pthread_mutex_lock(&mutex_);
        woken_ = true;
        pthread_cond_signal(&condition_);
        pthread_mutex_unlock(&mutex_);
    }

    // Blocks until woken; consumes the wake-up.
    void Wait() {
        pthread_mutex_lock(&mutex_);
        while (!woken_) {
            pthread_cond_wait(&condition_, &mutex_);
        }
        woken_ = false;
        pthread_mutex_unlock(&mutex_);
    }

    // Blocks until woken or the CLOCK_MONOTONIC deadline; true when woken.
    bool WaitUntil(const timespec& deadline) {
        pthread_mutex_lock(&mutex_);
        while (!woken_) {
            if (pthread_cond_timedwait(&condition_, &mutex_, &deadline) == ETIMEDOUT) {
                break;
            }
        }
        const bool woken = woken_;
        woken_ = false;
        pthread_mutex_unlock(&mutex_);
        return woken;
    }

private:
    pthread_mutex_t mutex_;
    pthread_cond_t condition_;
    bool woken_ = false;
};

struct WaitNode {
    Waiter* waiter = nullptr;
    WaitNode* previous = nullptr;
    WaitNode* next = nullptr;
};

}  // namespace

struct EventObject {
    pthread_mutex_t mutex;
    bool signalled = false;
    WaitNode* waiters = nullptr;
};

namespace {

// The registrations of one waiter; leaves every list it joined when destroyed.
class Registration {
public:
    explicit Registration(Waiter& waiter) : waiter_(waiter) {}
    ~Registration() {
        for (std::uint32_t i = 0; i < count_; ++i) {
            EventObject* event = events_[i];
            WaitNode& node = nodes_[i];
            pthread_mutex_lock(&event->mutex);
            if (node.previous != nullptr) {
                node.previous->next = node.next;
            } else {
                event->waiters = node.next;
            }
            if (node.next != nullptr) {
                node.next->previous = node.previous;
            }
            pthread_mutex_unlock(&event->mutex);
        }
    }
    Registration(const Registration&) = delete;
    Registration& operator=(const Registration&) = delete;

    // Joins the event's list; returns the event's state read at that moment.
    // At most kMaxWaitEvents registrations.
    bool Add(EventObject* event) {
        WaitNode& node = nodes_[count_];
        events_[count_] = event;
        ++count_;
        node.waiter = &waiter_;
        pthread_mutex_lock(&event->mutex);
        node.previous = nullptr;
        node.next = event->waiters;
        if (event->waiters != nullptr) {
            event->waiters->previous = &node;
        }
        event->waiters = &node;
        const bool signalled = event->signalled;
        pthread_mutex_unlock(&event->mutex);
        return signalled;
    }

private:
    Waiter& waiter_;
    WaitNode nodes_[kMaxWaitEvents];
    EventObject* events_[kMaxWaitEvents] = {};
    std::uint32_t count_ = 0;
};

bool IsSignalled(EventObject* event) {
    pthread_mutex_lock(&event->mutex);
    const bool signalled = event->signalled;
    pthread_mutex_unlock(&event->mutex);
    return signalled;
}

std::uint32_t LowestSignalled(const EventHandle* events, std::uint32_t count) {
    for (std::uint32_t i = 0; i < count; ++i) {
        if (IsSignalled(events[i])) {
            return i;
        }
    }
    return kWaitFailed;
}

timespec DeadlineAfter(std::uint32_t timeout_ms) {
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += static_cast<time_t>(timeout_ms / 1000u);
    deadline.tv_nsec += static_cast<long>(timeout_ms % 1000u) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    return deadline;
}

}  // namespace

EventHandle CreateManualResetEvent() {
    if (detail::EventCreationShouldFail()) {
        return nullptr;
    }
    auto* event = new (std::nothrow) EventObject;
    if (event == nullptr) {
        return nullptr;
    }
    if (pthread_mutex_init(&event->mutex, nullptr) != 0) {
        delete event;
        return nullptr;
    }
    return event;
}

void SignalEvent(EventHandle event) {
    if (event == nullptr) {
        return;
    }
    pthread_mutex_lock(&event->mutex);
    if (!event->signalled) {
        event->signalled = true;
        for (WaitNode* node = event->waiters; node != nullptr; node = node->next) {
            node->waiter->Wake();
        }
    }
    pthread_mutex_unlock(&event->mutex);
}

void ResetEvent(EventHandle event) {
    if (event == nullptr) {
        return;
    }
    pthread_mutex_lock(&event->mutex);
    event->signalled = false;
    pthread_mutex_unlock(&event->mutex);
}

void CloseEvent(EventHandle event) {
    if (event == nullptr) {
        return;
    }
    pthread_mutex_destroy(&event->mutex);
    delete event;
}

std::uint32_t WaitForAnyEvent(const EventHandle* events, std::uint32_t count) {
    if (events == nullptr || count == 0 || count > kMaxWaitEvents) {
        return kWaitFailed;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        if (events[i] == nullptr) {
            return kWaitFailed;
        }
    }

    Waiter waiter;
    Registration registration(waiter);  // declared after waiter: leaves the lists first
    bool any_signalled = false;
    for (std::uint32_t i = 0; i < count; ++i) {
        // Register on all of them even when one is already signalled: it may be
        // reset again before the scan below, and then every event must be able to wake us.
        any_signalled = registration.Add(events[i]) || any_signalled;
    }
    for (;;) {
        if (any_signalled) {
            const std::uint32_t index = LowestSignalled(events, count);
            if (index != kWaitFailed) {
                return index;
            }
        }
        // A signal after the scan sets the woken flag, so it cannot be missed here.
        waiter.Wait();
        any_signalled = true;
    }
}

bool WaitForEvent(EventHandle event, std::uint32_t timeout_ms) {
    if (event == nullptr) {
        return false;
    }
    if (timeout_ms == 0) {
        return IsSignalled(event);
    }
    const timespec deadline = DeadlineAfter(timeout_ms);
    Waiter waiter;
    Registration registration(waiter);
    if (registration.Add(event)) {
        return true;
    }
    for (;;) {
        const bool woken = waiter.WaitUntil(deadline);
        if (IsSignalled(event)) {
            return true;
        }
        if (!woken) {
            return false;
        }
    }
}

}  // namespace tovi::platform
