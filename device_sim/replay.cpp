#include "device_sim/replay.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

namespace devsim::replay {
namespace {

// Functions whose answers describe the devices rather than an event: asked again
// after their recorded calls are used up, they give the last recorded answer.
bool Describes(const std::string& function) {
    return function == "DRV_DeviceGetNumOfList" || function == "DRV_DeviceGetList" ||
           function == "DRV_DeviceGetSubList" || function == "DRV_DeviceGetFeatures" || function == "COMGetConfig" ||
           function == "DRV_GetErrorMessage";
}

bool IsClose(const std::string& function) { return function == "DRV_DeviceClose" || function == "COMClose"; }

std::vector<recording::Field> Compared(const std::vector<recording::Field>& inputs) {
    std::vector<recording::Field> kept;
    for (const recording::Field& field : inputs) {
        if (field.key != "handle") kept.push_back(field);
    }
    return kept;
}

bool Same(const std::vector<recording::Field>& a, const std::vector<recording::Field>& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](const auto& x, const auto& y) {
               return x.key == y.key && x.value == y.value;
           });
}

struct Queue {
    std::vector<std::size_t> calls;  // indices into the recording, in order
    std::size_t next = 0;
};

class Replay {
public:
    std::atomic<bool> active{false};
    std::mutex mutex;
    // ---- guarded by mutex ----
    recording::Recording recording;
    std::map<std::string, Queue> queues;
    recording::HandleBook book;
    std::uint64_t calls = 0, divergences = 0, used = 0, closes_used = 0, closes = 0;
    bool ended = false;
    std::string first;

    void RewindLocked() {
        for (auto& [key, queue] : queues) queue.next = 0;
        book.Clear();
        calls = divergences = used = closes_used = 0;
        ended = false;
        first.clear();
    }

    void Diverge(const recording::Call& made, const std::string& what) {
        ++divergences;
        if (!first.empty()) return;
        first = "call " + std::to_string(calls) + ": " + recording::CallKey(made) + ": " + what;
    }
};

Replay& State() {
    static Replay replay;
    return replay;
}

}  // namespace

bool Active() { return State().active.load(std::memory_order_acquire); }

bool Load(std::string_view text, const std::string& origin, std::string& error) {
    recording::Recording loaded;
    if (!recording::ParseRecording(text, origin, loaded, error)) return false;
    Replay& r = State();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.recording = std::move(loaded);
    r.queues.clear();
    r.closes = 0;
    for (std::size_t i = 0; i < r.recording.calls.size(); ++i) {
        const recording::Call& call = r.recording.calls[i];
        r.queues[recording::CallKey(call)].calls.push_back(i);
        r.closes += IsClose(call.function);
    }
    r.RewindLocked();
    r.active.store(true, std::memory_order_release);
    return true;
}

void Rewind() {
    Replay& r = State();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.RewindLocked();
}

void Clear() {
    Replay& r = State();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.active.store(false, std::memory_order_release);
    r.recording = recording::Recording();
    r.queues.clear();
    r.RewindLocked();
}

vendor::Status Serve(recording::Shape shape) {
    Replay& r = State();
    std::lock_guard<std::mutex> lock(r.mutex);
    ++r.calls;
    shape.Resolve(r.book);
    recording::Call& made = shape.call;
    const auto found = r.queues.find(recording::CallKey(made));
    const recording::Call* recorded = nullptr;
    if (found != r.queues.end() && found->second.next < found->second.calls.size()) {
        Queue& queue = found->second;
        recorded = &r.recording.calls[queue.calls[queue.next++]];
        ++r.used;
        r.closes_used += IsClose(recorded->function);
        const auto expected = Compared(recorded->inputs);
        const auto got = Compared(made.inputs);
        if (!Same(expected, got)) {
            r.Diverge(made, "expected " + recording::FieldsText(expected) + " (line " + std::to_string(recorded->line) +
                                "), got " + recording::FieldsText(got));
        }
    } else if (found != r.queues.end() && Describes(made.function)) {
        recorded = &r.recording.calls[found->second.calls.back()];
    } else if (r.used == r.recording.calls.size()) {
        r.ended = true;  // past the end of the recording: the run went on longer
        return DEVSIM_E_INVALID_ARGUMENT;
    } else {
        r.Diverge(made, "expected no such call, got " + recording::FieldsText(Compared(made.inputs)));
        return DEVSIM_E_INVALID_ARGUMENT;
    }
    std::string why;
    if (!shape.Apply(*recorded, why)) r.Diverge(made, "line " + std::to_string(recorded->line) + ": " + why);
    r.book.Note(*recorded);
    return recorded->status;
}

bool StateOf(devsim_replay_state& state) {
    Replay& r = State();
    std::lock_guard<std::mutex> lock(r.mutex);
    if (!r.active.load(std::memory_order_relaxed)) return false;
    state.calls = r.calls;
    state.divergences = r.divergences;
    state.remaining = r.recording.calls.size() - r.used;
    state.remaining_closes = r.closes - r.closes_used;
    state.ended = r.ended ? 1 : 0;
    const std::size_t length = std::min(r.first.size(), sizeof state.first_divergence - 1);
    std::memcpy(state.first_divergence, r.first.data(), length);
    state.first_divergence[length] = '\0';
    return true;
}

}  // namespace devsim::replay
