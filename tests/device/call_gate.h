// Points where a thread of the driver is held until the test lets it go on: inside a
// simulated vendor call (the simulator's trace hook runs before the call returns to
// the driver) or inside the host's completion callback. Every wait is bounded, so
// that a driver that deadlocks fails its test instead of hanging the suite.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "device_sim/device_sim.h"

namespace devicetest {

constexpr auto kGuardTime = std::chrono::seconds(10);

class Gate {
public:
    // Run by the held thread: waits until the gate is opened, or thrice the guard
    // time has passed (a driver that makes the test thread wait for the held one).
    void Hold() {
        std::unique_lock<std::mutex> lock(mutex_);
        held_ = true;
        changed_.notify_all();
        if (!changed_.wait_for(lock, kGuardTime * 3, [&] { return open_; })) gave_up_ = true;
    }
    // True when a held thread went on by itself: the test could not open the gate.
    bool GaveUp() {
        std::lock_guard<std::mutex> guard(mutex_);
        return gave_up_;
    }
    // True once a thread waits in Hold.
    bool WaitUntilHeld() {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kGuardTime, [&] { return held_; });
    }
    void Open() {
        std::lock_guard<std::mutex> guard(mutex_);
        open_ = true;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool held_ = false;
    bool open_ = false;
    bool gave_up_ = false;
};

// Holds the n-th call of one vendor function, and keeps every trace line (and the
// notes the test adds) in the order they happened.
class VendorCallGate {
public:
    explicit VendorCallGate(std::string function, int occurrence = 1)
        : function_(std::move(function)), remaining_(occurrence) {
        devsim_trace_set_callback(&OnTrace, this);
    }
    ~VendorCallGate() {
        gate_.Open();
        devsim_trace_set_callback(nullptr, nullptr);
        EXPECT_FALSE(gate_.GaveUp()) << "the test was kept from opening the gate of " << function_;
    }
    VendorCallGate(const VendorCallGate&) = delete;
    VendorCallGate& operator=(const VendorCallGate&) = delete;

    bool WaitUntilHeld() { return gate_.WaitUntilHeld(); }
    void Open() { gate_.Open(); }

    void Note(const std::string& text) {
        std::lock_guard<std::mutex> guard(mutex_);
        journal_.push_back(text);
    }
    // The trace lines ("function", with " ch=N" when the call names an analogue
    // channel) and the notes, in order.
    std::vector<std::string> Journal() {
        std::lock_guard<std::mutex> guard(mutex_);
        return journal_;
    }

private:
    static void OnTrace(void* context, const char* line) {
        auto* self = static_cast<VendorCallGate*>(context);
        devsim::TraceRecord record;
        if (!devsim::ParseTraceLine(line, &record)) return;
        bool hold = false;
        {
            std::lock_guard<std::mutex> guard(self->mutex_);
            const std::string channel = record.Argument("ch");
            self->journal_.push_back(channel.empty() ? record.function : record.function + " ch=" + channel);
            if (record.function == self->function_) hold = --self->remaining_ == 0;
        }
        if (hold) self->gate_.Hold();
    }

    std::string function_;
    std::mutex mutex_;
    int remaining_;
    std::vector<std::string> journal_;
    Gate gate_;
};

}  // namespace devicetest
