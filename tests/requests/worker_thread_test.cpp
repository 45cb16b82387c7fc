// The worker thread's event protocol, driven deterministically: passes that stop at
// a gate the test opens, and a completion callback that records what it was told.
#include <condition_variable>
#include <mutex>
#include <vector>

#include "device/passes.h"
#include "tests/requests/request_fixture.h"

namespace {

using namespace tovi;
using tovitest::RequestTest;

// What the worker did, in order: 'I'/'O' a pass began, 0/1 a completion callback.
struct Journal {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<int> events;
    int passes_waiting_at_gate = 0;
    bool gate_open = true;

    void Add(int event) {
        std::lock_guard<std::mutex> guard(mutex);
        events.push_back(event);
        changed.notify_all();
    }
    // Waits until pred() holds; fails the test after a generous bound instead of hanging.
    template <class Pred>
    bool WaitFor(Pred pred) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(20), pred);
    }
};
Journal* journal = nullptr;

void GatedPass(DriverInstance& driver, int name, void (*serve)(DriverInstance&)) {
    journal->Add(name);
    {
        std::unique_lock<std::mutex> lock(journal->mutex);
        ++journal->passes_waiting_at_gate;
        journal->changed.notify_all();
        journal->changed.wait(lock, [] { return journal->gate_open; });
        --journal->passes_waiting_at_gate;
    }
    serve(driver);
}
void FakeInputPass(DriverInstance& driver) { GatedPass(driver, 'I', &InputPass); }
void FakeOutputPass(DriverInstance& driver) { GatedPass(driver, 'O', &OutputPass); }
void TOVI_CALL Record(void*, std::int32_t direction, std::int32_t zero) {
    EXPECT_EQ(zero, 0);
    journal->Add(direction);
}

class WorkerTest : public RequestTest {
protected:
    void SetUp() override {
        RequestTest::SetUp();
        journal = &journal_;
        tovi::testing::ReplacePasses(&FakeInputPass, &FakeOutputPass);
        driver_->completion_callback = &Record;
        for (std::int32_t n = 1; n <= 4; ++n) AddChannel(n, kIoAi, kTypeReal);
        for (std::int32_t n = 11; n <= 14; ++n) AddChannel(n, kIoAo, kTypeReal);
    }
    void TearDown() override {
        OpenGate();
        RequestTest::TearDown();
        journal = nullptr;
    }
    void CloseGate() {
        std::lock_guard<std::mutex> guard(journal_.mutex);
        journal_.gate_open = false;
    }
    void OpenGate() {
        std::lock_guard<std::mutex> guard(journal_.mutex);
        journal_.gate_open = true;
        journal_.changed.notify_all();
    }
    std::vector<int> Events() {
        std::lock_guard<std::mutex> guard(journal_.mutex);
        return journal_.events;
    }
    bool WaitForEvents(std::size_t count) {
        return journal_.WaitFor([&] { return journal_.events.size() >= count; });
    }

    Journal journal_;
};

TEST_F(WorkerTest, StopWhileAsleepRunsNoPass) {
    StartWorker();
    Done(driver_);
    EXPECT_TRUE(Events().empty());
}

TEST_F(WorkerTest, StopWinsOverWorkSignalledTogether) {
    InputRequest(driver_, 1);
    InputRequestCompleted(driver_);
    platform::SignalEvent(driver_->stop_event);
    StartWorker();
    Done(driver_);
    EXPECT_TRUE(Events().empty());
    EXPECT_TRUE(driver_->input_queue.IsEmpty());  // Done released the waiting item
}

TEST_F(WorkerTest, InputIsServedBeforeOutputInOneCycle) {
    InputRequest(driver_, 1);  // a read batch the host has not completed yet
    WriteReal(driver_, 11, 5.0);
    OutputRequestCompleted(driver_);
    StartWorker();
    ASSERT_TRUE(WaitForEvents(4));
    EXPECT_EQ(Events(), (std::vector<int>{'I', 0, 'O', 1}));
    EXPECT_EQ(QueueLength(driver_->input_queue), 0u);
}

TEST_F(WorkerTest, TwoBatchesCompletedBeforeTheWakeUpAreBothServed) {
    InputRequest(driver_, 1);
    InputRequestCompleted(driver_);
    InputRequest(driver_, 2);
    InputRequestCompleted(driver_);
    StartWorker();
    ASSERT_TRUE(WaitForEvents(4));
    EXPECT_EQ(Events(), (std::vector<int>{'I', 0, 'I', 0}));
    std::int32_t status = -1;
    EXPECT_EQ(InputFinalized(driver_, 2, &status), 1);
}

TEST_F(WorkerTest, CompletionDuringAPassStartsAnotherCycle) {
    CloseGate();
    StartWorker();
    InputRequest(driver_, 1);
    InputRequestCompleted(driver_);
    ASSERT_TRUE(journal_.WaitFor([&] { return journal_.passes_waiting_at_gate == 1; }));
    WriteReal(driver_, 12, 1.0);
    InputRequest(driver_, 3);
    OutputRequestCompleted(driver_);
    InputRequestCompleted(driver_);
    OpenGate();
    // First cycle: the gated read batch, then the write batch it finds; second
    // cycle: the read batch completed while the first pass ran.
    ASSERT_TRUE(WaitForEvents(6));
    EXPECT_EQ(Events(), (std::vector<int>{'I', 0, 'O', 1, 'I', 0}));
}

}  // namespace
