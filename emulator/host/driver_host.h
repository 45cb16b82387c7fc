// One driver started the way a host starts it, with what the commands that drive
// it share: the library loaded by path, the host stand-in reset for it, the driver
// window it created, its error line and the host's message log, a stop that cannot
// hang the emulator, and the simulator's trace of vendor calls.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "emulator/host/driver_library.h"
#include "emulator/host/host_session.h"
#include "emulator/plant/plant.h"

namespace tovihost {

class DriverHost {
public:
    DriverHost() = default;
    ~DriverHost();
    DriverHost(const DriverHost&) = delete;
    DriverHost& operator=(const DriverHost&) = delete;

    // Loads the driver library (empty path: the one beside tovihost); false with
    // the reason.
    bool Load(const std::string& driver_path, std::string& error);
    const std::string& driver_path() const { return driver_path_; }
    const DriverExports& exports() const { return library_.exports(); }

    // MakeDriver and Init on a parameter file; the error log's bare file name goes
    // to log_directory (empty: the current directory). False with the driver's
    // message in UTF-8.
    bool Start(const std::string& param_path, const std::string& log_directory, std::string& message);
    bool started() const { return session_ != nullptr; }
    // Done and DisposeDriver. When they do not return within timeout (a driver
    // stuck in a device call), says so on standard error and ends the process with
    // exit code 3: nothing else can free the instance.
    void Stop(std::chrono::milliseconds timeout);
    HostSession& session() { return *session_; }

    // The driver window's title (information item 1) and its error line as the host
    // stand-in last received it, in UTF-8.
    std::string WindowTitle() const;
    std::string ErrorLine() const;
    // Every message the driver added to the host's message log, in UTF-8.
    std::vector<std::string> HostMessages() const;

private:
    DriverLibrary library_;
    std::string driver_path_;
    std::unique_ptr<HostSession> session_;
    std::uint32_t window_ = 0;
};

// Says plainly on standard error, and returns true, when a driver with modules to
// bind would load another device-manager library (one beside it) than the
// simulated one this program configures: none of the simulated devices would
// reach it.
bool WarnOtherDeviceManager(const std::string& driver_path, std::size_t modules);

// Starts the driver for a command of one batch: warns of another device manager,
// prints the driver's refusal (false), or arms the crash report for the batch.
bool StartForOneBatch(DriverHost& host, const std::string& param_path, const std::string& log_dir,
                      std::size_t modules, const char* batch);

// What the simulator reports of every vendor call: printed as it happens when
// asked (filtered by device), and timed per device for the statistics. The device
// manager's calls arrive on the driver's worker thread.
class CallTrace {
public:
    CallTrace();
    ~CallTrace();
    CallTrace(const CallTrace&) = delete;
    CallTrace& operator=(const CallTrace&) = delete;

    // Prints every call line to out, after the milliseconds since the trace began
    // ("  12.345 ms  #SEQ ..."); the devices filter: empty for all calls, else only
    // calls concerning those devices.
    void Print(std::FILE* out, std::set<std::int64_t> devices);
    // Starts and ends the timing of one batch: calls between them are charged to
    // their device, each with the time since the previous call (or the batch start).
    void BeginBatch();
    // Per device: the time its calls took in the batch just ended.
    std::map<std::int64_t, std::chrono::nanoseconds> EndBatch();

private:
    static void OnLine(void* context, const char* line);

    std::mutex mutex_;
    const std::chrono::steady_clock::time_point start_;
    std::FILE* out_ = nullptr;
    std::set<std::int64_t> devices_;
    bool timing_ = false;
    std::chrono::steady_clock::time_point last_;
    std::map<std::int64_t, std::chrono::nanoseconds> spent_;
};

// The printing of standard output is shared by the main thread and the trace.
std::mutex& OutputMutex();

// When the driver crashes the process, says so on standard error with what ran
// then (the context), and ends with exit code 4.
void InstallCrashReport();
void SetCrashContext(const std::string& context);

}  // namespace tovihost
