// Threads, the lock, and the thread creation hook.
#include "tests/platform/test_support.h"

namespace tovi::platform::test {
namespace {

struct Record {
    void* seen = nullptr;
    bool finished = false;
};

std::uint32_t RecordArgument(void* argument) {
    auto* record = static_cast<Record*>(argument);
    record->seen = argument;
    record->finished = true;
    return 7;
}

TEST(ThreadTest, JoinReturnsAfterRoutineEndedAndRoutineSawItsArgument) {
    Record first;
    Record second;
    ThreadHandle a = StartThread(RecordArgument, &first);
    ThreadHandle b = StartThread(RecordArgument, &second);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    JoinThread(b);
    JoinThread(a);
    EXPECT_TRUE(first.finished);
    EXPECT_EQ(first.seen, &first);
    EXPECT_TRUE(second.finished);
    EXPECT_EQ(second.seen, &second);

    JoinThread(a);  // joining again returns at once
    CloseThread(a);
    CloseThread(b);
    JoinThread(nullptr);
    CloseThread(nullptr);
}

TEST(ThreadTest, CloseWithoutJoinWaitsForTheRoutine) {
    Events go(1);
    ASSERT_TRUE(go.AllCreated());
    bool finished = false;
    auto routine = [&] {
        AwaitEvent(go[0]);
        finished = true;
    };
    ThreadHandle thread = StartBody(routine);
    ASSERT_NE(thread, nullptr);
    SignalEvent(go[0]);
    CloseThread(thread);
    EXPECT_TRUE(finished);
}

TEST(ThreadHookTest, ExactlyTheNthStartFailsAndItsRoutineNeverRuns) {
    testing::FailThreadCreation(2);
    Record records[3];
    ThreadHandle threads[3];
    for (int i = 0; i < 3; ++i) {
        threads[i] = StartThread(RecordArgument, &records[i]);
    }
    EXPECT_NE(threads[0], nullptr);
    EXPECT_EQ(threads[1], nullptr);
    EXPECT_NE(threads[2], nullptr);
    for (ThreadHandle thread : threads) {
        CloseThread(thread);
    }
    EXPECT_TRUE(records[0].finished);
    EXPECT_FALSE(records[1].finished);
    EXPECT_TRUE(records[2].finished);

    testing::FailThreadCreation(1);
    testing::FailThreadCreation(0);
    ThreadHandle thread = StartThread(RecordArgument, &records[1]);
    EXPECT_NE(thread, nullptr);
    CloseThread(thread);
}

// Two threads bump one plain counter under the lock, one of them entering it
// twice per step: the total shows no step was lost and re-entry does not block.
TEST(LockTest, ExcludesOtherThreadsAndMayBeEnteredAgainByItsOwner) {
    constexpr int kSteps = 20000;
    Lock lock;
    lock.Initialise();
    int counter = 0;
    auto plain = [&] {
        for (int i = 0; i < kSteps; ++i) {
            LockGuard guard(lock);
            ++counter;
        }
    };
    auto nested = [&] {
        for (int i = 0; i < kSteps; ++i) {
            LockGuard outer(lock);
            LockGuard inner(lock);
            ++counter;
        }
    };
    ThreadHandle a = StartBody(plain);
    ThreadHandle b = StartBody(nested);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    CloseThread(a);
    CloseThread(b);
    lock.Delete();
    EXPECT_EQ(counter, 2 * kSteps);
}

}  // namespace
}  // namespace tovi::platform::test
