#include "recorder/recorder.h"

#include <atomic>
#include <cstdio>
#include <ctime>

#include "platform/platform.h"

namespace recorder {
namespace {

// Both recorder libraries export this; a library that has it is never forwarded to.
constexpr char kRecorderMark[] = "tovi_recorder_format";

std::uint32_t ThreadNumber() {
    static std::atomic<std::uint32_t> next{1};
    thread_local const std::uint32_t number = next.fetch_add(1);
    return number;
}

std::string UtcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
#if defined(_WIN32)
    gmtime_s(&parts, &now);
#else
    gmtime_r(&now, &parts);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

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

Recorder::Recorder() : origin_(std::chrono::steady_clock::now()) {
    const std::string directory = DirectoryOf(reinterpret_cast<const void*>(&ThreadNumber));
    std::string problems;
    const Settings settings = ReadSettings(directory, problems);
    if (!problems.empty()) std::fprintf(stderr, "tovi recorder: %s%s", directory.c_str(), problems.c_str());
    ready_ = Load(settings);
    if (!ready_) std::fprintf(stderr, "tovi recorder: %s\n", why_.c_str());
    if (!settings.record) return;
    recording::Header header;
    header.started = UtcNow();
    header.device_library = settings.device_library;
    header.serial_library = settings.serial_library;
    std::string text = recording::HeaderText(header);
    for (std::size_t start = 0; start < problems.size();) {
        const std::size_t end = problems.find('\n', start);
        text += "# " + problems.substr(start, end - start) + "\n";
        start = end + 1;
    }
    if (!ready_) text += "# not forwarded: " + why_ + "\n";
    std::lock_guard<std::mutex> lock(mutex_);
    writer_.Open(settings.file, text, settings.max_bytes, settings.keep, std::chrono::milliseconds(settings.flush_ms));
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
    return TOVI_VENDOR_FUNCTIONS(TOVI_RESOLVE_DEVICE) TOVI_SERIAL_FUNCTIONS(TOVI_RESOLVE_SERIAL) true;
#undef TOVI_RESOLVE_DEVICE
#undef TOVI_RESOLVE_SERIAL
}

void Recorder::Write(recording::Shape& shape, std::chrono::steady_clock::time_point started,
                     std::chrono::steady_clock::time_point finished) {
    using std::chrono::duration_cast;
    using std::chrono::microseconds;
    shape.call.time_us = static_cast<std::uint64_t>(duration_cast<microseconds>(started - origin_).count());
    shape.call.duration_us = static_cast<std::uint64_t>(duration_cast<microseconds>(finished - started).count());
    shape.call.has_duration = true;
    shape.call.thread = ThreadNumber();
    std::lock_guard<std::mutex> lock(mutex_);
    shape.Resolve(book_);
    book_.Note(shape.call);
    if (!writer_.recording()) return;
    line_.clear();
    recording::AppendCallLine(shape.call, line_);
    writer_.Append(line_, shape.call.status != 0);
}

}  // namespace recorder
