// The host's calls while the worker is inside a vendor call or inside the completion
// callback: none of them waits for the worker, a read of a channel being written
// queues nothing, and a write batch completed during a pass waits for the next one.
#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/device/call_gate.h"
#include "tests/device/device_fixture.h"

namespace {

using devicetest::DeviceTest;
using devicetest::Gate;
using devicetest::kGuardTime;
using devicetest::Real;
using devicetest::VendorCallGate;

const char kDevices[] =
    "device 1 \"ai8 Address=1\"\n"
    "  ai 0-7 = 1.5\n"
    "device 2 \"ao4 Address=2\"\n"
    "  ao 0-3 = 0\n"
    "device 3 \"do16 Address=3\"\n"
    "  do 16\n";

const char kPlant[] =
    "[tovi]\nlog_file=errors.log\n"
    "[modules]\n"
    "analog=ai8, ai8 Address=1\n"
    "valves=ao4, ao4 Address=2\n"
    "pumps=do16, do16 Address=3\n"
    "[analog]\nai 0=10\nai 1=11\n"
    "[valves]\nao 0=20\nao 1=21\nao 2=22\n"
    "[pumps]\ndo_bit 0 0=30\n";

// A completion callback that stops at a gate the first time it is called.
struct HeldCallback {
    Gate gate;
    static void TOVI_CALL Callback(void* context, std::int32_t, std::int32_t) {
        static_cast<HeldCallback*>(context)->gate.Hold();
    }
};

class ConcurrentCallsTest : public DeviceTest {
protected:
    void SetUp() override {
        DeviceTest::SetUp();
        LoadDevices(kDevices);
    }

    // Calls every export that takes the instance, one after the other, on a thread
    // of its own; returns the name of the first that had not returned within the
    // guard time ("" when all returned). opener lets the held worker go on, so that
    // a stuck call returns and the thread can be joined. The Finalized answers for
    // channels 10 and 20 go to input_status and output_status (-1: not finished).
    std::string FirstStuckExport(const std::function<void()>& opener, std::int32_t& input_status,
                                 std::int32_t& output_status) {
        std::mutex mutex;
        std::condition_variable changed;
        std::size_t returned = 0;
        std::vector<std::pair<const char*, std::function<void()>>> calls = {
            {"InputRequest", [&] { InputRequest(driver_, 11); }},
            {"InputRequestCompleted", [&] { InputRequestCompleted(driver_); }},
            {"InputFinalized", [&] { input_status = InputStatus(10); }},
            {"GetInput", [&] { RealValue(10); }},
            {"OutputRequest", [&] { Send(Real(22, 1.0)); }},
            {"OutputRequestCompleted", [&] { OutputRequestCompleted(driver_); }},
            {"OutputFinalized", [&] { output_status = OutputStatus(20); }},
            {"GetDialogBoxItem", [&] { GetDialogBoxItem(driver_, 2); }},
            {"DataModified", [&] { DataModified(driver_); }},
            {"GetDriverName", [&] {
                 char name[40];
                 GetDriverName(driver_, sizeof name - 1, name);
             }},
            {"DriverProc", [&] { DriverProc(driver_, 1, 0, 0, 0, 0); }},
        };
        std::thread caller([&] {
            for (auto& call : calls) {
                call.second();
                std::lock_guard<std::mutex> guard(mutex);
                ++returned;
                changed.notify_all();
            }
        });
        std::size_t seen = 0;
        {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait_for(lock, kGuardTime, [&] { return returned == calls.size(); });
            seen = returned;
        }
        opener();
        caller.join();
        return seen == calls.size() ? "" : calls[seen].first;
    }
};

// Holds the worker inside its first DRV_GetErrorMessage (the device error report of
// the input pass, between storing a channel's reading and retiring its request)
// and lets it go on through a relaxed flag: the release orders nothing, so a host
// call made meanwhile is ordered with the pass's later steps only through the
// driver's lock, as it is in a plant. ThreadSanitizer then sees any step that
// skips the lock every time, not only when the threads happen to meet.
class UnorderedHold {
public:
    UnorderedHold() { devsim_trace_set_callback(&OnTrace, this); }
    ~UnorderedHold() {
        Release();
        devsim_trace_set_callback(nullptr, nullptr);
    }
    bool WaitUntilHeld() {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kGuardTime, [&] { return held_; });
    }
    void Release() { open_.store(true, std::memory_order_relaxed); }

private:
    static void OnTrace(void* context, const char* line) {
        auto* self = static_cast<UnorderedHold*>(context);
        devsim::TraceRecord record;
        if (!devsim::ParseTraceLine(line, &record) || record.function != "DRV_GetErrorMessage" ||
            self->taken_.exchange(true)) {
            return;
        }
        {
            std::lock_guard<std::mutex> guard(self->mutex_);
            self->held_ = true;
        }
        self->changed_.notify_all();
        const auto deadline = std::chrono::steady_clock::now() + kGuardTime;
        while (!self->open_.load(std::memory_order_relaxed) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::yield();
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    bool held_ = false;
    std::atomic<bool> taken_{false}, open_{false};
};

TEST_F(ConcurrentCallsTest, TheInputPassRetiresARequestUnderTheLockWhileTheHostQueuesTheNext) {
    ASSERT_EQ(Start(kPlant), 1) << message();
    InjectFault("DRV_AIVoltageIn status=150 text=\"Bus error\" once");
    UnorderedHold hold;
    const std::uint64_t seen = completions_.Count(0);
    InputRequest(driver_, 10);
    InputRequestCompleted(driver_);
    ASSERT_TRUE(hold.WaitUntilHeld());
    // The failed read of channel 10 is stored; its request is still queued, about
    // to be retired, when the host queues the next batch behind it.
    InputRequest(driver_, 11);
    InputRequestCompleted(driver_);
    hold.Release();
    ASSERT_TRUE(completions_.WaitBeyond(0, seen + 1));
    EXPECT_EQ(InputStatus(10), 2);
    EXPECT_EQ(InputStatus(11), 0);
    EXPECT_EQ(RealValue(11), 1.5);
}

TEST_F(ConcurrentCallsTest, NoExportWaitsForAVendorCallOrTheCompletionCallback) {
    {
        SCOPED_TRACE("during a read's vendor call");
        ASSERT_EQ(Start(kPlant), 1) << message();
        VendorCallGate gate("DRV_AIVoltageIn");
        InputRequest(driver_, 10);
        InputRequestCompleted(driver_);
        ASSERT_TRUE(gate.WaitUntilHeld());
        std::int32_t input = 0, output = 0;
        EXPECT_EQ(FirstStuckExport([&] { gate.Open(); }, input, output), "");
        EXPECT_EQ(input, -1) << "a read in progress is not finished";
    }
    {
        SCOPED_TRACE("during a write's vendor call");
        ASSERT_EQ(Start(kPlant), 1) << message();
        VendorCallGate gate("DRV_AOVoltageOut");
        Send(Real(20, 2.5));
        OutputRequestCompleted(driver_);
        ASSERT_TRUE(gate.WaitUntilHeld());
        std::int32_t input = 0, output = 0;
        EXPECT_EQ(FirstStuckExport([&] { gate.Open(); }, input, output), "");
        EXPECT_EQ(output, -1) << "a write in progress is not finished";
    }
    {
        SCOPED_TRACE("during the completion callback");
        HeldCallback held;
        ASSERT_EQ(Start(kPlant, &held, &HeldCallback::Callback), 1) << message();
        InputRequest(driver_, 10);
        InputRequestCompleted(driver_);
        ASSERT_TRUE(held.gate.WaitUntilHeld());
        std::int32_t input = -1, output = -1;
        EXPECT_EQ(FirstStuckExport([&] { held.gate.Open(); }, input, output), "");
        EXPECT_EQ(input, 0) << "the batch called back is finished";
        EXPECT_FALSE(held.gate.GaveUp());
        Stop();  // the worker calls back into held until it ends
    }
}

TEST_F(ConcurrentCallsTest, AReadOfAChannelBeingWrittenQueuesNothingAndWaitsForTheWrite) {
    ASSERT_EQ(Start(kPlant), 1) << message();
    // The bit is merged first and waits for its port write; the analogue write is
    // held in its vendor call, which fails.
    InjectFault("DRV_AOVoltageOut status=150 text=\"Bus error\"");
    VendorCallGate gate("DRV_AOVoltageOut");
    Send(devicetest::Bool(30, true));
    Send(Real(20, 2.5));
    OutputRequestCompleted(driver_);
    ASSERT_TRUE(gate.WaitUntilHeld());
    for (const std::int32_t channel : {20, 30}) {
        SCOPED_TRACE(channel);
        InputRequest(driver_, channel);
        InputRequestCompleted(driver_);
        {
            tovi::platform::LockGuard guard(driver_->lock);
            EXPECT_TRUE(driver_->input_queue.IsEmpty());
        }
        EXPECT_EQ(InputStatus(channel), -1);
        EXPECT_EQ(OutputStatus(channel), -1);
    }
    const std::uint64_t seen = completions_.Count(1);
    gate.Open();
    ASSERT_TRUE(completions_.WaitBeyond(1, seen));
    // Each direction answers for its own request: the read found the write in
    // progress and ends with it; only the write reports the write's failure.
    EXPECT_EQ(InputStatus(20), 0);
    EXPECT_EQ(OutputStatus(20), 2);
    EXPECT_EQ(InputStatus(30), 0);
    EXPECT_EQ(OutputStatus(30), 0);
    devsim_port_state port{};
    ASSERT_EQ(devsim_port_output(3, 0, &port), 0);
    EXPECT_EQ(port.value, 0x01);
}

TEST_F(ConcurrentCallsTest, AWriteBatchCompletedDuringAPassReachesTheDeviceAfterTheFirstCallback) {
    struct Recorder {
        VendorCallGate* gate = nullptr;
        devicetest::Completions completions;
        static void TOVI_CALL Callback(void* context, std::int32_t direction, std::int32_t zero) {
            auto* self = static_cast<Recorder*>(context);
            self->gate->Note("callback " + std::to_string(direction));
            devicetest::Completions::Callback(&self->completions, direction, zero);
        }
    } recorder;
    ASSERT_EQ(Start(kPlant, &recorder, &Recorder::Callback), 1) << message();
    VendorCallGate gate("DRV_AOVoltageOut");
    recorder.gate = &gate;
    Send(Real(20, 1.0));
    OutputRequestCompleted(driver_);
    ASSERT_TRUE(gate.WaitUntilHeld());
    Send(Real(21, 2.0));
    OutputRequestCompleted(driver_);
    gate.Open();
    // Only analogue writes and callbacks count; the first callback comes before the
    // second batch reaches the device, which has a callback of its own.
    auto writes_and_callbacks = [&] {
        std::vector<std::string> journal = gate.Journal();
        std::erase_if(journal, [](const std::string& entry) {
            return entry != "callback 1" && entry.rfind("DRV_AOVoltageOut", 0) != 0;
        });
        return journal;
    };
    ASSERT_TRUE(recorder.completions.WaitBeyond(1, 0));
    const std::vector<std::string> first = writes_and_callbacks();
    ASSERT_GE(first.size(), 2u);
    ASSERT_EQ(std::vector<std::string>(first.begin(), first.begin() + 2),
              (std::vector<std::string>{"DRV_AOVoltageOut ch=0", "callback 1"}));
    ASSERT_TRUE(recorder.completions.WaitBeyond(1, 1));
    Stop();
    EXPECT_EQ(writes_and_callbacks(),
              (std::vector<std::string>{"DRV_AOVoltageOut ch=0", "callback 1", "DRV_AOVoltageOut ch=1", "callback 1"}));
}

}  // namespace
