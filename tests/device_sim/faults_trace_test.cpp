// Injected faults and delays, the trace and its hook, call counts.
#include <atomic>
#include <chrono>
#include <thread>

#include "tests/device_sim/sim_fixture.h"

namespace {

using simtest::SimTest;

constexpr char kSet[] =
    "device 1 \"ai8 Address=1\"\n"
    "  ai 0-3 = 1.5\n"
    "  ao 0 = 0\n"
    "device 3 \"dio16 \\\"odd\\\" Address=3\"\n"  // a name with quotes
    "  di 16\n"
    "  inport 0 = 0x5A\n";

class FaultsTraceTest : public SimTest {
protected:
    void SetUp() override {
        Load(kSet);
        ai_ = Open(1);
        dio_ = Open(3);
        devsim_trace_clear();
        devsim_clear_call_counts();
    }

    Status ReadAnalog(std::uint16_t channel) {
        float voltage = 0;
        vendor::AIVoltageInBlock block{channel, 0, 0, 0, &voltage};
        return DRV_AIVoltageIn(ai_, &block);
    }
    Status ReadPort(std::uint16_t port) {
        std::uint16_t value = 0;
        vendor::DioReadPortByteBlock block{port, 0, &value};
        return DRV_DioReadPortByte(dio_, &block);
    }

    Handle ai_ = 0, dio_ = 0;
};

TEST_F(FaultsTraceTest, ModesOnceAlwaysAndEveryNth) {
    const std::int32_t once = devsim_inject_fault("DRV_AIVoltageIn", 900, nullptr, -1, nullptr, 0, DEVSIM_ONCE, 0);
    const std::int32_t every = devsim_inject_fault("DRV_AIVoltageIn", 901, nullptr, -1, nullptr, 1, DEVSIM_EVERY, 3);
    const std::int32_t always = devsim_inject_fault("DRV_AIVoltageIn", 902, nullptr, -1, nullptr, 2, DEVSIM_ALWAYS, 0);
    ASSERT_GT(once, 0);
    ASSERT_GT(every, 0);
    ASSERT_GT(always, 0);

    EXPECT_EQ(ReadAnalog(0), 900);
    EXPECT_EQ(ReadAnalog(0), 0);
    EXPECT_EQ(ReadAnalog(0), 0);
    std::string pattern;
    for (int i = 0; i < 9; ++i) pattern += ReadAnalog(1) == 901 ? 'F' : '.';
    EXPECT_EQ(pattern, "..F..F..F");
    for (int i = 0; i < 3; ++i) EXPECT_EQ(ReadAnalog(2), 902);
    EXPECT_EQ(ReadAnalog(3), 0);
    EXPECT_EQ(devsim_fault_hits(once), 1u);
    EXPECT_EQ(devsim_fault_hits(every), 3u);
    EXPECT_EQ(devsim_fault_hits(always), 3u);

    ASSERT_EQ(devsim_clear_fault(always), 0);
    EXPECT_EQ(ReadAnalog(2), 0);
    EXPECT_EQ(devsim_clear_fault(always), -1);
    devsim_clear_faults();
    for (int i = 0; i < 3; ++i) EXPECT_EQ(ReadAnalog(1), 0);
}

TEST_F(FaultsTraceTest, FaultsNarrowToDeviceAndChannel) {
    ASSERT_GT(devsim_inject_fault("*", 903, nullptr, 3, nullptr, -1, DEVSIM_ALWAYS, 0), 0);
    EXPECT_EQ(ReadAnalog(0), 0);
    EXPECT_EQ(ReadPort(0), 903);
    devsim_clear_faults();

    char error[200];
    ASSERT_GT(devsim_inject_fault_line("DRV_DioReadPortByte status=904 device=\"dio16 \\\"odd\\\" Address=3\" "
                                       "channel=1 text=\"Bus error\"",
                                       error, sizeof error),
              0)
        << error;
    EXPECT_EQ(ReadPort(0), 0);
    EXPECT_EQ(ReadPort(1), 904);
    char text[256];
    ASSERT_EQ(DRV_GetErrorMessage(904, text), 0);
    EXPECT_STREQ(text, "Bus error");

    EXPECT_EQ(devsim_inject_fault_line("DRV_DioReadPortByte status=9 colour=red", error, sizeof error), -1);
    EXPECT_STREQ(error, "unknown fault option 'colour'");
    EXPECT_EQ(devsim_inject_fault("DRV_Unknown", 9, nullptr, -1, nullptr, -1, DEVSIM_ALWAYS, 0), -1);
    EXPECT_EQ(devsim_inject_fault("DRV_DeviceOpen", 0, nullptr, -1, nullptr, -1, DEVSIM_ALWAYS, 0), -1);
    EXPECT_EQ(devsim_inject_fault("DRV_DeviceOpen", 9, nullptr, -1, nullptr, -1, DEVSIM_EVERY, 0), -1);
}

TEST_F(FaultsTraceTest, AFailedCallChangesNothing) {
    ASSERT_GT(devsim_inject_fault("DRV_AOVoltageOut", 905, nullptr, 1, nullptr, -1, DEVSIM_ONCE, 0), 0);
    vendor::AOVoltageOutBlock block{0, 0, 4.0f};
    EXPECT_EQ(DRV_AOVoltageOut(ai_, &block), 905);
    devsim_analog_output_state state{};
    ASSERT_EQ(devsim_analog_output(1, 0, &state), 0);
    EXPECT_EQ(state.writes, 0u);
    EXPECT_EQ(state.voltage, 0.0f);
    char text[256];
    ASSERT_EQ(DRV_GetErrorMessage(905, text), 0);
    EXPECT_STREQ(text, "Unknown error code 905");  // injected without a text
}

TEST_F(FaultsTraceTest, DelaySleepsOutsideTheLock) {
    ASSERT_EQ(devsim_set_delay("DRV_AIVoltageIn", 1, 300'000), 0);
    const auto start = std::chrono::steady_clock::now();
    std::thread caller([this] { EXPECT_EQ(ReadAnalog(0), 0); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto before_query = std::chrono::steady_clock::now();
    devsim_trace_count();  // must not wait for the sleeping call
    EXPECT_LT(std::chrono::steady_clock::now() - before_query, std::chrono::milliseconds(150));
    caller.join();
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));

    ASSERT_EQ(devsim_set_delay("DRV_AIVoltageIn", 1, 0), 0);  // removed
    const auto again = std::chrono::steady_clock::now();
    EXPECT_EQ(ReadAnalog(0), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - again, std::chrono::milliseconds(150));
}

TEST_F(FaultsTraceTest, TraceLinesParseBack) {
    ASSERT_GT(devsim_inject_fault("DRV_AIVoltageIn", 906, "Input \"overrange\"", -1, nullptr, 3, DEVSIM_ALWAYS, 0), 0);
    ASSERT_EQ(ReadPort(0), 0);
    ASSERT_EQ(ReadAnalog(3), 906);
    ASSERT_EQ(ReadPort(9), DEVSIM_E_PORT);

    const auto lines = devsim::Trace();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "#3 DRV_DioReadPortByte handle=" + std::to_string(dio_) +
                            " dev=3 name=\"dio16 \\\"odd\\\" Address=3\" port=0 -> 0 value=0x5A");
    devsim::TraceRecord read, failed, refused;
    ASSERT_TRUE(devsim::ParseTraceLine(lines[0], &read));
    ASSERT_TRUE(devsim::ParseTraceLine(lines[1], &failed));
    ASSERT_TRUE(devsim::ParseTraceLine(lines[2], &refused));
    EXPECT_EQ(read.sequence, 3u);
    EXPECT_EQ(read.function, "DRV_DioReadPortByte");
    EXPECT_EQ(read.Argument("name"), "dio16 \"odd\" Address=3");
    EXPECT_EQ(read.Result("value"), "0x5A");
    EXPECT_EQ(failed.sequence, 4u);
    EXPECT_EQ(failed.status, 906);
    EXPECT_TRUE(failed.injected);
    EXPECT_EQ(failed.Argument("ch"), "3");
    EXPECT_EQ(failed.Result("error"), "Input \"overrange\"");
    EXPECT_FALSE(failed.HasResult("voltage"));
    EXPECT_EQ(refused.status, DEVSIM_E_PORT);
    EXPECT_FALSE(refused.injected);
    EXPECT_EQ(refused.Result("error"), "Digital port out of range");

    for (const char* bad : {"", "DRV_X -> 0", "#1 DRV_X a=\"open -> 0", "#1 DRV_X -> zero", "#1 DRV_X stray -> 0"}) {
        devsim::TraceRecord record;
        EXPECT_FALSE(devsim::ParseTraceLine(bad, &record)) << bad;
    }
}

TEST_F(FaultsTraceTest, TraceKeepsItsCapacityAndFeedsTheHook) {
    std::vector<std::string> seen;
    devsim_trace_set_callback(
        [](void* context, const char* line) { static_cast<std::vector<std::string>*>(context)->push_back(line); },
        &seen);
    devsim_trace_set_capacity(3);
    for (int i = 0; i < 5; ++i) ReadPort(0);
    EXPECT_EQ(devsim_trace_count(), 3u);
    EXPECT_EQ(devsim_trace_dropped(), 2u);
    ASSERT_EQ(seen.size(), 5u);
    EXPECT_EQ(devsim::Trace().front(), seen[2]);

    devsim_trace_set_callback(nullptr, nullptr);
    ReadPort(0);
    EXPECT_EQ(seen.size(), 5u);
    char small[8];
    EXPECT_EQ(devsim_trace_line(0, small, sizeof small), static_cast<std::int32_t>(devsim::Trace()[0].size()));
    EXPECT_EQ(std::string(small), devsim::Trace()[0].substr(0, 7));
    EXPECT_EQ(devsim_trace_line(3, small, sizeof small), -1);
}

TEST_F(FaultsTraceTest, CallsCountPerFunctionAndDevice) {
    ASSERT_GT(devsim_inject_fault("DRV_DioReadPortByte", 907, nullptr, -1, nullptr, -1, DEVSIM_ONCE, 0), 0);
    ReadPort(0);
    ReadPort(0);
    ReadAnalog(0);
    std::int16_t count = 0;
    DRV_DeviceGetNumOfList(&count);
    EXPECT_EQ(devsim_call_count("DRV_DioReadPortByte", -1), 2u);  // the failed one too
    EXPECT_EQ(devsim_call_count("DRV_DioReadPortByte", 3), 2u);
    EXPECT_EQ(devsim_call_count("DRV_DioReadPortByte", 1), 0u);
    EXPECT_EQ(devsim_call_count(nullptr, 1), 1u);
    EXPECT_EQ(devsim_call_count("*", -1), 4u);
    EXPECT_EQ(devsim_call_count("DRV_Unknown", -1), 0u);
    devsim_clear_call_counts();
    EXPECT_EQ(devsim_call_count(nullptr, -1), 0u);
}

TEST_F(FaultsTraceTest, CallsFromSeveralThreadsAreAllTraced) {
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 200; ++i)
                if (ReadPort(0) != 0 || ReadAnalog(1) != 0) ++failures;
        });
    for (int i = 0; i < 50; ++i) devsim::Trace();
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(devsim_call_count(nullptr, -1), 1600u);
    const auto lines = devsim::Trace();
    devsim::TraceRecord last;
    ASSERT_TRUE(devsim::ParseTraceLine(lines.back(), &last));
    EXPECT_EQ(last.sequence, 1600u + 2u);  // the two opens of SetUp
}

}  // namespace
