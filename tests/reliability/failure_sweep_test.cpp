// Every allocation and every vendor call the example plant reaches, failed in turn:
// the driver refuses to start with a message or reports the channel's error and
// goes on, and Done releases and closes exactly what exists.
#include <set>
#include <tuple>

#include "diagnostics/messages.h"
#include "host/memory.h"
#include "tests/reliability/plant_fixture.h"

namespace {

using host::testing::FailMode;
using tovitest::PlantChannel;
using tovitest::PlantTest;

constexpr std::int32_t kSweepStatus = 77;
constexpr char kSweepText[] = "Sweep fault";

// One full session: start, read every input, write every output, stop.
struct Session {
    bool started = false;
    std::string message;
    bool answered = true;
    std::map<std::int32_t, std::int32_t> statuses;
};

Session RunSession(tovitest::PlantHost& host) {
    Session session;
    DriverInstance* driver = host.Start(&session.message);
    session.started = driver != nullptr;
    if (!session.started) return session;
    const auto channels = tovitest::PlantHost::Channels(driver);
    std::vector<std::int32_t> inputs;
    std::vector<PlantChannel> outputs;
    for (const PlantChannel& channel : channels) {
        if (channel.input) inputs.push_back(channel.number);
        if (!channel.input) outputs.push_back(channel);
    }
    session.answered = host.ReadBatch(driver, inputs, session.statuses);
    session.answered = host.WriteBatch(driver, outputs, 1.0, session.statuses) && session.answered;
    Done(driver);
    DisposeDriver(driver);
    return session;
}

TEST_F(PlantTest, EveryFailedAllocationOfInitEndsCleanly) {
    for (const FailMode mode : {FailMode::Once, FailMode::FromThenOn}) {
        std::uint64_t n = 1;
        for (;; ++n) {
            SCOPED_TRACE(testing::Message() << "allocation " << n << (mode == FailMode::Once ? " once" : " on"));
            const std::int64_t live = host::testing::LiveBlocks();
            const std::uint64_t before = host::testing::AllocationCount();
            host::testing::FailAllocation(n, mode);
            std::string message;
            DriverInstance* driver = host_.Start(&message);
            const bool reached = host::testing::AllocationCount() - before >= n;
            host::testing::FailAllocation(0);
            if (driver != nullptr) {
                Done(driver);
                DisposeDriver(driver);
            } else if (!message.empty()) {
                EXPECT_EQ(message, tovi::messages::kInternalError.c_str());
            }
            EXPECT_EQ(host::testing::LiveBlocks(), live);
            EXPECT_EQ(devsim_open_device_handles(-1), 0);
            EXPECT_EQ(devsim_open_serial_handles(-1), 0);
            if (!reached) break;
        }
        EXPECT_GT(n, 20u) << "the sweep reached fewer allocations than the plant has modules and channels";
        std::printf("allocation sweep of Init (%s): %llu cases\n", mode == FailMode::Once ? "once" : "from then on",
                    static_cast<unsigned long long>(n));
    }
}

TEST_F(PlantTest, EveryFailedAllocationOfABatchFailsOnlyThatRequest) {
    const std::int64_t live = host::testing::LiveBlocks();
    DriverInstance* driver = host_.Start();
    ASSERT_NE(driver, nullptr);
    const auto channels = tovitest::PlantHost::Channels(driver);
    const auto inputs = Numbers(channels, true);
    const auto outputs = Outputs(channels);
    // Channels whose request was refused at least once in the sweep of single failures.
    std::set<std::int32_t> ever_refused;
    for (const FailMode mode : {FailMode::Once, FailMode::FromThenOn}) {
        for (std::uint64_t n = 1;; ++n) {
            SCOPED_TRACE(testing::Message() << "allocation " << n);
            const std::uint64_t before = host::testing::AllocationCount();
            host::testing::FailAllocation(n, mode);
            std::map<std::int32_t, std::int32_t> statuses;
            const std::size_t messages = hostapi::LogMessages().size();
            // A request that could not be queued is answered as failed: every channel
            // still answers, and only the refused ones with status 2.
            EXPECT_TRUE(host_.ReadBatch(driver, inputs, statuses));
            EXPECT_TRUE(host_.WriteBatch(driver, outputs, 0.0, statuses));
            const bool reached = host::testing::AllocationCount() - before >= n;
            host::testing::FailAllocation(0);
            const auto log = hostapi::LogMessages();
            std::set<std::string> refused;
            for (std::size_t i = messages; i < log.size(); ++i) refused.insert(log[i].text);
            std::size_t failed = 0;
            for (const auto& [number, status] : statuses) {
                if (status == 0) continue;
                ++failed;
                if (mode == FailMode::Once) ever_refused.insert(number);
                EXPECT_EQ(status, 2) << "channel " << number;
                EXPECT_EQ(refused.count("Nedostatek pam\xECti pro po\x9E" "adavek kan\xE1lu (" + std::to_string(number) + ")"),
                          1u)
                    << "channel " << number;
            }
            EXPECT_EQ(failed, refused.size());
            if (mode == FailMode::Once) {
                EXPECT_LE(failed, 1u);
            }
            if (!reached) {
                std::printf("allocation sweep of a read and a write batch (%s): %llu cases\n",
                            mode == FailMode::Once ? "once" : "from then on", static_cast<unsigned long long>(n));
                break;
            }
        }
    }
    // Every request is a queue entry of its own, so each one's entry failed once.
    for (const std::int32_t number : inputs) EXPECT_EQ(ever_refused.count(number), 1u) << "channel " << number;
    for (const PlantChannel& output : outputs) {
        if (!output.parameter) {
            EXPECT_EQ(ever_refused.count(output.number), 1u) << "channel " << output.number;
        }
    }
    Done(driver);
    DisposeDriver(driver);
    EXPECT_EQ(host::testing::LiveBlocks(), live);
}

bool IsBindingCall(const std::string& function) {
    static const std::set<std::string> kBinding = {"DRV_DeviceGetNumOfList", "DRV_DeviceGetList",
                                                   "DRV_DeviceGetSubList",   "DRV_DeviceOpen",
                                                   "COMGetConfig",           "COMOpen",
                                                   "COMSetConfig"};
    return kBinding.count(function) != 0;
}

std::size_t CountCalls(const std::vector<devsim::TraceRecord>& records, const std::string& function, bool good) {
    std::size_t count = 0;
    for (const auto& record : records) {
        if (record.function == function && (!good || record.status == 0)) ++count;
    }
    return count;
}

std::vector<devsim::TraceRecord> ParsedTrace() {
    std::vector<devsim::TraceRecord> records;
    for (const std::string& line : devsim::Trace()) {
        devsim::TraceRecord record;
        if (devsim::ParseTraceLine(line, &record)) records.push_back(record);
    }
    return records;
}

TEST_F(PlantTest, EveryVendorCallFailedInTurn) {
    devsim_trace_set_capacity(100000);
    devsim_trace_clear();
    const Session clean = RunSession(host_);
    ASSERT_TRUE(clean.started) << clean.message;
    std::set<std::tuple<std::string, std::int64_t>> calls;
    for (const auto& record : ParsedTrace()) {
        const std::string device = record.Argument("dev");
        calls.insert({record.function, device.empty() ? -1 : std::stoll(device)});
    }
    ASSERT_GT(calls.size(), 30u);
    std::printf("vendor sweep: %zu distinct calls (function and device) failed in turn\n", calls.size());

    for (const auto& [function, device] : calls) {
        SCOPED_TRACE(function + " on device " + std::to_string(device));
        devsim_reset();
        devsim_trace_clear();
        hostapi::Reset();
        const std::int32_t fault =
            devsim_inject_fault(function.c_str(), kSweepStatus, kSweepText, device, nullptr, -1, DEVSIM_ONCE, 0);
        ASSERT_GT(fault, 0);
        const Session session = RunSession(host_);
        EXPECT_EQ(devsim_fault_hits(fault), 1u) << "the call was not reached again";
        devsim_clear_fault(fault);

        if (IsBindingCall(function)) {
            EXPECT_FALSE(session.started);
            EXPECT_EQ(session.message, kSweepText);
        } else if (function == "DRV_DeviceClose" || function == "COMClose") {
            EXPECT_TRUE(session.started);  // a failing close is not examined
            continue;
        } else if (function == "DRV_DeviceGetFeatures") {
            EXPECT_TRUE(session.started) << session.message;  // the module works without port caches
        } else {
            ASSERT_TRUE(session.started) << session.message;
            EXPECT_TRUE(session.answered);
            std::size_t failed = 0;
            for (const auto& [number, status] : session.statuses) failed += status == 2;
            EXPECT_GE(failed, 1u);
            bool shown = false;
            for (const auto& call : hostapi::WindowCalls()) {
                hostapi::WindowState window;
                if (call.kind == hostapi::WindowCallKind::DialogItemChanged && hostapi::FindWindow(call.window, &window))
                    shown = window.error_line.find(kSweepText) != std::string::npos;
            }
            EXPECT_TRUE(shown) << "the error line does not show the vendor's text";
        }
        // Done closes exactly what was opened.
        const auto records = ParsedTrace();
        EXPECT_EQ(CountCalls(records, "DRV_DeviceOpen", true), CountCalls(records, "DRV_DeviceClose", false));
        EXPECT_EQ(CountCalls(records, "COMOpen", true), CountCalls(records, "COMClose", false));
        EXPECT_EQ(devsim_open_device_handles(-1), 0);
        EXPECT_EQ(devsim_open_serial_handles(-1), 0);
    }
}

}  // namespace
