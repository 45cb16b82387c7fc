#include "recorder/recorder.h"

#include <cstdio>

#include "platform/platform.h"
#include "recorder/recorder_summary.h"
#include "recorder/serial_table.h"

namespace recorder {
namespace {

// Both recorder libraries export this; a library that has it is never forwarded to.
constexpr char kRecorderMark[] = "tovi_recorder_format";

// How often recorder.ini is looked at for a change of record=.
constexpr std::chrono::seconds kSettingsCheck{1};

template <class Fn>
bool Resolve(tovi::platform::LibraryHandle library, const std::string& prefix, const char* name, Fn& target,
             std::string& why, const std::string& path) {
    target = reinterpret_cast<Fn>(tovi::platform::LibrarySymbol(library, (prefix + name).c_str()));
    if (target == nullptr) why = path + " has no " + prefix + name;
    return target != nullptr;
}

tovi::platform::LibraryHandle OpenVendor(const std::string& path, std::string& why) {
    char error[512] = {};
    tovi::platform::LibraryHandle library = tovi::platform::OpenLibrary(path.c_str(), sizeof error - 1, error);
    if (library == nullptr) {
        why = "cannot load " + path + " (" + error + ")";
        return nullptr;
    }
    if (tovi::platform::LibrarySymbol(library, kRecorderMark) != nullptr) {
        tovi::platform::CloseLibrary(library);
        why = path + " is a recorder library, not the vendor's: name the vendor's library in " + kSettingsFile;
        return nullptr;
    }
    return library;
}

}  // namespace

Recorder& Recorder::Instance() {
    static Recorder recorder;
    return recorder;
}

Recorder::Recorder()
    : origin_(std::chrono::steady_clock::now()),
      directory_(DirectoryOf(reinterpret_cast<const void*>(&Recorder::Instance))) {
    stamp_ = StampOf(directory_);
    std::string problems;
    const Settings settings = ReadSettings(directory_, problems);
    if (!problems.empty()) std::fprintf(stderr, "tovi recorder: %s%s", directory_.c_str(), problems.c_str());
    ready_ = Load(settings);
    if (!ready_) std::fprintf(stderr, "tovi recorder: %s\n", why_.c_str());
    next_check_ = (origin_ + kSettingsCheck).time_since_epoch().count();
    header_.started = recording::UtcNow();
    header_.device_library = settings.device_library;
    header_.serial_library = settings.serial_library;
    for (std::size_t start = 0; start < problems.size();) {
        const std::size_t end = problems.find('\n', start);
        notes_ += "# " + problems.substr(start, end - start) + "\n";
        start = end + 1;
    }
    if (!ready_) notes_ += "# not forwarded: " + why_ + "\n";
    std::lock_guard<std::mutex> lock(mutex_);
    writer_.Configure(settings.file, settings.max_bytes, settings.keep, std::chrono::milliseconds(settings.flush_ms));
    record_ = settings.record;
    if (record_) writer_.Open(OpeningLocked(false, 0), "");
}

std::string Recorder::OpeningLocked(bool continues, std::uint64_t time_us) const {
    recording::Header header = header_;
    header.continues = continues;
    header.continues_us = time_us;
    return recording::HeaderText(header) + notes_ + (continues ? carried_.Text() : std::string());
}

void Recorder::FollowSettings(std::chrono::steady_clock::time_point now) {
    const auto ticks = now.time_since_epoch().count();
    auto due = next_check_.load(std::memory_order_relaxed);
    if (ticks < due) return;
    if (!next_check_.compare_exchange_strong(due, (now + kSettingsCheck).time_since_epoch().count(),
                                             std::memory_order_relaxed)) {
        return;  // another thread looks this time
    }
    const SettingsStamp stamp = StampOf(directory_);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stamp == stamp_) return;
        stamp_ = stamp;
    }
    std::string problems;
    const Settings settings = ReadSettings(directory_, problems);
    // A file removed or being written says nothing yet.
    if (!settings.record_given) return;
    const bool record = settings.record;
    std::lock_guard<std::mutex> lock(mutex_);
    if (record == record_) return;
    record_ = record;
    const auto time_us = static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - origin_).count());
    if (record) {
        std::fprintf(stderr, "tovi recorder: record=on in %s%s: recording\n", directory_.c_str(), kSettingsFile);
        writer_.Open(OpeningLocked(true, time_us), "# recording again from " + std::to_string(time_us) + ": record=on\n");
    } else if (writer_.recording()) {
        std::fprintf(stderr, "tovi recorder: record=off in %s%s: recording stopped\n", directory_.c_str(),
                     kSettingsFile);
        writer_.Finish("# recording stopped at " + std::to_string(time_us) + ": record=off in " + kSettingsFile + "\n");
    }
}

bool Recorder::Load(const Settings& settings) {
    // The device library first: a serial library may need it loaded.
    tovi::platform::LibraryHandle device = OpenVendor(settings.device_library, why_);
    if (device == nullptr) return false;
    tovi::platform::LibraryHandle serial = OpenVendor(settings.serial_library, why_);
    if (serial == nullptr) return false;
    const std::string& d = settings.device_library;
    const std::string& s = settings.serial_library;
#define TOVI_RESOLVE_DEVICE(name) Resolve(device, "DRV_", #name, vendor_.name, why_, d) &&
#define TOVI_RESOLVE_SERIAL(name) Resolve(serial, "", #name, vendor_.name, why_, s) &&
    // The libraries stay loaded for the life of the process, as the driver keeps its own.
    const bool resolved = TOVI_VENDOR_FUNCTIONS(TOVI_RESOLVE_DEVICE) TOVI_SERIAL_FUNCTIONS(TOVI_RESOLVE_SERIAL) true;
#undef TOVI_RESOLVE_DEVICE
#undef TOVI_RESOLVE_SERIAL
    if (resolved) {
        origins_.AddVendorLibrary(reinterpret_cast<const void*>(vendor_.GetErrorMessage));
        origins_.AddVendorLibrary(reinterpret_cast<const void*>(vendor_.COMOpen));
    }
    return resolved;
}

void Recorder::Write(recording::Shape& shape, std::chrono::steady_clock::time_point started,
                     std::chrono::steady_clock::time_point finished) {
    using std::chrono::duration_cast;
    using std::chrono::microseconds;
    shape.call.time_us = static_cast<std::uint64_t>(duration_cast<microseconds>(started - origin_).count());
    shape.call.duration_us = static_cast<std::uint64_t>(duration_cast<microseconds>(finished - started).count());
    shape.call.has_duration = true;
    shape.call.thread = recording::ThreadNumber();
    std::lock_guard<std::mutex> lock(mutex_);
    shape.Resolve(book_);
    book_.Note(shape.call);
    if (writer_.recording()) {
        line_.clear();
        recording::AppendCallLine(shape.call, line_);
        if (writer_.Full(line_.size())) writer_.Rotate(OpeningLocked(true, shape.call.time_us));
        writer_.Append(line_, shape.call.status != 0);
    }
    carried_.Note(shape.call);
}

void Recorder::WriteInnerCall(recording::Shape& shape) {
    shape.call.thread = recording::ThreadNumber();
    std::lock_guard<std::mutex> lock(mutex_);
    if (!writer_.recording()) return;
    shape.Resolve(book_);
    line_ = "# inner call of a vendor library, not the driver's: ";
    recording::AppendCallLine(shape.call, line_);
    writer_.Append(line_, false);
}

}  // namespace recorder

// Read from recorder.ini once, without starting the recorder: a host may ask
// before the driver loads this library.
extern "C" TOVI_RECORDER_EXPORT const recorder::Summary* tovi_recorder_summary() {
    struct Held {
        recorder::Settings settings;
        recorder::Summary summary;
    };
    static const Held held = [] {
        Held h;
        std::string problems;
        h.settings = recorder::ReadSettings(recorder::DirectoryOf(reinterpret_cast<const void*>(&tovi_recorder_summary)),
                                            problems);
        return h;
    }();
    static const recorder::Summary summary{held.settings.file.c_str(), held.settings.device_library.c_str(),
                                           held.settings.record ? 1 : 0};
    return &summary;
}
