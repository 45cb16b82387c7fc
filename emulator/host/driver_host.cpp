#include "emulator/host/driver_host.h"

#include <algorithm>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "device_sim/device_sim.h"
#include "diagnostics/cp1250.h"
#include "emulator/host/system_info.h"
#include "host_api_standin/host_api_observer.h"

namespace tovihost {

std::mutex& OutputMutex() {
    static std::mutex mutex;
    return mutex;
}

namespace {

char crash_context[512] = "";

extern "C" void OnCrash(int signal_number) {
    // Only what is safe in a signal handler: fixed texts and write.
    static const char head[] = "\ntovihost: the process crashed (";
    const char* name = signal_number == SIGSEGV ? "segmentation fault" : signal_number == SIGABRT ? "abort"
                       : signal_number == SIGFPE ? "arithmetic fault" : signal_number == SIGILL ? "illegal instruction"
                                                                                                 : "signal";
    std::fputs(head, stderr);
    std::fputs(name, stderr);
    std::fputs(") inside the driver or the simulator while running: ", stderr);
    std::fputs(crash_context[0] != '\0' ? crash_context : "(start-up)", stderr);
    std::fputs("\n", stderr);
    std::fflush(stderr);
    std::_Exit(4);
}

}  // namespace

void InstallCrashReport() {
    for (const int signal_number : {SIGSEGV, SIGABRT, SIGFPE, SIGILL}) std::signal(signal_number, OnCrash);
}

void SetCrashContext(const std::string& context) {
    const std::size_t length = std::min(context.size(), sizeof crash_context - 1);
    std::memcpy(crash_context, context.data(), length);
    crash_context[length] = '\0';
}

DriverHost::~DriverHost() {
    if (started()) Stop(std::chrono::seconds(10));
}

bool DriverHost::Load(const std::string& driver_path, std::string& error) {
    driver_path_ = driver_path.empty() ? DefaultDriverPath() : driver_path;
    if (!library_.Load(driver_path_, error)) return false;
    library_.exports().unit_init();
    return true;
}

bool DriverHost::Start(const std::string& param_path, const std::string& log_directory, std::string& message) {
    hostapi::Reset();
    if (!log_directory.empty()) hostapi::SetWorkingDirectory(log_directory);
    session_ = std::make_unique<HostSession>(library_.exports());
    std::string said;
    if (!session_->Start(param_path, said)) {
        session_.reset();
        message = tovi::text::Utf8FromCp1250(said);
        return false;
    }
    window_ = 0;
    for (const hostapi::WindowCall& call : hostapi::WindowCalls()) {
        if (call.kind == hostapi::WindowCallKind::Create && call.window != 0) window_ = call.window;
    }
    return true;
}

void DriverHost::Stop(std::chrono::milliseconds timeout) {
    if (!session_) return;
    struct Shared {
        std::mutex mutex;
        std::condition_variable done;
        bool stopped = false;
    };
    auto shared = std::make_shared<Shared>();
    HostSession* session = session_.get();
    std::thread stopper([shared, session] {
        session->Stop();
        std::lock_guard<std::mutex> guard(shared->mutex);
        shared->stopped = true;
        shared->done.notify_all();
    });
    std::unique_lock<std::mutex> lock(shared->mutex);
    if (!shared->done.wait_for(lock, timeout, [&] { return shared->stopped; })) {
        lock.unlock();
        {
            std::lock_guard<std::mutex> guard(OutputMutex());
            std::fflush(stdout);
            std::fprintf(stderr,
                         "tovihost: the driver did not return from Done within %lld ms: its worker thread is "
                         "still inside a device call or hung; giving up\n",
                         static_cast<long long>(timeout.count()));
            std::fflush(stderr);
        }
        std::_Exit(3);
    }
    lock.unlock();
    stopper.join();
    session_.reset();
}

bool WarnOtherDeviceManager(const std::string& driver_path, std::size_t modules) {
#if defined(_WIN32)
    const char* const library = "ADSAPI32.dll";
#else
    const char* const library = "libADSAPI32.so";
#endif
    // The driver loads the device manager beside its own file when there is one
    // there, else by name, which finds the one this program has loaded.
    const auto slash = driver_path.find_last_of("/\\");
    const std::string beside = (slash == std::string::npos ? std::string() : driver_path.substr(0, slash + 1)) + library;
    const std::string own = SimulatorPath();
    std::error_code code;
    if (modules == 0 || own.empty() || !std::filesystem::is_regular_file(beside, code) ||
        std::filesystem::equivalent(beside, own, code) || code) {
        return false;
    }
    std::lock_guard<std::mutex> guard(OutputMutex());
    std::fflush(stdout);
    std::fprintf(stderr,
                 "tovihost: warning: the driver binds its modules through the device manager beside it (%s), not "
                 "the simulated one tovihost configures (%s): none of the device set reaches the driver, and every "
                 "module is \"not installed\". Use the driver and the simulator of one build directory.\n",
                 beside.c_str(), own.c_str());
    std::fflush(stderr);
    return true;
}

std::string DriverHost::WindowTitle() const {
    if (!session_) return "";
    void* address = library_.exports().get_dialog_box_item(session_->instance(), 1);
    if (address == nullptr) return "";
    const auto* item = static_cast<const host::DialogItem*>(address);
    return tovi::text::Utf8FromCp1250(std::string(item->text, strnlen(item->text, sizeof item->text)));
}

std::string DriverHost::ErrorLine() const {
    hostapi::WindowState window;
    if (window_ == 0 || !hostapi::FindWindow(window_, &window)) return "";
    return tovi::text::Utf8FromCp1250(window.error_line);
}

std::vector<std::string> DriverHost::HostMessages() const {
    std::vector<std::string> texts;
    for (const hostapi::LogMessage& message : hostapi::LogMessages()) {
        texts.push_back(tovi::text::Utf8FromCp1250(message.text));
    }
    return texts;
}

CallTrace::CallTrace() : start_(std::chrono::steady_clock::now()) {
    devsim_trace_set_callback(&CallTrace::OnLine, this);
}

CallTrace::~CallTrace() { devsim_trace_set_callback(nullptr, nullptr); }

void CallTrace::Print(std::FILE* out, std::set<std::int64_t> devices) {
    std::lock_guard<std::mutex> guard(mutex_);
    out_ = out;
    devices_ = std::move(devices);
}

void CallTrace::BeginBatch() {
    std::lock_guard<std::mutex> guard(mutex_);
    timing_ = true;
    spent_.clear();
    last_ = std::chrono::steady_clock::now();
}

std::map<std::int64_t, std::chrono::nanoseconds> CallTrace::EndBatch() {
    std::lock_guard<std::mutex> guard(mutex_);
    timing_ = false;
    return std::move(spent_);
}

void CallTrace::OnLine(void* context, const char* line) {
    auto* trace = static_cast<CallTrace*>(context);
    const auto now = std::chrono::steady_clock::now();
    devsim::TraceRecord record;
    std::int64_t device = -1;
    if (devsim::ParseTraceLine(line, &record) && record.HasArgument("dev")) {
        device = std::strtoll(record.Argument("dev").c_str(), nullptr, 10);
    }
    std::lock_guard<std::mutex> guard(trace->mutex_);
    if (trace->timing_) {
        trace->spent_[device] += now - trace->last_;
        trace->last_ = now;
    }
    if (trace->out_ != nullptr && (trace->devices_.empty() || trace->devices_.count(device) != 0)) {
        std::lock_guard<std::mutex> output(OutputMutex());
        // The time since the trace began, so that slow calls and gaps show.
        std::fprintf(trace->out_, "%10.3f ms  %s\n",
                     std::chrono::duration<double, std::milli>(now - trace->start_).count(), line);
        std::fflush(trace->out_);
    }
}

}  // namespace tovihost
