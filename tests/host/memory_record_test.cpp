#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host/memory.h"
#include "host/record_file.h"
#include "temp_dir.h"

namespace {

using host::testing::FailAllocation;
using host::testing::FailMode;
using host::testing::LiveBlocks;

void* Take(std::uint32_t size) {
    void* block = reinterpret_cast<void*>(1);
    host::MemAlloc(&block, size);
    return block;
}

TEST(Memory, FailureHookOnceAndFromThenOn) {
    const std::int64_t live = LiveBlocks();
    const std::uint64_t calls = host::testing::AllocationCount();
    FailAllocation(2, FailMode::Once);
    void* first = Take(8);
    void* second = Take(8);
    void* third = Take(0);
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(second, nullptr);
    EXPECT_NE(third, nullptr);  // an empty block is still a block
    EXPECT_EQ(LiveBlocks(), live + 2);
    host::MemFree(&first);
    host::MemFree(&third);
    EXPECT_EQ(third, nullptr);
    host::MemFree(&third);  // releasing nothing is harmless

    FailAllocation(2, FailMode::FromThenOn);
    void* ok = Take(4);
    EXPECT_EQ(Take(4), nullptr);
    EXPECT_EQ(Take(4), nullptr);
    FailAllocation(0);
    void* again = Take(4);
    EXPECT_NE(again, nullptr);
    host::MemFree(&ok);
    host::MemFree(&again);
    EXPECT_EQ(LiveBlocks(), live);
    EXPECT_EQ(host::testing::AllocationCount(), calls + 7);
}

TEST(Memory, CountsStayExactAcrossThreads) {
    const std::int64_t live = LiveBlocks();
    const std::uint64_t calls = host::testing::AllocationCount();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([] {
            for (int i = 0; i < 1000; ++i) {
                void* block = Take(16);
                host::MemFill(block, 16, 0xAB);
                host::MemFree(&block);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(host::testing::AllocationCount(), calls + 4000);
    EXPECT_EQ(LiveBlocks(), live);
}

struct Counted {
    explicit Counted(int v) : value(v) {}
    int value;
};

TEST(Memory, NewObjectFailsCleanly) {
    FailAllocation(1);
    EXPECT_EQ(host::NewObject<Counted>(1), nullptr);
    Counted* object = host::NewObject<Counted>(2);
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(object->value, 2);
    host::DeleteObject(object);
    EXPECT_EQ(object, nullptr);
}

std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

using RecordFile = TempDirTest;

TEST_F(RecordFile, OpenNeedsAnExistingFile) {
    const std::string path = PathOf("missing.txt");
    EXPECT_EQ(host::RecOpen(200, path.c_str(), 0), -1);
    EXPECT_EQ(host::RecCreate(0, ""), -1);
    const std::string too_long(5000, 'a');
    EXPECT_EQ(host::RecCreate(6000, too_long.c_str()), -1);
    // Bad handles are harmless.
    host::RecAddLine(-1, 5, "x");
    host::RecFlush(-1);
    host::RecClose(-1);
}

TEST_F(RecordFile, LinesAccumulateOverOpens) {
    const std::string path = PathOf("log.txt");
    std::int32_t handle = host::RecCreate(200, path.c_str());
    ASSERT_GE(handle, 0);
    host::RecAddLine(handle, 30, "first");
    host::RecAddLine(handle, 2, "second");  // cut to its capacity
    host::RecFlush(handle);
    host::RecClose(handle);

    handle = host::RecOpen(200, path.c_str(), 1);
    ASSERT_GE(handle, 0);
    const std::string huge(10000, 'z');
    host::RecAddLine(handle, 20000, huge.c_str());
    host::RecAddLine(handle, 5, "");
    host::RecClose(handle);
    handle = host::RecCreate(200, path.c_str());
    host::RecAddLine(handle, 5, "last");
    host::RecClose(handle);
#if defined(_WIN32)
    const std::string end = "\r\n";
#else
    const std::string end = "\n";
#endif
    EXPECT_EQ(Contents(path), "first" + end + "sec" + end + std::string(4096, 'z') + end + end + "last" + end);
}

}  // namespace
