// Manual-reset events, the wait for any of several, and the event creation hook.
#include "tests/platform/test_support.h"

#include <array>
#include <vector>

namespace tovi::platform::test {
namespace {

TEST(EventTest, StaysSignalledAcrossWaitsUntilReset) {
    Events events(1);
    ASSERT_TRUE(events.AllCreated());
    EventHandle event = events[0];

    EXPECT_FALSE(WaitForEvent(event, 0));
    EXPECT_FALSE(WaitForEvent(event, 1));  // times out

    SignalEvent(event);
    EXPECT_EQ(WaitForAnyEvent(&event, 1), 0u);
    EXPECT_EQ(WaitForAnyEvent(&event, 1), 0u);
    EXPECT_TRUE(WaitForEvent(event, 0));
    EXPECT_TRUE(WaitForEvent(event, 1000));
    SignalEvent(event);  // signalling twice changes nothing
    EXPECT_TRUE(WaitForEvent(event, 0));

    ResetEvent(event);
    EXPECT_FALSE(WaitForEvent(event, 0));
    EXPECT_FALSE(WaitForEvent(event, 1));
}

TEST(EventTest, WaitForAnyReportsLowestSignalledIndex) {
    Events events(kMaxWaitEvents);
    ASSERT_TRUE(events.AllCreated());

    SignalEvent(events[6]);
    EXPECT_EQ(WaitForAnyEvent(events.data(), kMaxWaitEvents), 6u);
    SignalEvent(events[7]);
    SignalEvent(events[3]);
    EXPECT_EQ(WaitForAnyEvent(events.data(), kMaxWaitEvents), 3u);
    SignalEvent(events[0]);
    EXPECT_EQ(WaitForAnyEvent(events.data(), kMaxWaitEvents), 0u);
    // Index within the array passed, not within all events.
    EXPECT_EQ(WaitForAnyEvent(events.data() + 4, 4), 2u);

    ResetEvent(events[0]);
    EXPECT_EQ(WaitForAnyEvent(events.data(), kMaxWaitEvents), 3u);
    ResetEvent(events[3]);
    EXPECT_EQ(WaitForAnyEvent(events.data(), kMaxWaitEvents), 6u);
    ResetEvent(events[6]);
    EXPECT_EQ(WaitForAnyEvent(events.data(), kMaxWaitEvents), 7u);
}

TEST(EventTest, UnusableArgumentsFailInsteadOfBlocking) {
    Events events(kMaxWaitEvents + 1);
    ASSERT_TRUE(events.AllCreated());
    for (std::uint32_t i = 0; i <= kMaxWaitEvents; ++i) {
        SignalEvent(events[i]);
    }
    EXPECT_EQ(WaitForAnyEvent(events.data(), 0), kWaitFailed);
    EXPECT_EQ(WaitForAnyEvent(events.data(), kMaxWaitEvents + 1), kWaitFailed);
    EXPECT_EQ(WaitForAnyEvent(nullptr, 1), kWaitFailed);
    const std::array<EventHandle, 2> with_null{events[0], nullptr};
    EXPECT_EQ(WaitForAnyEvent(with_null.data(), 2), kWaitFailed);
    EXPECT_FALSE(WaitForEvent(nullptr, 0));
}

TEST(EventTest, SignalFromAnotherThreadWakesWaiterBlockedOnTwoEvents) {
    for (std::uint32_t round = 0; round < 200; ++round) {
        Events events(3);  // a, b, started
        ASSERT_TRUE(events.AllCreated());
        std::uint32_t woken_by = kWaitFailed;
        auto waiter = [&] {
            SignalEvent(events[2]);
            woken_by = WaitForAnyEvent(events.data(), 2);
        };
        ThreadHandle thread = StartBody(waiter);
        ASSERT_NE(thread, nullptr);
        AwaitEvent(events[2]);
        const std::uint32_t chosen = round % 2;
        SignalEvent(events[chosen]);
        JoinThread(thread);
        CloseThread(thread);
        EXPECT_EQ(woken_by, chosen) << "round " << round;
    }
}

TEST(EventTest, TimedWaitIsWokenBySignalFromAnotherThread) {
    Events events(2);  // event, started
    ASSERT_TRUE(events.AllCreated());
    bool signalled = false;
    auto waiter = [&] {
        SignalEvent(events[1]);
        signalled = WaitForEvent(events[0], 600000);
    };
    ThreadHandle thread = StartBody(waiter);
    ASSERT_NE(thread, nullptr);
    AwaitEvent(events[1]);
    SignalEvent(events[0]);
    CloseThread(thread);
    EXPECT_TRUE(signalled);
}

// Ping-pong between two threads: each side resets the event it was woken by
// before answering, so every round needs a fresh wake-up, and the payload
// passed through plain variables checks that the events order memory.
TEST(EventTest, ManySignalResetWaitRoundsLoseNoWakeUp) {
    constexpr std::uint32_t kRounds = 5000;
    Events events(3);  // stop, ping, pong
    ASSERT_TRUE(events.AllCreated());
    EventHandle stop = events[0];
    EventHandle ping = events[1];
    EventHandle pong = events[2];
    std::uint32_t request = 0;
    std::uint32_t reply = 0;
    std::uint32_t answered = 0;
    auto responder = [&] {
        for (;;) {
            if (WaitForAnyEvent(events.data(), 2) == 0) {
                return;
            }
            ResetEvent(ping);
            reply = request * 2 + 1;
            ++answered;
            SignalEvent(pong);
        }
    };
    ThreadHandle thread = StartBody(responder);
    ASSERT_NE(thread, nullptr);
    for (std::uint32_t round = 0; round < kRounds; ++round) {
        request = round;
        SignalEvent(ping);
        AwaitEvent(pong);
        ResetEvent(pong);
        if (reply != round * 2 + 1) {
            ADD_FAILURE() << "round " << round << " got reply " << reply;
            break;
        }
    }
    SignalEvent(stop);
    CloseThread(thread);
    EXPECT_EQ(answered, kRounds);
}

// More threads than any small per-event table would hold, each waiting on its
// own (never signalled) event and a shared one; one signal must wake them all.
TEST(EventTest, OneSignalWakesEveryThreadWaitingOnIt) {
    constexpr std::uint32_t kThreads = 12;
    Events shared(1);
    Events own(kThreads);
    Events started(kThreads);
    ASSERT_TRUE(shared.AllCreated() && own.AllCreated() && started.AllCreated());

    struct Waiter {
        std::array<EventHandle, 2> wait_on{};
        EventHandle started = nullptr;
        std::uint32_t woken_by = kWaitFailed;
        void operator()() {
            SignalEvent(started);
            woken_by = WaitForAnyEvent(wait_on.data(), 2);
        }
    };
    std::vector<Waiter> waiters(kThreads);
    std::vector<ThreadHandle> threads;
    for (std::uint32_t i = 0; i < kThreads; ++i) {
        waiters[i].wait_on = {own[i], shared[0]};
        waiters[i].started = started[i];
        threads.push_back(StartBody(waiters[i]));
        ASSERT_NE(threads.back(), nullptr);
    }
    for (std::uint32_t i = 0; i < kThreads; ++i) {
        AwaitEvent(started[i]);
    }
    SignalEvent(shared[0]);
    for (std::uint32_t i = 0; i < kThreads; ++i) {
        CloseThread(threads[i]);
        EXPECT_EQ(waiters[i].woken_by, 1u) << "thread " << i;
    }
    // Every waiter has left the shared event: signalling it again touches none of them.
    ResetEvent(shared[0]);
    SignalEvent(shared[0]);
}

TEST(EventHookTest, ExactlyTheNthCreationFailsOnce) {
    testing::FailEventCreation(3);
    std::vector<EventHandle> created;
    for (int i = 0; i < 6; ++i) {
        created.push_back(CreateManualResetEvent());
    }
    for (std::size_t i = 0; i < created.size(); ++i) {
        EXPECT_EQ(created[i] == nullptr, i == 2) << "creation " << i + 1;
        CloseEvent(created[i]);
    }

    testing::FailEventCreation(1);
    testing::FailEventCreation(0);  // switched off again before it fired
    EventHandle event = CreateManualResetEvent();
    EXPECT_NE(event, nullptr);
    CloseEvent(event);
}

}  // namespace
}  // namespace tovi::platform::test
