// Several host threads on the example plant, devices that answer slowly now and then
// and fail at random, and Done at a random moment: every batch completed before the
// stop is answered, and Done returns promptly.
#include <atomic>
#include <random>
#include <thread>

#include "host/memory.h"
#include "tests/reliability/plant_fixture.h"

namespace {

using tovitest::PlantChannel;
using tovitest::PlantTest;

constexpr int kSeeds = 50;
constexpr int kThreads = 3;
constexpr int kRequestsPerSeed = 5000;  // a random share of it per seed: over 100,000 in all

TEST_F(PlantTest, SoakWithRandomStops) {
    std::uint64_t total_requests = 0;
    for (int seed = 1; seed <= kSeeds; ++seed) {
        SCOPED_TRACE(testing::Message() << "seed " << seed);
        std::mt19937 random(static_cast<std::uint32_t>(seed));
        devsim_reset();
        devsim_clear_faults();
        // Faults of every mode on input and output calls, and a slow call now and then.
        devsim_inject_fault("DRV_AIVoltageIn", 21, "Soak read fault", -1, nullptr, -1, DEVSIM_EVERY, 3 + seed % 5);
        devsim_inject_fault("DRV_DioWritePortByte", 22, "Soak write fault", -1, nullptr, -1, DEVSIM_EVERY, 4);
        devsim_inject_fault("COMRead", 23, "Soak display fault", -1, nullptr, -1, DEVSIM_EVERY, 5);
        devsim_set_delay("DRV_CounterEventRead", -1, 200);

        const std::int64_t live = host::testing::LiveBlocks();
        DriverInstance* driver = host_.Start();
        ASSERT_NE(driver, nullptr);
        const auto channels = tovitest::PlantHost::Channels(driver);
        std::vector<std::int32_t> inputs = Numbers(channels, true);
        std::vector<PlantChannel> outputs = Outputs(channels);

        // The stop comes after a random share of the requests, with the worker busy.
        const int stop_after = static_cast<int>(random() % kRequestsPerSeed);
        std::atomic<int> issued{0};
        std::atomic<bool> unanswered{false};
        std::vector<std::thread> hosts;
        for (int t = 0; t < kThreads; ++t) {
            hosts.emplace_back([&, t] {
                std::mt19937 own(static_cast<std::uint32_t>(seed * 100 + t));
                while (issued.load() < stop_after) {
                    std::map<std::int32_t, std::int32_t> statuses;
                    bool answered;
                    if (own() % 2) {
                        std::vector<std::int32_t> batch;
                        for (std::int32_t number : inputs)
                            if (own() % 3 == 0) batch.push_back(number);
                        issued += static_cast<int>(batch.size());
                        answered = host_.ReadBatch(driver, batch, statuses);
                    } else {
                        std::vector<PlantChannel> batch;
                        for (const PlantChannel& channel : outputs)
                            if (own() % 3 == 0) batch.push_back(channel);
                        issued += static_cast<int>(batch.size());
                        answered = host_.WriteBatch(driver, batch, static_cast<double>(own() % 200), statuses);
                    }
                    if (!answered) unanswered = true;
                }
            });
        }
        for (auto& host : hosts) host.join();
        // Leave work in the queues so that Done meets a busy worker.
        for (std::int32_t number : inputs) InputRequest(driver, number);
        InputRequestCompleted(driver);
        const auto stop_begins = std::chrono::steady_clock::now();
        Done(driver);
        const auto stop_took = std::chrono::steady_clock::now() - stop_begins;
        DisposeDriver(driver);
        total_requests += static_cast<std::uint64_t>(issued.load()) + inputs.size();

        EXPECT_FALSE(unanswered.load()) << "a completed batch got no answer";
        EXPECT_LT(stop_took, std::chrono::milliseconds(500));
        EXPECT_EQ(host::testing::LiveBlocks(), live);
        EXPECT_EQ(devsim_open_device_handles(-1), 0);
        EXPECT_EQ(devsim_open_serial_handles(-1), 0);
        devsim_clear_delays();
    }
    std::printf("soak: %llu requests over %d seeds\n", static_cast<unsigned long long>(total_requests), kSeeds);
    EXPECT_GE(total_requests, 100000u);
}

}  // namespace
