// The shared simulation state behind both libraries, and the frame every
// simulated call goes through: delay, clock tick, injected faults, call counts
// and the trace line.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "device/vendor_api.h"
#include "device_sim/device_sim.h"
#include "device_sim/model.h"

namespace devsim {

struct SerialHandle {
    std::uint32_t port = 0;
    std::string pending;   // bytes written since the last CR
    std::string received;  // replies not read yet
    int last_unit = -1;    // display addressed by the last frame
};

class Simulator {
public:
    static Simulator& Instance();

    std::mutex mutex;

    // ---- everything below is guarded by `mutex` ----
    DeviceSet set;
    DeviceSet initial;  // as loaded, for Reset
    std::map<vendor::Handle, int> device_handles;  // handle → unit index
    std::map<vendor::Handle, SerialHandle> serial_handles;
    std::map<std::int32_t, std::string> error_texts;  // texts given with injected faults
    std::int32_t next_fault_id = 1;

    void Install(const DeviceSet& loaded);  // new set, fresh run-time state
    void Reset() { Install(initial); }

    // Clock.
    std::int64_t NowMicroseconds() const;
    double NowSeconds() const { return static_cast<double>(NowMicroseconds()) / 1e6; }
    void Advance(std::int64_t microseconds);
    void SetStep(std::int64_t microseconds) { set.clock_step = microseconds < 0 ? 0 : microseconds; }
    void SetReal(bool on);
    void Tick() { if (!set.clock_real) clock_ += set.clock_step; }

    // Look-ups; -1 / null when absent.
    int UnitIndex(std::uint32_t number) const;
    Unit* UnitByNumber(std::uint32_t number);
    int UnitOfHandle(vendor::Handle handle) const;
    std::uint32_t SerialPortOf(const Unit& unit) const;

    vendor::Handle NewHandle();
    std::uint32_t DelayFor(Fn fn, int unit) const;
    // The text DRV_GetErrorMessage gives for a status (at most 255 characters).
    std::string ErrorText(std::int32_t status) const;

    // Trace and counts.
    void AppendTrace(std::string line);
    std::deque<std::string> trace;
    std::uint64_t trace_dropped = 0;
    std::uint64_t sequence = 0;
    std::map<std::int64_t, std::uint64_t> counts[kFunctionCount];  // device number (-1: none) → calls

    // The live trace hook; guarded by callback_mutex, called outside `mutex`.
    void Notify(const std::string& line);
    std::mutex callback_mutex;
    devsim_trace_callback callback = nullptr;
    void* callback_context = nullptr;

private:
    std::int64_t clock_ = 0;
    std::chrono::steady_clock::time_point real_base_{};
    vendor::Handle next_handle_ = 0x00010001;
};

// One simulated call being served: collects the trace line's arguments and
// results, finds injected faults, counts the call.
class Call {
public:
    Call(Simulator& sim, Fn fn) : sim_(sim), fn_(fn) {}

    // The device the call concerns (adds dev= and name= to the arguments).
    void SetUnit(int index);
    int unit() const { return unit_; }
    // The channel, port, counter, alarm channel or serial port the call concerns.
    void SetChannel(std::int64_t channel) { channel_ = channel; }

    void Arg(const char* key, const std::string& value);
    void Arg(const char* key, std::int64_t value) { Arg(key, std::to_string(value)); }
    void ArgHex(const char* key, std::uint32_t value, int digits);
    void ArgFloat(const char* key, float value);
    void ArgText(const char* key, const std::string& value);
    void Result(const char* key, const std::string& value);
    void Result(const char* key, std::int64_t value) { Result(key, std::to_string(value)); }
    void ResultHex(const char* key, std::uint32_t value, int digits);
    void ResultFloat(const char* key, float value);
    void ResultReal(const char* key, double value);
    void ResultText(const char* key, const std::string& value);

    // The status of an injected fault that fires on this call.
    std::optional<vendor::Status> Injected();

    // Counts the call and builds its trace line.
    std::string Finish(vendor::Status status);

private:
    Simulator& sim_;
    Fn fn_;
    int unit_ = -1;
    std::int64_t channel_ = -1;
    bool injected_ = false;
    std::string arguments_;
    std::string results_;
};

// Text for a trace line: quoted, with \\, \", \r, \n, \t and \xHH escapes.
std::string Quote(const std::string& text);
// Shortest text that reads back as the same float / double.
std::string FloatText(float value);
std::string RealText(double value);

// Serves one simulated call: the delay for (fn, resolve(sim)) outside the lock,
// then body(sim, call) under the lock, then the trace hook.
template <class Resolve, class Body>
vendor::Status Serve(Fn fn, Resolve resolve, Body body) {
    Simulator& sim = Simulator::Instance();
    std::uint32_t delay = 0;
    {
        std::lock_guard<std::mutex> lock(sim.mutex);
        delay = sim.DelayFor(fn, resolve(sim));
    }
    if (delay != 0) std::this_thread::sleep_for(std::chrono::microseconds(delay));
    std::string line;
    vendor::Status status = 0;
    {
        std::lock_guard<std::mutex> lock(sim.mutex);
        sim.Tick();
        Call call(sim, fn);
        status = body(sim, call);
        line = call.Finish(status);
    }
    sim.Notify(line);
    return status;
}

// Count and overflow a counter would report now: counts since its last reset,
// overflow when that is beyond 32 bits.
void CounterReading(const Counter& counter, double t, std::uint32_t* count, bool* overflow);

// Writes a value to a caller's pointer that may not be aligned for its type.
template <class T>
void Store(T* target, T value) {
    std::memcpy(static_cast<void*>(target), &value, sizeof value);
}

}  // namespace devsim
