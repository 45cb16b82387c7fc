// Done while the worker is inside a pass: the pass ends after the item in hand and
// still calls back, and what Done releases goes in order: the worker, the window,
// then devices and serial ports, after which no device is called.
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/device/call_gate.h"
#include "tests/device/device_fixture.h"

namespace {

using devicetest::DeviceTest;
using devicetest::kGuardTime;
using devicetest::VendorCallGate;

const char kDevices[] =
    "device 1 \"ai8 Address=1\"\n"
    "  ai 0-7 = 1.5\n"
    "device 20 \"panel bus\"\n"
    "  serial 3\n"
    "subdevice 21 \"disp6 Address=1\"\n"
    "  display address=1\n";

const char kPlant[] =
    "[tovi]\nlog_file=errors.log\n"
    "[modules]\n"
    "analog=ai8, ai8 Address=1\n"
    "big=disp6, panel bus, disp6 Address=1\n"
    "[analog]\nai 0=10\nai 1=11\nai 2=12\nai 3=13\n"
    "[big]\ndisplay_data=161\n";

class StopTest : public DeviceTest {
protected:
    void SetUp() override {
        DeviceTest::SetUp();
        LoadDevices(kDevices);
        ASSERT_EQ(Start(kPlant), 1) << message();
    }
    void ReadAll() {
        for (std::int32_t channel = 10; channel <= 13; ++channel) InputRequest(driver_, channel);
        InputRequestCompleted(driver_);
    }
};

TEST_F(StopTest, DoneDuringAPassSendsNoLaterItemToTheDevice) {
    VendorCallGate gate("DRV_AIVoltageIn");
    ReadAll();
    ASSERT_TRUE(gate.WaitUntilHeld());
    const tovi::platform::EventHandle stop_event = driver_->stop_event;
    std::thread stopper([&] { Done(driver_); });
    // Done signals the stop event before it waits for the worker; the stop must be
    // visible to the pass by then.
    const bool stop_signalled = tovi::platform::WaitForEvent(stop_event, 10000);
    gate.Open();
    stopper.join();
    ASSERT_TRUE(stop_signalled);
    EXPECT_EQ(CallCount("DRV_AIVoltageIn"), 1u) << "items after the one in hand reached the device";
    EXPECT_EQ(completions_.Count(0), 1u) << "the ended pass still calls back";
    EXPECT_EQ(driver_->worker_thread, nullptr);
}

// Watches the closing calls: at each, whatever Done should have ended first.
struct CloseWatch {
    DriverInstance* driver = nullptr;
    WindowHandle window = 0;
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> calls;
    std::vector<std::string> faults;

    static bool IsClose(const std::string& function) {
        return function == "DRV_DeviceClose" || function == "COMClose";
    }
    static void OnTrace(void* context, const char* line) {
        auto* self = static_cast<CloseWatch*>(context);
        devsim::TraceRecord record;
        if (!devsim::ParseTraceLine(line, &record)) return;
        std::vector<std::string> found;
        if (IsClose(record.function)) {
            // Runs on the thread that called Done, which alone changes these.
            if (self->driver->worker_thread != nullptr) found.push_back(record.function + " while the worker runs");
            hostapi::WindowState state;
            if (!hostapi::FindWindow(self->window, &state) || !state.destroyed) {
                found.push_back(record.function + " before the window was destroyed");
            }
        }
        std::lock_guard<std::mutex> guard(self->mutex);
        self->calls.push_back(record.function);
        self->faults.insert(self->faults.end(), found.begin(), found.end());
        self->changed.notify_all();
    }
};

TEST_F(StopTest, DoneEndsTheWorkerAndTheWindowBeforeItClosesDevicesAndPorts) {
    CloseWatch watch;
    watch.driver = driver_;
    watch.window = driver_->driver_window;
    ASSERT_NE(watch.window, 0u);
    devsim_trace_clear();
    devsim_set_delay("DRV_AIVoltageIn", -1, 2000);  // a pass still runs when Done comes
    devsim_trace_set_callback(&CloseWatch::OnTrace, &watch);
    ReadAll();
    {
        std::unique_lock<std::mutex> lock(watch.mutex);
        ASSERT_TRUE(watch.changed.wait_for(lock, kGuardTime, [&] { return !watch.calls.empty(); }));
    }
    Done(driver_);
    devsim_trace_set_callback(nullptr, nullptr);
    std::lock_guard<std::mutex> guard(watch.mutex);
    EXPECT_EQ(watch.faults, std::vector<std::string>{});
    std::size_t first_close = 0;
    while (first_close < watch.calls.size() && !CloseWatch::IsClose(watch.calls[first_close])) ++first_close;
    ASSERT_LT(first_close, watch.calls.size()) << "Done closed nothing";
    for (std::size_t i = first_close; i < watch.calls.size(); ++i) {
        EXPECT_TRUE(CloseWatch::IsClose(watch.calls[i])) << watch.calls[i] << " after a close";
    }
    EXPECT_EQ(devsim_open_device_handles(-1), 0);
    EXPECT_EQ(devsim_open_serial_handles(-1), 0);
}

}  // namespace
