// Host threads issuing reads, writes and completions against passes whose transfers
// take random short times and fail at random.
#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "tests/requests/request_fixture.h"

namespace {

using namespace tovi;
using tovitest::RequestTest;

constexpr int kThreads = 4;
constexpr int kChannelsPerThread = 8;
constexpr std::int32_t kOutputBase = 1000;

// What the passes did, written under the driver's lock.
struct Ledger {
    std::map<std::int32_t, bool> unreported_failure;  // per channel: a transfer failed since the last report
    std::map<std::int32_t, double> taken;     // per output channel: the value its write took
    std::mutex wake_mutex;
    std::condition_variable woken;
    std::uint64_t callbacks = 0;
    std::atomic<std::uint32_t> seed{1};
};
Ledger* ledger = nullptr;

void StressPass(DriverInstance& driver, RequestQueue& queue, bool output) {
    thread_local std::minstd_rand random(ledger->seed.fetch_add(1));
    RequestItem* item = nullptr;
    {
        platform::LockGuard guard(driver.lock);
        item = queue.Head();
    }
    while (item != nullptr && !driver.Stopping()) {
        Channel* channel = item->channel;
        {
            platform::LockGuard guard(driver.lock);
            channel->flags |= kBusy;
            if (output) {
                double value;
                std::memcpy(&value, channel->value.payload, 8);
                ledger->taken[channel->number] = value;
                channel->flags &= ~static_cast<std::uint32_t>(kWriteQueued);
            }
        }
        for (unsigned spin = random() % 4; spin > 0; --spin) std::this_thread::yield();  // the transfer
        platform::LockGuard guard(driver.lock);
        const bool failed = random() % 8 == 0;
        if (failed) {
            ledger->unreported_failure[channel->number] = true;
            channel->flags |= output ? kWriteErrorPending : kErrorPending;
        }
        // A write gave up Queued when it took its value: a newer write may be queued.
        channel->flags &= ~static_cast<std::uint32_t>(output ? kBusy : kBusy | kQueued);
        item = queue.Retire(item) ? nullptr : queue.Head();
    }
}
void StressInput(DriverInstance& driver) { StressPass(driver, driver.input_queue, false); }
void StressOutput(DriverInstance& driver) { StressPass(driver, driver.output_queue, true); }
void TOVI_CALL Wake(void*, std::int32_t, std::int32_t) {
    std::lock_guard<std::mutex> guard(ledger->wake_mutex);
    ++ledger->callbacks;
    ledger->woken.notify_all();
}

class RequestStressTest : public RequestTest {
protected:
    void SetUp() override {
        RequestTest::SetUp();
        ledger = &ledger_;
        tovi::testing::ReplacePasses(&StressInput, &StressOutput);
        driver_->completion_callback = &Wake;
        for (int t = 0; t < kThreads; ++t) {
            for (int c = 0; c < kChannelsPerThread; ++c) {
                AddChannel(Input(t, c), kIoAi, kTypeReal);
                AddChannel(Output(t, c), kIoAo, kTypeReal);
            }
        }
        StartWorker();
    }
    void TearDown() override {
        RequestTest::TearDown();
        ledger = nullptr;
    }
    static std::int32_t Input(int thread, int c) { return thread * kChannelsPerThread + c + 1; }
    static std::int32_t Output(int thread, int c) { return kOutputBase + Input(thread, c); }

    // One host thread: rounds of writes and reads on its own channels, each round
    // completed and collected before the next.
    void HostRounds(int thread, int rounds, std::map<std::int32_t, double>& last_written, int& failures) {
        std::minstd_rand random(1000 + thread);
        for (int round = 0; round < rounds; ++round) {
            std::vector<std::int32_t> pending_inputs, pending_outputs;
            for (int c = 0; c < kChannelsPerThread; ++c) {
                if (random() % 2) {
                    const int writes = 1 + random() % 2;
                    for (int w = 0; w < writes; ++w) {
                        const double value = round * 100.0 + c + w * 0.5;
                        WriteReal(driver_, Output(thread, c), value);
                        last_written[Output(thread, c)] = value;
                    }
                    pending_outputs.push_back(Output(thread, c));
                }
                if (random() % 2) {
                    InputRequest(driver_, Input(thread, c));
                    pending_inputs.push_back(Input(thread, c));
                }
            }
            if (random() % 2) {
                InputRequestCompleted(driver_);
                OutputRequestCompleted(driver_);
            } else {
                OutputRequestCompleted(driver_);
                InputRequestCompleted(driver_);
            }
            std::unique_lock<std::mutex> lock(ledger_.wake_mutex);
            const bool collected = ledger_.woken.wait_for(lock, std::chrono::seconds(30), [&] {
                return Collect(pending_inputs, &InputFinalized, failures) &&
                       Collect(pending_outputs, &OutputFinalized, failures);
            });
            ASSERT_TRUE(collected) << "a completed batch got no callback";
        }
    }

    // Asks Finalized for each channel still pending; checks each answer against what
    // the pass did; true when none is pending.
    bool Collect(std::vector<std::int32_t>& pending, std::uint8_t(TOVI_CALL* finalized)(DriverInstance*, std::int32_t,
                                                                                          std::int32_t*),
                 int& failures) {
        for (auto it = pending.begin(); it != pending.end();) {
            std::int32_t status = -1;
            if (finalized(driver_, *it, &status) == 0) {
                ++it;
                continue;
            }
            int expected;
            {
                platform::LockGuard guard(driver_->lock);
                expected = ledger_.unreported_failure[*it] ? 2 : 0;
                ledger_.unreported_failure[*it] = false;
            }
            EXPECT_EQ(status, expected) << "channel " << *it;
            if (status == 2) ++failures;
            it = pending.erase(it);
        }
        return pending.empty();
    }

    Ledger ledger_;
};

TEST_F(RequestStressTest, EveryBatchIsAnsweredAndEveryOutcomeMatches) {
    std::vector<std::map<std::int32_t, double>> written(kThreads);
    std::vector<int> failures(kThreads, 0);
    std::vector<std::thread> hosts;
    for (int t = 0; t < kThreads; ++t) {
        hosts.emplace_back([&, t] { HostRounds(t, 300, written[t], failures[t]); });
    }
    for (auto& host : hosts) host.join();
    int total_failures = 0;
    for (int t = 0; t < kThreads; ++t) {
        total_failures += failures[t];
        for (const auto& [channel, value] : written[t]) {
            platform::LockGuard guard(driver_->lock);
            EXPECT_EQ(ledger_.taken[channel], value) << "channel " << channel;
        }
    }
    EXPECT_GT(total_failures, 0);
    // An error is reported once: a second question finds the channel clean.
    std::int32_t status = -1;
    for (int c = 0; c < kChannelsPerThread; ++c) {
        EXPECT_EQ(InputFinalized(driver_, Input(0, c), &status), 1);
        EXPECT_EQ(status, 0);
    }
}

TEST_F(RequestStressTest, StopAtARandomMomentReleasesEverything) {
    for (std::uint32_t seed = 1; seed <= 20; ++seed) {
        SCOPED_TRACE(seed);
        if (seed > 1) {
            // A fresh driver for every seed, its worker started by hand as in SetUp.
            Done(driver_);
            DisposeDriver(driver_);
            SetUp();
        }
        std::atomic<bool> stop{false};
        std::vector<std::thread> hosts;
        for (int t = 0; t < kThreads; ++t) {
            hosts.emplace_back([&, t] {
                std::minstd_rand random(seed * 31 + t);
                while (!stop.load()) {
                    const int c = random() % kChannelsPerThread;
                    switch (random() % 4) {
                        case 0: InputRequest(driver_, Input(t, c)); break;
                        case 1: WriteReal(driver_, Output(t, c), c); break;
                        case 2: InputRequestCompleted(driver_); break;
                        default: OutputRequestCompleted(driver_); break;
                    }
                }
            });
        }
        std::minstd_rand random(seed);
        {
            std::unique_lock<std::mutex> lock(ledger_.wake_mutex);
            const std::uint64_t target = ledger_.callbacks + random() % 20;
            ledger_.woken.wait_for(lock, std::chrono::seconds(30), [&] { return ledger_.callbacks >= target; });
        }
        stop = true;
        for (auto& host : hosts) host.join();
        Done(driver_);  // the worker may be anywhere in a cycle
        EXPECT_EQ(driver_->worker_thread, nullptr);
    }
}

}  // namespace
