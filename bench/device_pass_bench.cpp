// The input pass's own cost per channel, on top of the vendor calls it makes: a
// pass over 1,000 channels on 10 modules of simulated devices that answer at once,
// timed inside the worker thread, against the same vendor calls made directly.
// Run from the build tree:
//   build/plain/bin/device_pass_bench
// Counters: driver_ns_per_channel is the figure (pass minus direct calls, per
// channel); vendor_calls is per pass and must equal minimum_calls.
#include <benchmark/benchmark.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "config/channel.h"
#include "config/module.h"
#include "device/passes.h"
#include "device/vendor_api.h"
#include "device_sim/device_sim.h"
#include "device_sim/exports.h"
#include "driver/driver_instance.h"
#include "driver/tovi.h"
#include "tests/support/replaceable_passes.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kModules = 10;
constexpr int kChannelsPerModule = 100;
constexpr int kChannels = kModules * kChannelsPerModule;

// Module kinds: four digital input modules whose channels share two cached ports
// each, then three analogue, two counter and one alarm module whose channels each
// need a device call.
enum Kind { Digital, Analog, Counter, Alarm };
Kind KindOf(int module) { return module < 4 ? Digital : module < 7 ? Analog : module < 9 ? Counter : Alarm; }
const char* TypeOf(Kind kind) {
    switch (kind) {
        case Digital: return "di16";
        case Analog: return "ai8";
        case Counter: return "cnt2";
        default: return "alarm4";
    }
}

// The channel line of channel k of a module (without its number).
std::string ChannelKey(Kind kind, int k) {
    switch (kind) {
        case Digital:
            return k % 9 == 8 ? "di_byte " + std::to_string(k % 2) : "di_bit " + std::to_string(k % 2) + " " +
                                                                       std::to_string(k % 8);
        case Analog: return "ai " + std::to_string(k % 8);
        case Counter: return (k % 2 == 0 ? "cnt_event_read " : "cnt_freq_read ") + std::to_string(k / 2 % 2);
        default: return (k % 2 == 0 ? "alarm_check_lo " : "alarm_check_hi ") + std::to_string(k / 2 % 4);
    }
}

std::string DeviceSet() {
    std::ostringstream out;
    for (int m = 0; m < kModules; ++m) {
        out << "device " << m + 1 << " \"unit " << m << " end\"\n";
        switch (KindOf(m)) {
            case Digital: out << "  di 16\n  inport 0 = 0x5A\n  inport 1 = 0xC3\n"; break;
            case Analog: out << "  ai 0-7 = 2.5\n"; break;
            case Counter: out << "  counter 0-1 = 12345\n  freq 0-1 = 50\n"; break;
            case Alarm: out << "  alarm 0-3 = 5\n"; break;
        }
    }
    return out.str();
}

std::string ParameterFile() {
    std::ostringstream out;
    out << "[tovi]\n[modules]\n";
    for (int m = 0; m < kModules; ++m) out << "m" << m << "=" << TypeOf(KindOf(m)) << ", unit " << m << " end\n";
    for (int m = 0; m < kModules; ++m) {
        out << "[m" << m << "]\n";
        for (int k = 0; k < kChannelsPerModule; ++k) out << ChannelKey(KindOf(m), k) << "=" << 1 + m * 100 + k << "\n";
    }
    return out.str();
}

struct Completion {
    std::mutex mutex;
    std::condition_variable done;
    std::uint64_t count = 0;
    std::chrono::nanoseconds pass_time{0};
} completion;

void TOVI_CALL OnCompletion(void*, std::int32_t, std::int32_t) {
    std::lock_guard<std::mutex> guard(completion.mutex);
    ++completion.count;
    completion.done.notify_all();
}

void TimedInputPass(tovi::DriverInstance& driver) {
    const Clock::time_point start = Clock::now();
    tovi::InputPass(driver);
    const auto elapsed = Clock::now() - start;
    std::lock_guard<std::mutex> guard(completion.mutex);
    completion.pass_time += std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed);
}

// The vendor calls the pass makes, prepared to be made directly: the minimum for
// these channels, one per cached port and one per other channel.
class DirectCalls {
public:
    explicit DirectCalls(DriverInstance& driver) {
        std::set<std::pair<tovi::Module*, std::int32_t>> ports;
        for (int number = 1; number <= kChannels; ++number) {
            const tovi::Channel& channel = *driver.channels.Find(number);
            if (channel.io_type == tovi::kIoDiBit || channel.io_type == tovi::kIoDiByte) {
                if (!ports.insert({channel.module, channel.port}).second) continue;
            }
            const auto port = static_cast<std::uint16_t>(channel.port);
            calls_.push_back({channel.io_type, channel.module->device_handle, port});
        }
    }
    std::size_t size() const { return calls_.size(); }

    // Makes every call; false when one fails.
    bool Run() {
        bool ok = true;
        for (const Call& call : calls_) ok &= Make(call) == 0;
        return ok;
    }

private:
    struct Call {
        std::int32_t io_type;
        vendor::Handle handle;
        std::uint16_t port;
    };

    static vendor::Status Make(const Call& call) {
        switch (call.io_type) {
            case tovi::kIoDiBit:
            case tovi::kIoDiByte: {
                std::uint16_t value = 0;
                vendor::DioReadPortByteBlock block{call.port, 0, &value};
                return DRV_DioReadPortByte(call.handle, &block);
            }
            case tovi::kIoAi: {
                float voltage = 0;
                vendor::AIVoltageInBlock block{call.port, 0, 0, 0, &voltage};
                return DRV_AIVoltageIn(call.handle, &block);
            }
            case tovi::kIoCntEventRead: {
                std::uint16_t overflow = 0;
                std::uint32_t count = 0;
                vendor::CounterEventReadBlock block{call.port, 0, &overflow, &count};
                return DRV_CounterEventRead(call.handle, &block);
            }
            case tovi::kIoCntFreqRead: {
                float frequency = 0;
                vendor::CounterFreqReadBlock block{call.port, 0, &frequency};
                return DRV_CounterFreqRead(call.handle, &block);
            }
            default: {
                std::uint16_t low = 0, high = 0;
                vendor::AlarmCheckBlock block{call.port, 0, &low, &high};
                return DRV_AlarmCheck(call.handle, &block);
            }
        }
    }

    std::vector<Call> calls_;
};

// The plant's files in a directory of their own, which is the current directory
// while the benchmark runs, so that the driver finds the shipped tovi.ini there.
class Plant {
public:
    Plant() {
        directory_ = std::filesystem::temp_directory_path() / "tovi_device_pass_bench";
        std::filesystem::create_directories(directory_);
        std::filesystem::copy_file(TOVI_SHIPPED_TYPES, directory_ / "tovi.ini",
                                   std::filesystem::copy_options::overwrite_existing);
        std::ofstream(directory_ / "plant.ini") << ParameterFile();
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(directory_);
        error_ = devsim::LoadText(DeviceSet());
        tovi::testing::ReplacePasses(&TimedInputPass, nullptr);
        driver_ = MakeDriver();
        const std::string path = (directory_ / "plant.ini").string();
        char message[256] = {};
        if (error_.empty() && Init(driver_, static_cast<std::uint32_t>(path.size()), path.c_str(), 255, message, 0, 0,
                                   nullptr, &OnCompletion) == 0) {
            error_ = message;
        }
    }
    ~Plant() {
        Done(driver_);
        DisposeDriver(driver_);
        tovi::testing::ReplacePasses(nullptr, nullptr);
        devsim_unload();
        std::filesystem::current_path(previous_);
        std::filesystem::remove_all(directory_);
    }
    const std::string& error() const { return error_; }
    DriverInstance* driver() const { return driver_; }

private:
    std::filesystem::path directory_;
    std::filesystem::path previous_;
    std::string error_;
    DriverInstance* driver_ = nullptr;
};

// Requests every channel, completes the batch and waits for the worker's callback.
void ReadAll(DriverInstance* driver) {
    std::uint64_t seen;
    {
        std::lock_guard<std::mutex> guard(completion.mutex);
        seen = completion.count;
    }
    for (int number = 1; number <= kChannels; ++number) InputRequest(driver, number);
    InputRequestCompleted(driver);
    std::unique_lock<std::mutex> lock(completion.mutex);
    completion.done.wait(lock, [&] { return completion.count > seen; });
}

void BM_InputPassOverhead(benchmark::State& state) {
    Plant plant;
    if (!plant.error().empty()) {
        state.SkipWithError(plant.error().c_str());
        return;
    }
    DirectCalls direct(*plant.driver());
    devsim_trace_set_capacity(16);
    std::chrono::nanoseconds pass_total{0};
    std::chrono::nanoseconds direct_total{0};
    std::uint64_t passes = 0;
    std::uint64_t calls = 0;
    for (auto _ : state) {
        {
            std::lock_guard<std::mutex> guard(completion.mutex);
            completion.pass_time = std::chrono::nanoseconds{0};
        }
        const std::uint64_t before = devsim_call_count(nullptr, -1);
        ReadAll(plant.driver());
        calls += devsim_call_count(nullptr, -1) - before;
        std::chrono::nanoseconds pass;
        {
            std::lock_guard<std::mutex> guard(completion.mutex);
            pass = completion.pass_time;
        }
        const Clock::time_point start = Clock::now();
        const bool ok = direct.Run();
        const auto direct_time = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start);
        if (!ok) {
            state.SkipWithError("a direct vendor call failed");
            return;
        }
        state.SetIterationTime(std::chrono::duration<double>(pass).count());
        pass_total += pass;
        direct_total += direct_time;
        ++passes;
    }
    const double per_pass = static_cast<double>(passes);
    state.counters["vendor_calls"] = static_cast<double>(calls) / per_pass;
    state.counters["minimum_calls"] = static_cast<double>(direct.size());
    state.counters["pass_ns_per_channel"] = static_cast<double>(pass_total.count()) / per_pass / kChannels;
    state.counters["vendor_ns_per_channel"] = static_cast<double>(direct_total.count()) / per_pass / kChannels;
    state.counters["driver_ns_per_channel"] =
        static_cast<double>((pass_total - direct_total).count()) / per_pass / kChannels;
    if (calls != passes * direct.size()) state.SkipWithError("the pass made more vendor calls than the minimum");
}
BENCHMARK(BM_InputPassOverhead)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
