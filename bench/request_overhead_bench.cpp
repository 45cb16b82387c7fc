// The driver's own cost of a read batch: requests, completion, wake-up of the worker,
// a pass that does no device work, the completion callback, Finalized and GetInput
// for every channel. And the wake-up latency from the completion to the pass.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <vector>

#include "config/channel.h"
#include "device/passes.h"
#include "driver/driver_instance.h"
#include "driver/tovi.h"
#include "host/memory.h"
#include "tests/support/replaceable_passes.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Completion {
    std::mutex mutex;
    std::condition_variable done;
    std::uint64_t count = 0;
    Clock::time_point pass_started;
} completion;

void TOVI_CALL OnCompletion(void*, std::int32_t, std::int32_t) {
    std::lock_guard<std::mutex> guard(completion.mutex);
    ++completion.count;
    completion.done.notify_all();
}

void TimedInputPass(tovi::DriverInstance& driver) {
    {
        std::lock_guard<std::mutex> guard(completion.mutex);
        completion.pass_started = Clock::now();
    }
    tovi::InputPass(driver);
}

// A started driver with channels 1..count, all "ai".
class Plant {
public:
    explicit Plant(int count) {
        directory_ = std::filesystem::temp_directory_path() / "tovi_request_bench";
        std::filesystem::create_directories(directory_);
        std::ofstream(directory_ / "tovi.ini") << "[ai8]\n0=ai\n";
        std::ofstream(directory_ / "plant.ini") << "[tovi]\n[modules]\n; none\n";
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(directory_);  // tovi.ini is looked for here
        tovi::testing::ReplacePasses(&TimedInputPass, nullptr);
        driver_ = MakeDriver();
        char message[256] = {};
        const std::string path = (directory_ / "plant.ini").string();
        ok_ = Init(driver_, static_cast<std::uint32_t>(path.size()), path.c_str(), 255, message, 0, 0, nullptr,
                   &OnCompletion) != 0;
        for (int n = 1; ok_ && n <= count; ++n) {
            auto* channel = host::NewObject<tovi::Channel>();
            channel->number = n;
            channel->io_type = tovi::kIoAi;
            channel->expected_type = tovi::kTypeReal;
            driver_->channels.Insert(channel);
        }
    }
    ~Plant() {
        Done(driver_);
        DisposeDriver(driver_);
        tovi::testing::ReplacePasses(nullptr, nullptr);
        std::filesystem::current_path(previous_);
        std::filesystem::remove_all(directory_);
    }
    DriverInstance* driver() const { return driver_; }
    bool ok() const { return ok_; }

private:
    std::filesystem::path directory_, previous_;
    DriverInstance* driver_ = nullptr;
    bool ok_ = false;
};

void WaitForCallback(std::uint64_t before) {
    std::unique_lock<std::mutex> lock(completion.mutex);
    completion.done.wait(lock, [&] { return completion.count > before; });
}

void ReadBatch(benchmark::State& state) {
    const int channels = static_cast<int>(state.range(0));
    Plant plant(channels);
    if (!plant.ok()) {
        state.SkipWithError("Init failed");
        return;
    }
    DriverInstance* driver = plant.driver();
    for (auto _ : state) {
        std::uint64_t before;
        {
            std::lock_guard<std::mutex> guard(completion.mutex);
            before = completion.count;
        }
        for (int n = 1; n <= channels; ++n) InputRequest(driver, n);
        InputRequestCompleted(driver);
        WaitForCallback(before);
        for (int n = 1; n <= channels; ++n) {
            std::int32_t status = -1;
            InputFinalized(driver, n, &status);
            host::ValueRecord value{tovi::kTypeReal, {}};
            GetInput(driver, n, &value);
            benchmark::DoNotOptimize(value);
        }
    }
    state.SetItemsProcessed(state.iterations() * channels);
    state.counters["ns_per_channel"] =
        benchmark::Counter(static_cast<double>(state.iterations() * channels), benchmark::Counter::kIsRate |
                                                                                   benchmark::Counter::kInvert);
}
BENCHMARK(ReadBatch)->Arg(1000)->Unit(benchmark::kMicrosecond)->UseRealTime();

// Time from InputRequestCompleted to the start of the pass; reports the median.
void WakeUp(benchmark::State& state) {
    Plant plant(1);
    if (!plant.ok()) {
        state.SkipWithError("Init failed");
        return;
    }
    DriverInstance* driver = plant.driver();
    std::vector<double> latencies;
    for (auto _ : state) {
        std::uint64_t before;
        {
            std::lock_guard<std::mutex> guard(completion.mutex);
            before = completion.count;
        }
        InputRequest(driver, 1);
        const auto completed = Clock::now();
        InputRequestCompleted(driver);
        WaitForCallback(before);
        std::lock_guard<std::mutex> guard(completion.mutex);
        const double seconds = std::chrono::duration<double>(completion.pass_started - completed).count();
        latencies.push_back(seconds);
        state.SetIterationTime(seconds);
    }
    std::sort(latencies.begin(), latencies.end());
    if (!latencies.empty()) state.counters["median_us"] = latencies[latencies.size() / 2] * 1e6;
}
BENCHMARK(WakeUp)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
