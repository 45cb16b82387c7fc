// The output pass against simulated devices: merged port writes and their
// write-back, the direct writes of every output kind, display frames, and the
// errors each of them reports.
#include <atomic>
#include <limits>
#include <string>
#include <vector>

#include "device/passes.h"
#include "host/memory.h"
#include "tests/device/device_fixture.h"

namespace {

using devicetest::Bool;
using devicetest::DeviceTest;
using devicetest::kWritePrefix;
using devicetest::Real;

const char kDevices[] =
    "device 8 \"do16 Address=8\"\n"
    "  do 16\n"
    "device 9 \"do16 narrow Address=9\"\n"
    "  do 8\n"  // one cached port; port 1 is written directly
    "  outport 1 = 0\n"
    "device 2 \"ao4 Address=2\"\n"
    "  ao 0-3 = 0\n"
    "device 6 \"cnt2 Address=6\"\n"
    "  counter 0-1 = 0\n"
    "device 7 \"alarm4 Address=7\"\n"
    "  alarm 0-3 = 5\n"
    "device 5 \"dio16 Address=5\"\n"
    "  di 8\n"
    "  do 16\n"
    "  inport 0 = 0x04\n"
    "device 20 \"panel bus\"\n"
    "  serial 3\n"
    "subdevice 21 \"disp6 Address=1\"\n"
    "  display address=1\n"
    "subdevice 22 \"disp4 Address=9\"\n"
    "  display address=9\n";

std::string Plant(const std::string& settings = "") {
    return "[tovi]\nlog_file=errors.log\n" + settings +
           "[modules]\n"
           "pumps=do16, do16 Address=8\n"
           "narrow=do16, do16 narrow Address=9\n"
           "valves=ao4, ao4 Address=2\n"
           "counters=cnt2, cnt2 Address=6\n"
           "alarms=alarm4, alarm4 Address=7\n"
           "mixed=dio16, dio16 Address=5\n"
           "big=disp6, panel bus, disp6 Address=1\n"
           "small=disp4, panel bus, disp4 Address=9\n"
           "[pumps]\ndo_bit 0 2=100\ndo_bit 0 5=101\ndo_bit 0 1=102\ndo_byte 0=103\ndo_bit 0 0=104\n"
           "do_byte 1=110\ndo_bit 1 3=111\n"
           "[narrow]\ndo_byte 0=120\ndo_byte 1=121\ndo_bit 1 6=122\n"
           "[valves]\nao 0=130\n"
           "[counters]\ncnt_event_start 0=140 141\n"
           "[alarms]\nalarm_config 0=150 151 152\nalarm_enable 0=153\nalarm_reset 0=154\n"
           "[mixed]\ndi_bit 0 2=180\n"
           "[big]\ndisplay_select=160\ndisplay_data=161\n"
           "[small]\ndisplay_data=170\n";
}

// The port writes of one device in trace order, as "port mask state".
std::vector<std::string> PortWrites(const std::string& device) {
    std::vector<std::string> writes;
    for (const auto& call : devicetest::TraceCalls("DRV_DioWritePortByte")) {
        if (call.Argument("dev") != device) continue;
        writes.push_back(call.Argument("port") + " " + call.Argument("mask") + " " + call.Argument("state"));
    }
    return writes;
}

class OutputPassTest : public DeviceTest {
protected:
    void SetUp() override {
        DeviceTest::SetUp();
        LoadDevices(kDevices);
    }
    void StartPlant(const std::string& settings = "") { ASSERT_EQ(Start(Plant(settings)), 1) << message(); }

    static devsim_display_state Display(std::uint32_t device) {
        devsim_display_state state{};
        EXPECT_EQ(devsim_display_state_of(device, &state), 0);
        return state;
    }
};

TEST_F(OutputPassTest, WritesToACachedPortAreMergedIntoOnePortWrite) {
    StartPlant();
    struct Case {
        const char* what;
        std::vector<devicetest::Write> writes;
        const char* port_write;
        std::uint8_t lines;
    };
    const Case cases[] = {
        {"true bit 2, false bit 5", {Bool(100, true), Bool(101, false)}, "0 0x0024 0x0004", 0x04},
        {"byte, then false bit 1", {Real(103, 90), Bool(102, false)}, "0 0xFFFF 0x005A", 0x5A},
        {"bit 0, then byte", {Bool(104, true), Real(103, 16)}, "0 0xFFFF 0x0010", 0x10},
        {"byte beyond 8 bits", {Real(103, 300.7)}, "0 0xFFFF 0x002C", 0x2C},
        {"byte beyond 32 bits", {Real(103, 1e20)}, "0 0xFFFF 0x00FF", 0xFF},
        {"byte not a number", {Real(103, std::numeric_limits<double>::quiet_NaN())}, "0 0xFFFF 0x0000", 0x00},
        {"bits of both ports", {Bool(111, true), Bool(101, true), Real(110, 3)}, "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        devsim_trace_clear();
        WriteBatch(c.writes);
        EXPECT_TRUE(Calls("DRV_DioWriteBit").empty());
        for (const auto& write : c.writes) EXPECT_EQ(OutputStatus(write.channel), 0) << write.channel;
        if (c.port_write[0] == '\0') {
            // One write per port, in port order, whatever the order of the requests.
            EXPECT_EQ(PortWrites("8"), (std::vector<std::string>{"0 0x0020 0x0020", "1 0xFFFF 0x0003"}));
            continue;
        }
        EXPECT_EQ(PortWrites("8"), std::vector<std::string>{c.port_write});
        devsim_port_state port{};
        ASSERT_EQ(devsim_port_output(8, 0, &port), 0);
        EXPECT_EQ(port.value, c.lines);
    }
    // Between passes the output cache is all zero again.
    const tovi::Module* module = ModuleNamed("pumps");
    for (std::uint32_t p = 0; p < module->output_port_count; ++p) {
        EXPECT_EQ(module->output_cache[p].data | module->output_cache[p].mask | module->output_cache[p].status, 0u);
    }
    EXPECT_EQ(module->pending_writes.Count(), 0u);
}

TEST_F(OutputPassTest, BitsOutsideTheMaskChangeNothingInAMerge) {
    StartPlant();
    for (const std::int32_t bit : {16, 31, 40, -1, 8, 15}) {
        SCOPED_TRACE(bit);
        ChannelOf(100)->bit = bit;
        devsim_trace_clear();
        WriteBatch({Bool(100, true), Bool(101, true)});
        // Bits 8 to 15 are part of the 16-bit mask but not of the 8-bit data.
        const std::string mask = bit == 8 ? "0x0120" : bit == 15 ? "0x8020" : "0x0020";
        EXPECT_EQ(PortWrites("8"), std::vector<std::string>{"0 " + mask + " 0x0020"});
        EXPECT_EQ(OutputStatus(100), 0);
    }
}

TEST_F(OutputPassTest, PortsBeyondTheCacheAreWrittenDirectly) {
    StartPlant();
    WriteBatch({Real(121, 300.7), Bool(122, true), Real(120, 7), Real(130, 2.5)});
    EXPECT_EQ(PortWrites("9"), (std::vector<std::string>{"1 0xFFFF 0x012C", "0 0xFFFF 0x0007"}));
    const auto bits = Calls("DRV_DioWriteBit");
    ASSERT_EQ(bits.size(), 1u);
    EXPECT_EQ(bits[0].Argument("port"), "1");
    EXPECT_EQ(bits[0].Argument("bit"), "6");
    EXPECT_EQ(bits[0].Argument("state"), "1");
    devsim_port_state port{};
    ASSERT_EQ(devsim_port_output(9, 1, &port), 0);
    EXPECT_EQ(port.value, 0x6C);  // 0x2C from the byte, then line 6
    devsim_analog_output_state analog{};
    ASSERT_EQ(devsim_analog_output(2, 0, &analog), 0);
    EXPECT_EQ(analog.voltage, 2.5f);
    for (const std::int32_t channel : {120, 121, 122, 130}) EXPECT_EQ(OutputStatus(channel), 0) << channel;
}

TEST_F(OutputPassTest, AFailedPortWriteIsChargedToEveryChannelMergedIntoIt) {
    StartPlant("debug=1\n");
    InjectFault("DRV_DioWritePortByte status=150 device=8 channel=0 text=\"Bus error\"");
    WriteBatch({Bool(100, true), Bool(111, true), Bool(101, true), Bool(102, false)});
    EXPECT_EQ(OutputStatus(100), 2);
    EXPECT_EQ(OutputStatus(101), 2);
    EXPECT_EQ(OutputStatus(102), 2);
    EXPECT_EQ(OutputStatus(111), 0);  // the other port was still written
    devsim_port_state port{};
    ASSERT_EQ(devsim_port_output(8, 1, &port), 0);
    EXPECT_EQ(port.value, 0x08);
    const hostapi::WindowState window = Window();
    EXPECT_EQ(window.error_line_updates, 3u);
    EXPECT_EQ(window.error_line, kWritePrefix + "102 : Bus error");
    EXPECT_EQ(FileText("errors.log"), kWritePrefix + "100 : Bus error\n" + kWritePrefix + "101 : Bus error\n" +
                                          kWritePrefix + "102 : Bus error\n");
    // The channels keep the values the host gave.
    EXPECT_TRUE(BooleanValue(100));
}

// A merged write is not finished before its port is written: asked while the port
// write runs (from the simulator's trace hook, on the worker thread), the host
// hears "not finished", and afterwards the failure, not a success first.
struct PortWriteWatch {
    DriverInstance* driver;
    std::atomic<int> finished_early{0};
    std::atomic<int> port_writes{0};
};

void AskDuringPortWrite(void* context, const char* line) {
    auto* watch = static_cast<PortWriteWatch*>(context);
    if (std::string(line).find("DRV_DioWritePortByte") == std::string::npos) return;
    ++watch->port_writes;
    for (const std::int32_t channel : {100, 101}) {
        std::int32_t status = -1;
        if (OutputFinalized(watch->driver, channel, &status) != 0) ++watch->finished_early;
    }
}

TEST_F(OutputPassTest, AMergedWriteFinishesWithItsPortWrite) {
    StartPlant();
    InjectFault("DRV_DioWritePortByte status=150 device=8 channel=0 text=\"Bus error\"");
    PortWriteWatch watch{driver_};
    devsim_trace_set_callback(&AskDuringPortWrite, &watch);
    WriteBatch({Bool(100, true), Bool(101, true)});
    devsim_trace_set_callback(nullptr, nullptr);
    EXPECT_EQ(watch.port_writes.load(), 1);
    EXPECT_EQ(watch.finished_early.load(), 0);
    EXPECT_EQ(OutputStatus(100), 2);
    EXPECT_EQ(OutputStatus(101), 2);
}

// Without memory to remember a merged write, the port is written at once with what
// was merged so far: the port's writes keep the host's order, each channel learns
// the outcome of the write that carried its value, and none is charged twice.
TEST_F(OutputPassTest, AMergeWithoutMemoryWritesThePortInOrder) {
    StartPlant();
    struct Case {
        const char* fault;  // on the port writes of port 0; empty: none
        std::uint8_t lines;
        int byte_status, bit_status, later_status;
    };
    const Case cases[] = {
        {"", 0x24, 0, 0, 0},
        {"once", 0xFF, 2, 2, 0},     // the write made at once fails
        {"every=2", 0x04, 0, 0, 2},  // the write-back fails
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        devsim_trace_clear();
        devsim_clear_faults();
        WriteBatch({Real(103, 255)});  // all lines on, so that every case changes them
        if (c.fault[0] != '\0') {
            InjectFault(std::string("DRV_DioWritePortByte status=150 device=8 channel=0 ") + c.fault);
        }
        // Allocations: three queued requests, then the pending writes of 103 and 100.
        host::testing::FailAllocation(5);
        WriteBatch({Real(103, 0), Bool(100, true), Bool(101, true)});
        host::testing::FailAllocation(0);
        EXPECT_EQ(PortWrites("8"), (std::vector<std::string>{"0 0xFFFF 0x00FF", "0 0xFFFF 0x0004", "0 0x0020 0x0020"}));
        EXPECT_TRUE(Calls("DRV_DioWriteBit").empty());
        devsim_port_state port{};
        ASSERT_EQ(devsim_port_output(8, 0, &port), 0);
        EXPECT_EQ(port.value, c.lines);
        EXPECT_EQ(OutputStatus(103), c.byte_status);
        EXPECT_EQ(OutputStatus(100), c.bit_status);
        EXPECT_EQ(OutputStatus(101), c.later_status);
        EXPECT_EQ(ModuleNamed("pumps")->pending_writes.Count(), 0u);
    }
}

TEST_F(OutputPassTest, AlarmEnableFollowsItsLatchTable) {
    StartPlant();
    struct Case {
        double value;
        const char* latch;
        const char* enabled;
    };
    const Case cases[] = {{1.9, "1", "1"},  {2, "0", "1"},   {0, "0", "0"},   {3, "0", "0"},
                          {-1, "0", "0"},   {2.99, "0", "1"}, {std::numeric_limits<double>::quiet_NaN(), "0", "0"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        devsim_trace_clear();
        WriteBatch({Real(153, c.value)});
        const auto calls = Calls("DRV_AlarmEnable");
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].Argument("ch"), "0");
        EXPECT_EQ(calls[0].Argument("latch"), c.latch);
        EXPECT_EQ(calls[0].Argument("enabled"), c.enabled);
        EXPECT_EQ(OutputStatus(153), 0);
    }
}

TEST_F(OutputPassTest, AlarmConfigTakesTheLimitsThatWereWritten) {
    StartPlant();
    SetParameter(151, 2.5);
    WriteBatch({Bool(150, true)});
    devsim_alarm_state alarm{};
    ASSERT_EQ(devsim_alarm_state_of(7, 0, &alarm), 0);
    EXPECT_EQ(alarm.configs, 1u);
    EXPECT_EQ(alarm.low_limit, 2.5f);
    EXPECT_EQ(alarm.high_limit, 0.0f);
    SetParameter(152, 7.5);
    WriteBatch({Bool(150, true)});
    ASSERT_EQ(devsim_alarm_state_of(7, 0, &alarm), 0);
    EXPECT_EQ(alarm.low_limit, 2.5f);
    EXPECT_EQ(alarm.high_limit, 7.5f);
    // False sends nothing and finishes without error.
    WriteBatch({Bool(150, false), Bool(154, true)});
    ASSERT_EQ(devsim_alarm_state_of(7, 0, &alarm), 0);
    EXPECT_EQ(alarm.configs, 2u);
    EXPECT_EQ(alarm.resets, 1u);
    EXPECT_EQ(OutputStatus(150), 0);
    EXPECT_EQ(OutputStatus(154), 0);
}

TEST_F(OutputPassTest, CounterStartTakesTheGateModeAndFalseResets) {
    StartPlant();
    WriteBatch({Bool(140, true)});
    SetParameter(141, 3.9);
    WriteBatch({Bool(140, true)});
    const auto starts = Calls("DRV_CounterEventStart");
    ASSERT_EQ(starts.size(), 2u);
    EXPECT_EQ(starts[0].Argument("gate"), "0");
    EXPECT_EQ(starts[1].Argument("gate"), "3");
    WriteBatch({Bool(140, false)});
    const auto resets = Calls("DRV_CounterReset");
    ASSERT_EQ(resets.size(), 1u);
    EXPECT_EQ(resets[0].Argument("counter"), "0");
    devsim_counter_state counter{};
    ASSERT_EQ(devsim_counter_state_of(6, 0, &counter), 0);
    EXPECT_EQ(counter.starts, 2u);
    EXPECT_EQ(counter.resets, 1u);
    EXPECT_EQ(counter.started, 0);
}

TEST_F(OutputPassTest, AWriteToAnInputChannelCallsNoDevice) {
    StartPlant();
    devsim_clear_call_counts();
    WriteBatch({Bool(180, true)});
    EXPECT_EQ(CallCount("*"), 0u);
    EXPECT_EQ(OutputStatus(180), 0);
    ReadBatch({180});
    EXPECT_EQ(InputStatus(180), 0);
    EXPECT_TRUE(BooleanValue(180));  // 0x04 has bit 2
}

// Stopping between two items: the walk ends, and the port merged so far is still
// written before the pass returns.
TEST_F(OutputPassTest, AStopWithMergedWritesPendingStillWritesThePorts) {
    StartPlant();
    devsim_trace_set_callback(
        [](void* context, const char* line) {
            if (std::string(line).find(" DRV_AOVoltageOut ") != std::string::npos) {
                // What Done does first; Done itself would wait for this very thread.
                static_cast<DriverInstance*>(context)->run_state.fetch_or(tovi::kStopping);
            }
        },
        driver_);
    WriteBatch({Bool(100, true), Real(130, 1.0), Bool(101, true)});
    devsim_trace_set_callback(nullptr, nullptr);
    EXPECT_EQ(PortWrites("8"), std::vector<std::string>{"0 0x0004 0x0004"});
    EXPECT_EQ(OutputStatus(100), 0);
    EXPECT_EQ(OutputStatus(101), -1);  // still queued
    EXPECT_EQ(ModuleNamed("pumps")->pending_writes.Count(), 0u);
}

TEST_F(OutputPassTest, DisplayFramesByteForByte) {
    struct Case {
        const char* module;  // "big": disp6 at address 01, signed; "small": disp4 at 09
        std::int32_t channel;
        double value;
        const char* frame;
        const char* with_checksum;
    };
    const Case cases[] = {
        {"big", 160, 5, "$0185\r", "$0185F2\r"},
        {"big", 160, 3.9, "$0183\r", "$0183F0\r"},
        {"small", 170, 12.5, "$09912.500\r", "$09912.500EC\r"},
        {"small", 170, 123.456, "$099123.45\r", "$099123.45F3\r"},
        {"small", 170, 0.25, "$0990.2500\r", "$0990.2500EB\r"},
        {"small", 170, -3, "$0990.0000\r", "$0990.0000E4\r"},  // clamped to the minimum 0
        {"big", 161, 12.5, "$019+12.500\r", "$019+12.5000F\r"},
        {"big", 161, -12.5, "$019-12.500\r", "$019-12.50011\r"},
        {"big", 161, 0, "$019+0.0000\r", "$019+0.000007\r"},
    };
    for (const bool checksum : {false, true}) {
        SCOPED_TRACE(checksum ? "with checksum" : "without checksum");
        StartPlant(checksum ? "check_sum=1\n" : "");
        for (const Case& c : cases) {
            SCOPED_TRACE(c.value);
            const std::uint32_t device = std::string(c.module) == "big" ? 21 : 22;
            devsim_trace_clear();
            WriteBatch({Real(c.channel, c.value)});
            EXPECT_EQ(OutputStatus(c.channel), 0);
            const devsim_display_state display = Display(device);
            EXPECT_EQ(std::string(display.last_frame), checksum ? c.with_checksum : c.frame);
            EXPECT_TRUE(display.last_accepted);
            const auto calls = Calls();
            ASSERT_EQ(calls.size(), 2u);
            EXPECT_EQ(calls[0].function, "COMWrite");
            EXPECT_EQ(calls[1].function, "COMRead");
            EXPECT_EQ(calls[1].Argument("size"), "80");
            EXPECT_EQ(calls[1].Argument("timeout"), "100");
            EXPECT_EQ(calls[1].Argument("terminator"), "13");
        }
    }
    // A module without display parameters shows 0 whatever it is sent; an unsigned
    // module shows a negative value as its absolute value.
    tovi::Module* big = ModuleNamed("big");
    big->display_sign = 0;
    WriteBatch({Real(161, -12.5)});
    EXPECT_EQ(std::string(Display(21).last_frame), "$01912.500E4\r");
    big->display_min = big->display_max = 0.0;
    WriteBatch({Real(161, 42.0)});
    EXPECT_EQ(std::string(Display(21).last_frame), "$0190.0000DC\r");
}

TEST_F(OutputPassTest, SerialFailuresAreTheDisplayChannelsStatus) {
    StartPlant();
    const std::int32_t write_fault = InjectFault("COMWrite status=150 text=\"Line busy\"");
    WriteBatch({Real(161, 1)});
    EXPECT_EQ(OutputStatus(161), 2);
    EXPECT_EQ(Window().error_line, kWritePrefix + "161 : Line busy");
    EXPECT_TRUE(Calls("COMRead").empty());  // the read is skipped
    devsim_clear_fault(write_fault);
    InjectFault("COMRead status=151 once text=\"No reply\"");
    WriteBatch({Real(160, 2)});
    EXPECT_EQ(OutputStatus(160), 2);
    EXPECT_EQ(Window().error_line, kWritePrefix + "160 : No reply");
}

std::atomic<std::uint64_t> output_pass_allocations{0};

void CountingOutputPass(DriverInstance& driver) {
    const std::uint64_t before = host::testing::AllocationCount();
    tovi::OutputPass(driver);
    output_pass_allocations += host::testing::AllocationCount() - before;
}

TEST_F(OutputPassTest, APassAllocatesOnlyItsPendingWrites) {
    tovi::testing::ReplacePasses(nullptr, &CountingOutputPass);
    output_pass_allocations = 0;
    StartPlant("debug=1\ncheck_sum=1\n");
    SetParameter(141, 1);
    InjectFault("DRV_DioWritePortByte status=150 device=8 channel=1 text=\"Bus error\"");
    WriteBatch({Bool(100, true), Real(103, 1), Bool(111, true), Real(121, 5), Bool(122, true), Real(130, 1),
                Bool(140, true), Bool(150, true), Real(153, 1), Bool(154, true), Real(160, 1), Real(161, 1),
                Bool(180, true)});
    EXPECT_EQ(output_pass_allocations.load(), 3u);  // channels 100, 103 and 111 were merged
    EXPECT_EQ(OutputStatus(111), 2);
}

}  // namespace

namespace {

// A host that reads back an output and writes it in the same cycle: the write is
// made, and each direction's Finalized answers for its own request, a failed
// write included.
TEST_F(OutputPassTest, AReadAndAWriteOfOneChannelAreEachServedAndAnsweredInTheirDirection) {
    StartPlant();
    const auto both = [&](double value) {
        const std::uint64_t reads = completions_.Count(0);
        const std::uint64_t writes = completions_.Count(1);
        InputRequest(driver_, 130);
        std::uint32_t payload[2];
        std::memcpy(payload, &value, sizeof payload);
        OutputRequest(driver_, 130, tovi::kTypeReal, payload[0], payload[1]);
        InputRequestCompleted(driver_);
        OutputRequestCompleted(driver_);
        ASSERT_TRUE(completions_.WaitBeyond(0, reads));
        ASSERT_TRUE(completions_.WaitBeyond(1, writes));
    };
    devsim_analog_output_state output{};

    both(2.5);
    EXPECT_EQ(InputStatus(130), 0);
    EXPECT_EQ(OutputStatus(130), 0);
    ASSERT_EQ(devsim_analog_output(2, 0, &output), 0);
    EXPECT_EQ(output.voltage, 2.5f);
    EXPECT_EQ(output.writes, 1u);

    InjectFault("DRV_AOVoltageOut status=160 device=2 channel=0 once");
    both(3.5);
    EXPECT_EQ(InputStatus(130), 0);   // the read did not fail...
    EXPECT_EQ(OutputStatus(130), 2);  // ...the write did, and is told so once
    EXPECT_EQ(OutputStatus(130), 0);
    EXPECT_EQ(Window().error_line.rfind(kWritePrefix + "130 : ", 0), 0u) << Window().error_line;
}

}  // namespace
