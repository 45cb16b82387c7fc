#include "device_sim/replay.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "device_sim/model.h"
#include "device_sim/simulator.h"
#include "recording/recording_reader.h"

namespace devsim::replay {
namespace {

// Functions whose answers describe the devices rather than an event: asked again
// after their recorded calls are used up, they give the last recorded answer.
bool Describes(std::string_view function) {
    return function == "DRV_DeviceGetNumOfList" || function == "DRV_DeviceGetList" ||
           function == "DRV_DeviceGetSubList" || function == "DRV_DeviceGetFeatures" || function == "COMGetConfig" ||
           function == "DRV_GetErrorMessage";
}

// Calls that bind a device or a serial line: a run that does not need a device
// does not make them, which is no divergence (its reads and writes are).
bool SetsUp(std::string_view function) {
    return Describes(function) || function == "DRV_DeviceOpen" || function == "COMOpen" || function == "COMSetConfig";
}

bool IsClose(std::string_view function) { return function == "DRV_DeviceClose" || function == "COMClose"; }

// Calls that set an output or a setting the host's writes decide.
bool IsOutput(std::string_view function) {
    return function == "DRV_AOVoltageOut" || function == "DRV_DioWritePortByte" || function == "DRV_DioWriteBit" ||
           function == "COMWrite" || function == "DRV_CounterEventStart" || function == "DRV_CounterReset" ||
           function == "DRV_AlarmConfig" || function == "DRV_AlarmEnable" || function == "DRV_AlarmReset";
}

// What a function is, worked out once per call.
enum Kind : unsigned { kDescribes = 1, kSetsUp = 2, kClose = 4, kOutput = 8 };

unsigned KindOf(const std::string& function) {
    if (Describes(function)) return kDescribes | kSetsUp;
    if (SetsUp(function)) return kSetsUp;
    if (IsClose(function)) return kClose;
    return IsOutput(function) ? unsigned{kOutput} : 0u;
}

bool Same(const std::vector<recording::Field>& a, const std::vector<recording::Field>& b) {
    // The handle is the run's own number; everything else must match.
    auto next = [](const std::vector<recording::Field>& fields, std::size_t i) {
        while (i < fields.size() && fields[i].key == "handle") ++i;
        return i;
    };
    std::size_t i = next(a, 0), j = next(b, 0);
    while (i < a.size() && j < b.size()) {
        if (a[i].key != b[j].key || a[i].value != b[j].value) return false;
        i = next(a, i + 1);
        j = next(b, j + 1);
    }
    return i == a.size() && j == b.size();
}

std::vector<recording::Field> Compared(const std::vector<recording::Field>& inputs) {
    std::vector<recording::Field> kept;
    for (const recording::Field& field : inputs) {
        if (field.key != "handle") kept.push_back(field);
    }
    return kept;
}

std::int64_t Integer(const std::string& text) {
    std::int64_t value = -1;
    if (std::from_chars(text.data(), text.data() + text.size(), value).ec != std::errc()) return -1;
    return value;
}

// Where the calls come from: the files of a run, or a text.
class Source {
public:
    bool Open(const std::vector<std::string>& paths, std::string& error) {
        paths_ = paths;
        text_.reset();
        return Restart(error);
    }
    bool Load(std::string_view text, const std::string& origin, std::string& error) {
        text_ = std::make_unique<std::string>(text);
        origin_ = origin;
        return Restart(error);
    }
    bool Restart(std::string& error) {
        set_.reset();
        one_.reset();
        if (text_) {
            one_ = std::make_unique<recording::Reader>();
            if (!one_->OpenText(*text_, origin_, error)) return false;
            header_ = one_->header();
            return true;
        }
        set_ = std::make_unique<recording::SetReader>();
        if (!set_->Open(paths_, error)) return false;
        header_ = set_->header();
        return true;
    }
    bool Next(recording::Call& call, std::string& error) {
        if (one_) return one_->Next(call, error);
        return set_ && set_->Next(call, error);
    }
    // The file a call was read from, as named in messages.
    const std::string& Name(std::uint32_t file) const {
        if (one_ || !set_ || file >= set_->files()) return origin_;
        return set_->path(file);
    }
    const recording::Header& header() const { return header_; }
    std::uint64_t position() const { return one_ ? one_->position() : set_ ? set_->position() : 0; }
    std::uint64_t size() const { return one_ ? one_->size() : set_ ? set_->size() : 0; }
    std::size_t files() const { return set_ ? set_->files() : 1; }

private:
    std::vector<std::string> paths_;
    std::unique_ptr<std::string> text_;
    std::string origin_;
    std::unique_ptr<recording::SetReader> set_;
    std::unique_ptr<recording::Reader> one_;
    recording::Header header_;
};

struct Entry {
    recording::Call call;
    std::string key;
    bool used = false;
    bool close = false;
};

// The recorded calls around the latest one made, oldest first. A slot that drops
// off the front is used again at the back with the room its texts and fields took,
// so that reading a long recording allocates next to nothing per call.
class Window {
public:
    std::size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }
    Entry& operator[](std::size_t i) { return slots_[(head_ + i) & (slots_.size() - 1)]; }
    const Entry& operator[](std::size_t i) const { return slots_[(head_ + i) & (slots_.size() - 1)]; }
    Entry& front() { return (*this)[0]; }
    void pop_front() {
        head_ = (head_ + 1) & (slots_.size() - 1);
        --count_;
    }
    void pop_back() { --count_; }
    // A slot at the back, reset but for the room it holds.
    Entry& Append() {
        if (count_ == slots_.size()) Grow();
        Entry& entry = (*this)[count_++];
        entry.used = entry.close = false;
        return entry;
    }
    void clear() {
        slots_.clear();
        head_ = count_ = 0;
    }

private:
    void Grow() {
        std::vector<Entry> grown(slots_.empty() ? 64 : 2 * slots_.size());
        for (std::size_t i = 0; i < count_; ++i) grown[i] = std::move((*this)[i]);
        slots_ = std::move(grown);
        head_ = 0;
    }

    std::vector<Entry> slots_;  // a power of two of them
    std::size_t head_ = 0, count_ = 0;
};

// Divergences are ordered by their place in the recording: a recorded call's
// number n is at 2n+1, a call the recording does not hold, made after recorded
// call n-1, at 2n.
struct Divergence {
    std::uint64_t place = 0;
    std::string text;
};

class Replay {
public:
    std::atomic<bool> active{false};
    std::mutex mutex;
    // ---- guarded by mutex ----
    Source source;
    Window window;
    std::uint64_t base = 0;      // number of window.front()
    std::uint64_t frontier = 0;  // one past the latest recorded call made (closes of the stop aside)
    std::uint64_t reached_us = 0;
    std::uint32_t reached_file = 0;  // where the latest recorded call made is
    std::uint64_t reached_line = 0;  // (0: none yet)
    bool exhausted = false, stopping = false, finished = false;
    std::string damage;  // why the recording could not be read to its end
    // A file that begins mid-run begins mid-pass, at a place no call tells. The
    // host's first cycle is answered from the file without taking its calls; then
    // the file's first whole pass starts where the first read of that cycle comes,
    // and the part of a pass before it is left out.
    bool before_start = false;
    std::string first_key;     // the first read of the host's first cycle
    std::uint64_t before = 0;  // calls made before the recording's start
    std::uint64_t before_unheld = 0;  // of them, of keys the file holds no call of
    std::uint64_t left_out = 0;       // recorded calls of the partial pass left out
    std::uint64_t unused = 0;  // set-up calls of devices the run did not bind
    // Per key, the unmade numbers in order, and whether an input of the key was
    // made (the key's first call of a cycle starts the next one).
    struct Queue {
        std::deque<std::uint64_t> numbers;
        bool read = false;
    };
    std::unordered_map<std::string, Queue> waiting;
    std::uint64_t waiting_total = 0, waiting_closes = 0;                  // all of them, and the closes
    std::map<std::string, recording::Call> described;                     // per key, the last answer made
    std::unordered_set<std::string> read_keys;                            // keys of the inputs made so far
    std::vector<std::string> described_order;
    recording::HandleBook book;
    std::vector<std::int64_t> listed;                 // device numbers in the recorded device list
    std::map<std::int64_t, std::int64_t> port_device;  // serial port -> the listed device on it
    std::uint64_t calls = 0, made = 0, missing = 0, extra = 0, divergences = 0;
    bool ended = false;
    std::optional<Divergence> first;

    void Start() {
        window.clear();
        waiting.clear();
        waiting_total = waiting_closes = 0;
        described.clear();
        described_order.clear();
        read_keys.clear();
        book.Clear();
        listed.clear();
        port_device.clear();
        base = frontier = reached_us = 0;
        reached_file = 0;
        reached_line = 0;
        exhausted = stopping = finished = ended = false;
        damage.clear();
        before_start = source.header().continues;
        first_key.clear();
        calls = made = missing = extra = divergences = before = before_unheld = left_out = unused = 0;
        first.reset();
        if (source.header().continues) reached_us = source.header().continues_us;
        Fill();
    }

    std::string Place(const recording::Call& call) const {
        return source.Name(call.file) + ":" + std::to_string(call.line);
    }

    void Diverge(std::uint64_t place, std::string text) {
        ++divergences;
        if (!first || place < first->place) first = Divergence{place, std::move(text)};
    }

    void Missing(std::uint64_t number, const Entry& entry, const std::string& why) {
        ++missing;
        Diverge(2 * number + 1, Place(entry.call) + ": recorded " + entry.call.function + " " +
                                    recording::FieldsText(Compared(entry.call.inputs)) + ", not made" +
                                    (why.empty() ? "" : ": " + why));
    }

    void Fill() {
        std::string error;
        while (!exhausted && base + window.size() < frontier + kAhead) {
            Entry& entry = window.Append();
            if (!source.Next(entry.call, error)) {
                window.pop_back();
                exhausted = true;
                damage = error;  // a damaged line further on: the replay cannot go past it
                break;
            }
            recording::CallKeyInto(entry.call, entry.key);
            auto [queue, created] = waiting.try_emplace(entry.key);
            if (created) queue->second.read = read_keys.count(entry.key) != 0;
            queue->second.numbers.push_back(base + window.size() - 1);
            entry.close = IsClose(entry.call.function);
            ++waiting_total;
            waiting_closes += entry.close;
        }
    }

    // Drops what is further behind than the window reaches; unmade calls among
    // it are missing.
    void Expire(std::uint64_t keep_from) {
        while (!window.empty() && base < keep_from) {
            Entry& entry = window.front();
            if (!entry.used) {
                if (SetsUp(entry.call.function)) ++unused;
                else Missing(base, entry, "");
                Unwait(entry.key, base);
            }
            window.pop_front();
            ++base;
        }
    }

    void Unwait(const std::string& key, std::uint64_t number) {
        const auto found = waiting.find(key);
        if (found == waiting.end()) return;
        auto& numbers = found->second.numbers;
        const auto at = std::find(numbers.begin(), numbers.end(), number);
        if (at != numbers.end()) {
            numbers.erase(at);
            --waiting_total;
            waiting_closes -= window[static_cast<std::size_t>(number - base)].close;
        }
        if (numbers.empty()) waiting.erase(found);
    }

    Entry* At(std::uint64_t number) {
        if (number < base || number >= base + window.size()) return nullptr;
        return &window[static_cast<std::size_t>(number - base)];
    }

    // The end of the host's first cycle in a file that begins mid-run: the file's
    // own calls before the first one of that cycle's first read are left out. A
    // file that holds no such call holds no whole pass: all its own calls but the
    // closes are left out once it is read whole; if it is not, nothing is.
    void SkipPartialPass() {
        before_start = false;
        std::uint64_t start = base + window.size();
        if (const auto found = waiting.find(first_key); found != waiting.end()) {
            for (const std::uint64_t number : found->second.numbers)
                if (!At(number)->call.carried) {
                    start = number;
                    break;
                }
        } else if (!exhausted) {
            return;
        }
        for (std::uint64_t number = base; number < start; ++number) {
            Entry& entry = *At(number);
            if (entry.used || entry.call.carried || entry.close) continue;
            entry.used = true;
            Unwait(entry.key, number);
            ++left_out;
        }
        frontier = std::max(frontier, start);
    }

    bool OnlyClosesWait() const { return waiting_total == waiting_closes; }

    // True once the recording is read to its end and every recorded call after the
    // latest one made is a close (of the driver's stop).
    bool Through() const {
        if (!exhausted) return false;
        for (std::uint64_t number = std::max(frontier, base); number < base + window.size(); ++number) {
            const Entry& entry = window[static_cast<std::size_t>(number - base)];
            if (!entry.used && !entry.close) return false;
        }
        return true;
    }

    void Learn(const recording::Call& call) {
        book.Note(call);
        if (call.status != 0) return;
        if (call.function == "DRV_DeviceGetList") {
            listed.clear();
            for (const recording::Field& field : call.outputs)
                if (field.key == "entry") listed.push_back(Integer(field.value.substr(0, field.value.find(' '))));
        } else if (call.function == "COMGetConfig") {
            const recording::Field* index = call.Input("index");
            for (const recording::Field& field : call.outputs) {
                if (field.key != "config" || field.value.size() < 8 || index == nullptr) continue;
                std::uint32_t port = 0;
                for (int byte = 3; byte >= 0; --byte) {
                    unsigned value = 0;
                    std::from_chars(field.value.data() + 2 * byte, field.value.data() + 2 * byte + 2, value, 16);
                    port = (port << 8) | value;
                }
                const std::int64_t position = Integer(index->value);
                if (position >= 0 && static_cast<std::size_t>(position) < listed.size())
                    port_device[port] = listed[static_cast<std::size_t>(position)];
            }
        }
    }

    // The device a call counts for in the statistics, or -1.
    std::int64_t DeviceOf(const recording::Call& call) const {
        if (const recording::Field* dev = call.Input("dev")) return Integer(dev->value);
        if (call.function.rfind("COM", 0) == 0) {
            if (const recording::Field* port = call.Input("port")) {
                const auto found = port_device.find(Integer(port->value));
                if (found != port_device.end()) return found->second;
            }
        }
        return -1;
    }
};

Replay& State() {
    static Replay replay;
    return replay;
}

// Counts a replayed call for its device, as the simulator counts its own calls.
void Count(const std::string& function, std::int64_t device) {
    int fn = -1;
    if (!FunctionFromName(function, &fn)) return;
    Simulator& sim = Simulator::Instance();
    std::lock_guard<std::mutex> lock(sim.mutex);
    ++sim.counts[fn][device];
}

template <class Install>
bool Begin(Install install, std::string& error) {
    Replay& r = State();
    std::lock_guard<std::mutex> lock(r.mutex);
    Source previous = std::move(r.source);
    if (!install(r.source, error)) {
        r.source = std::move(previous);
        return false;
    }
    r.Start();
    r.active.store(true, std::memory_order_release);
    return true;
}

}  // namespace

bool Active() { return State().active.load(std::memory_order_acquire); }

bool Open(const std::vector<std::string>& paths, std::string& error) {
    return Begin([&](Source& source, std::string& why) { return source.Open(paths, why); }, error);
}

bool Load(std::string_view text, const std::string& origin, std::string& error) {
    // A whole text is checked before it replaces the device set, as a device set is.
    recording::Recording checked;
    if (!recording::ParseRecording(text, origin, checked, error)) return false;
    return Begin([&](Source& source, std::string& why) { return source.Load(text, origin, why); }, error);
}

void Rewind() {
    Replay& r = State();
    std::lock_guard<std::mutex> lock(r.mutex);
    if (!r.active.load(std::memory_order_relaxed)) return;
    std::string error;
    if (r.source.Restart(error)) {
        r.Start();
    } else {
        // The files changed under the replay: nothing more to answer from.
        r.window.clear();
        r.waiting.clear();
        r.waiting_total = r.waiting_closes = 0;
        r.exhausted = true;
        r.damage = error;
    }
}

void Clear() {
    Replay& r = State();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.active.store(false, std::memory_order_release);
    r.source = Source();
    r.Start();
}

void Stopping() {
    Replay& r = State();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.stopping = true;
}

void CycleDone() {
    Replay& r = State();
    std::lock_guard<std::mutex> lock(r.mutex);
    if (r.before_start) r.SkipPartialPass();
}

void Finish() {
    Replay& r = State();
    std::lock_guard<std::mutex> lock(r.mutex);
    if (r.finished) return;
    r.finished = true;
    r.Expire(r.frontier);
}

vendor::Status Serve(recording::Shape shape) {
    Replay& r = State();
    std::int64_t device = -1;
    vendor::Status status = 0;
    {
        std::lock_guard<std::mutex> lock(r.mutex);
        ++r.calls;
        shape.Resolve(r.book);
        recording::Call& made = shape.call;
        const unsigned kind = KindOf(made.function);
        device = r.DeviceOf(made);
        // Kept from call to call for its room (under the lock: one call at a time).
        static std::string key;
        recording::CallKeyInto(made, key);
        const auto found = r.waiting.find(key);
        const recording::Call* recorded = nullptr;
        std::uint64_t number = 0;
        const bool before = r.before_start && (found == r.waiting.end() || !r.At(found->second.numbers.front())->call.carried);
        if (before && r.first_key.empty() && (kind & (kSetsUp | kOutput | kClose)) == 0) r.first_key = key;
        if (before && found != r.waiting.end()) {
            // Before the recording's start: answered as the next recorded call of
            // its kind will be, which stays for its own turn.
            ++r.before;
            recorded = &r.At(found->second.numbers.front())->call;
            number = found->second.numbers.front();
        } else if (found != r.waiting.end()) {
            number = found->second.numbers.front();
            found->second.numbers.pop_front();
            --r.waiting_total;
            r.waiting_closes -= r.At(number)->close;
            if ((kind & (kOutput | kClose | kDescribes)) == 0 && !found->second.read) {
                found->second.read = true;
                r.read_keys.insert(key);
            }
            if (found->second.numbers.empty()) r.waiting.erase(found);
            Entry& entry = *r.At(number);
            entry.used = true;
            ++r.made;
            recorded = &entry.call;
            if (!(r.stopping && (kind & kClose) != 0) && number + 1 > r.frontier) {
                r.frontier = number + 1;
                r.reached_us = std::max(r.reached_us, recorded->time_us);
                r.reached_file = recorded->file;
                r.reached_line = recorded->line;
            }
            if (!Same(recorded->inputs, made.inputs)) {
                const auto got = Compared(made.inputs);
                r.Diverge(2 * number + 1, "call " + std::to_string(r.calls) + ": " + key + ": expected " +
                                              recording::FieldsText(Compared(recorded->inputs)) + " (" +
                                              r.Place(*recorded) + "), got " + recording::FieldsText(got));
            }
            if ((kind & kDescribes) != 0) {
                auto [at, inserted] = r.described.insert_or_assign(key, *recorded);
                if (inserted) r.described_order.push_back(key);
            }
        } else if ((kind & kDescribes) != 0 && r.described.count(key) != 0) {
            recorded = &r.described[key];
        } else if (before) {
            // Before the recording's start, of what the file holds no call of:
            // nothing to answer with.
            ++r.before;
            ++r.before_unheld;
            return DEVSIM_E_INVALID_ARGUMENT;
        } else if (r.stopping || (r.exhausted && r.OnlyClosesWait())) {
            r.ended = true;  // past the end of the recording, or a stop that closes what was not reached
            return DEVSIM_E_INVALID_ARGUMENT;
        } else {
            ++r.extra;
            const std::string after = r.frontier == 0 || r.At(r.frontier - 1) == nullptr
                                          ? std::string()
                                          : " (after " + r.Place(r.At(r.frontier - 1)->call) + ")";
            r.Diverge(2 * r.frontier, "call " + std::to_string(r.calls) + ": " + key + ": " +
                                          recording::FieldsText(Compared(made.inputs)) +
                                          " is not in the recording" + after);
            return DEVSIM_E_INVALID_ARGUMENT;
        }
        std::string why;
        if (!shape.Apply(*recorded, why)) {
            r.Diverge(2 * number + 1, "call " + std::to_string(r.calls) + ": " + key + ": " + r.Place(*recorded) + ": " + why);
        }
        r.Learn(*recorded);
        status = recorded->status;
        if (r.frontier > kBehind) r.Expire(r.frontier - kBehind);
        r.Fill();
    }
    Count(shape.call.function, device);
    return status;
}

bool StateOf(devsim_replay_state& state) {
    Replay& r = State();
    std::lock_guard<std::mutex> lock(r.mutex);
    if (!r.active.load(std::memory_order_relaxed)) return false;
    state.calls = r.calls;
    state.divergences = r.divergences;
    state.remaining = r.waiting_total;
    state.remaining_closes = r.waiting_closes;
    state.through = r.Through() ? 1 : 0;
    state.ended = r.ended ? 1 : 0;
    state.made = r.made;
    state.before_start = r.before;
    state.before_unheld = r.before_unheld;
    state.left_out = r.left_out;
    state.unused_setup = r.unused;
    const std::size_t damage_length = std::min(r.damage.size(), sizeof state.damage - 1);
    std::memcpy(state.damage, r.damage.data(), damage_length);
    state.damage[damage_length] = '\0';
    state.missing = r.missing;
    state.extra = r.extra;
    state.read_all = r.exhausted ? 1 : 0;
    state.continues = r.source.header().continues ? 1 : 0;
    state.continues_us = r.source.header().continues_us;
    state.reached_us = r.reached_us;
    state.position = r.source.position();
    state.size = r.source.size();
    state.files = static_cast<std::uint32_t>(r.source.files());
    const std::string& first = r.first ? r.first->text : std::string();
    const std::size_t length = std::min(first.size(), sizeof state.first_divergence - 1);
    std::memcpy(state.first_divergence, first.data(), length);
    state.first_divergence[length] = '\0';
    const std::string reached_at =
        r.reached_line == 0 ? std::string() : r.source.Name(r.reached_file) + ":" + std::to_string(r.reached_line);
    const std::size_t at_length = std::min(reached_at.size(), sizeof state.reached_at - 1);
    std::memcpy(state.reached_at, reached_at.data(), at_length);
    state.reached_at[at_length] = '\0';
    const std::string& started = r.source.header().started;
    const std::size_t started_length = std::min(started.size(), sizeof state.started - 1);
    std::memcpy(state.started, started.data(), started_length);
    state.started[started_length] = '\0';
    return true;
}

std::vector<Upcoming> UpcomingOutputs() {
    Replay& r = State();
    std::lock_guard<std::mutex> lock(r.mutex);
    // The next cycle begins where an input made before is read again: the writes
    // of this cycle come before it.
    std::uint64_t next_cycle = UINT64_MAX;
    for (const auto& [key, queue] : r.waiting)
        if (queue.read) next_cycle = std::min(next_cycle, queue.numbers.front());
    std::vector<Upcoming> upcoming;
    // The next output of each key; of a serial port every frame of the cycle, since
    // a display is sent its selection and its value in one batch. The driver merges
    // a batch's writes of one port or channel into one call, so a further call of
    // another key belongs to a later batch.
    for (const auto& [key, queue] : r.waiting) {
        for (const std::uint64_t number : queue.numbers) {
            if (number >= next_cycle) break;
            const Entry& entry = r.window[static_cast<std::size_t>(number - r.base)];
            if (!IsOutput(entry.call.function)) break;
            upcoming.push_back({number, entry.call});
            if (entry.call.function != "COMWrite") break;
        }
    }
    std::sort(upcoming.begin(), upcoming.end(), [](const Upcoming& a, const Upcoming& b) { return a.number < b.number; });
    return upcoming;
}

std::vector<recording::Call> Described() {
    Replay& r = State();
    std::lock_guard<std::mutex> lock(r.mutex);
    std::vector<recording::Call> calls;
    for (const std::string& key : r.described_order) calls.push_back(r.described.at(key));
    return calls;
}

bool PassOver(std::uint64_t number, const std::string& why) {
    Replay& r = State();
    std::lock_guard<std::mutex> lock(r.mutex);
    Entry* entry = r.At(number);
    if (entry == nullptr || entry->used) return false;
    entry->used = true;  // not to be made any more
    r.Unwait(entry->key, number);
    r.Missing(number, *entry, why);
    return true;
}

}  // namespace devsim::replay
