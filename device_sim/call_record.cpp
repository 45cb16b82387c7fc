#include "device_sim/call_record.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "device_sim/device_sim.h"

namespace devsim::record {
namespace {

std::atomic<bool> recording{false};
thread_local int inside_depth = 0;

struct State {
    std::mutex mutex;
    // ---- guarded by mutex ----
    std::FILE* file = nullptr;
    std::string path;
    bool failed = false;
    std::chrono::steady_clock::time_point origin;
    recording::HandleBook book;
    std::string line;
};

State& TheState() {
    static State state;
    return state;
}

}  // namespace

Inside::Inside() { ++inside_depth; }
Inside::~Inside() { --inside_depth; }

bool Wanted() { return inside_depth == 0 && recording.load(std::memory_order_acquire); }

std::chrono::steady_clock::time_point Now() { return std::chrono::steady_clock::now(); }

bool Start(const std::string& path, std::string& error) {
    State& state = TheState();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (state.file != nullptr) {
        error = "already recording into " + state.path;
        return false;
    }
    errno = 0;
    std::FILE* file = path.empty() ? nullptr : std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        error = path + ": cannot be written: " + (errno != 0 ? std::strerror(errno) : "no file name given");
        return false;
    }
    recording::Header header;
    header.started = recording::UtcNow();
    header.device_library = "simulated ADSAPI32";
    header.serial_library = "simulated ADSCOMM";
    const std::string text = recording::HeaderText(header);
    state.failed = std::fwrite(text.data(), 1, text.size(), file) != text.size();
    state.file = file;
    state.path = path;
    state.origin = Now();
    state.book.Clear();
    recording.store(true, std::memory_order_release);
    return true;
}

bool Stop(std::string& error) {
    State& state = TheState();
    std::lock_guard<std::mutex> lock(state.mutex);
    recording.store(false, std::memory_order_release);
    if (state.file == nullptr) return true;
    const bool closed = std::fclose(state.file) == 0;
    state.file = nullptr;
    if (!closed || state.failed) {
        error = state.path + ": the recording could not be written whole";
        return false;
    }
    return true;
}

void Write(recording::Shape& shape, std::chrono::steady_clock::time_point started,
           std::chrono::steady_clock::time_point finished, vendor::Status status) {
    using std::chrono::duration_cast;
    using std::chrono::microseconds;
    shape.Capture(status);
    shape.call.duration_us = static_cast<std::uint64_t>(duration_cast<microseconds>(finished - started).count());
    shape.call.has_duration = true;
    shape.call.thread = recording::ThreadNumber();
    State& state = TheState();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (state.file == nullptr) return;
    const auto since = started > state.origin ? started - state.origin : std::chrono::steady_clock::duration{};
    shape.call.time_us = static_cast<std::uint64_t>(duration_cast<microseconds>(since).count());
    shape.Resolve(state.book);
    state.book.Note(shape.call);
    state.line.clear();
    recording::AppendCallLine(shape.call, state.line);
    if (std::fwrite(state.line.data(), 1, state.line.size(), state.file) != state.line.size()) state.failed = true;
}

}  // namespace devsim::record

namespace {

void CopyError(const std::string& text, char* error, uint32_t capacity) {
    if (error == nullptr || capacity == 0) return;
    const std::size_t length = std::min<std::size_t>(text.size(), capacity - 1);
    std::memcpy(error, text.data(), length);
    error[length] = '\0';
}

}  // namespace

extern "C" {

int devsim_record_start(const char* path, char* error, uint32_t capacity) {
    std::string why;
    if (devsim::record::Start(path == nullptr ? "" : path, why)) return 0;
    CopyError(why, error, capacity);
    return -1;
}

int devsim_record_stop(char* error, uint32_t capacity) {
    std::string why;
    if (devsim::record::Stop(why)) return 0;
    CopyError(why, error, capacity);
    return -1;
}

}  // extern "C"
