// The input pass against simulated devices: one port read per cached port and
// pass, direct reads elsewhere, the values each kind of channel stores, and the
// device errors in the error line and the error log.
#include <atomic>
#include <filesystem>
#include <limits>
#include <string>

#include "device/passes.h"
#include "host/memory.h"
#include "tests/device/device_fixture.h"

namespace {

using devicetest::DeviceTest;
using devicetest::kReadPrefix;
using devicetest::Real;

const char kDevices[] =
    "device 1 \"ai8 Address=1\"\n"
    "  ai 0-8 = 1.5\n"
    "device 3 \"di16 Address=3\"\n"
    "  di 16\n"
    "  inport 0 = 0xA5\n"
    "  inport 1 = 0x3C\n"
    "device 4 \"di16 small Address=4\"\n"
    "  di 8\n"                  // one cached port; port 1 lies beyond it
    "  inport 0 = 0x10F\n"      // the high byte is not part of the 8-bit port
    "  inport 1 = 0x1F0\n"
    "device 6 \"cnt2 Address=6\"\n"
    "  counter 0 = 4294967295\n"
    "  counter 1 = 4294967301\n"  // passed 32 bits: 5 with overflow
    "  freq 0 = 1000.5\n"
    "device 7 \"alarm4 Address=7\"\n"
    "  alarm 0 = 5\n"
    "device 8 \"do16 Address=8\"\n"
    "  do 16\n";

std::string Plant(const std::string& settings = "") {
    return "[tovi]\nlog_file=errors.log\n" + settings +
           "[modules]\n"
           "analog=ai8, ai8 Address=1\n"
           "inputs=di16, di16 Address=3\n"
           "small=di16, di16 small Address=4\n"
           "counters=cnt2, cnt2 Address=6\n"
           "alarms=alarm4, alarm4 Address=7\n"
           "outputs=do16, do16 Address=8\n"
           "[analog]\nai 0=10 11\nai 1=12\n"
           "[inputs]\ndi_bit 0 0=20\ndi_bit 0 1=21\ndi_bit 0 5=22\ndi_byte 0=23\ndi_bit 1 2=24\ndi_byte 1=25\n"
           "[small]\ndi_bit 0 3=30\ndi_bit 1 4=31\ndi_byte 1=32\ndi_byte 0=33\n"
           "[counters]\ncnt_event_read 0=40 41\ncnt_event_read 1=42 43\ncnt_freq_read 0=44\n"
           "[alarms]\nalarm_check_lo 0=50\nalarm_check_hi 0=51\nalarm_config 0=52 53 54\nalarm_enable 0=55\n"
           "[outputs]\ndo_byte 0=60\n";
}

class InputPassTest : public DeviceTest {
protected:
    void SetUp() override {
        DeviceTest::SetUp();
        LoadDevices(kDevices);
    }
    void StartPlant(const std::string& settings = "") { ASSERT_EQ(Start(Plant(settings)), 1) << message(); }
    static std::uint64_t PortReads(std::int64_t device) { return CallCount("DRV_DioReadPortByte", device); }
};

TEST_F(InputPassTest, ACachedPortIsReadOncePerPassForAllItsChannels) {
    StartPlant();
    ReadBatch({20, 21, 22, 23, 24, 25});
    EXPECT_EQ(PortReads(3), 2u);  // ports 0 and 1, once each
    for (const std::int32_t channel : {20, 21, 22, 23, 24, 25}) EXPECT_EQ(InputStatus(channel), 0) << channel;
    EXPECT_TRUE(BooleanValue(20));
    EXPECT_FALSE(BooleanValue(21));
    EXPECT_TRUE(BooleanValue(22));
    EXPECT_EQ(RealValue(23), 165.0);
    EXPECT_TRUE(BooleanValue(24));
    EXPECT_EQ(RealValue(25), 60.0);
    // Between passes the cache is all zero, so the next pass reads the port afresh.
    const tovi::Module* module = ModuleNamed("inputs");
    for (std::uint32_t p = 0; p < module->input_port_count; ++p) {
        EXPECT_EQ(module->input_cache[p].data | module->input_cache[p].mask | module->input_cache[p].status, 0u);
    }
    devsim_set_input_value(3, "inport", 0, 0x5A);
    ReadBatch({20, 23});
    EXPECT_EQ(PortReads(3), 3u);
    EXPECT_FALSE(BooleanValue(20));
    EXPECT_EQ(RealValue(23), 90.0);
}

TEST_F(InputPassTest, PortsBeyondTheCacheAreReadForEveryChannel) {
    StartPlant();
    // Bits the port value does not have read 0: 8 bits from the cache, 16 direct.
    ChannelOf(30)->bit = 8;
    ReadBatch({30, 33, 31, 32});
    EXPECT_EQ(PortReads(4), 3u);  // port 0 once, port 1 for each of its two channels
    EXPECT_FALSE(BooleanValue(30));
    EXPECT_EQ(RealValue(33), 15.0);
    EXPECT_TRUE(BooleanValue(31));
    EXPECT_EQ(RealValue(32), 496.0);  // the whole 16-bit result of a direct read

    for (const std::int32_t bit : {8, 15, 16, 31, 32, 40, -1}) {
        SCOPED_TRACE(bit);
        ChannelOf(31)->bit = bit;
        ReadBatch({31});
        EXPECT_EQ(InputStatus(31), 0);
        EXPECT_EQ(BooleanValue(31), bit == 8);  // 0x1F0 has bit 8 set, no bit above it
    }
}

TEST_F(InputPassTest, AFailedCachedReadIsRetriedByTheNextChannelOfThePort) {
    StartPlant();
    ReadBatch({20});
    ASSERT_TRUE(BooleanValue(20));
    InjectFault("DRV_DioReadPortByte status=150 device=3 channel=0 once text=\"Bus error\"");
    devsim_set_input_value(3, "inport", 0, 0x02);
    ReadBatch({20, 21, 23});
    EXPECT_EQ(PortReads(3), 3u);  // the failed read, its retry, nothing for channel 23
    EXPECT_EQ(InputStatus(20), 2);
    EXPECT_EQ(InputStatus(20), 0);  // reported once
    EXPECT_TRUE(BooleanValue(20));  // the failed channel keeps its last value
    EXPECT_EQ(InputStatus(21), 0);
    EXPECT_TRUE(BooleanValue(21));
    EXPECT_EQ(RealValue(23), 2.0);
    EXPECT_EQ(Window().error_line, kReadPrefix + "20 : Bus error");
}

TEST_F(InputPassTest, GainCodeComesFromTheParameterChannel) {
    StartPlant();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        bool write;
        double value;
        const char* gain;
    };
    const Case cases[] = {{false, 0, "0"},     {true, 3.7, "3"},  {true, -1.5, "65535"}, {true, 1e20, "65535"},
                          {true, -1e20, "0"}, {true, nan, "0"}, {true, 65538.0, "2"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        if (c.write) SetParameter(11, c.value);
        devsim_trace_clear();
        ReadBatch({10, 12});
        const auto calls = Calls("DRV_AIVoltageIn");
        ASSERT_EQ(calls.size(), 2u);
        EXPECT_EQ(calls[0].Argument("gain"), c.gain);
        EXPECT_EQ(calls[1].Argument("gain"), "0");  // a channel without a gain channel
        EXPECT_EQ(calls[0].Argument("trigger"), "0");
        EXPECT_EQ(InputStatus(10), 0);
        EXPECT_EQ(RealValue(10), 1.5);
    }
}

TEST_F(InputPassTest, CountersAndTheirOverflowFlags) {
    StartPlant();
    ReadBatch({40, 42, 44});
    EXPECT_EQ(RealValue(40), 4294967295.0);
    EXPECT_FALSE(BooleanValue(41));
    EXPECT_EQ(RealValue(42), 5.0);
    EXPECT_TRUE(BooleanValue(43));
    EXPECT_EQ(RealValue(44), 1000.5);
    // The parameter channel gets the flag, not a status of its own.
    EXPECT_EQ(ChannelOf(43)->flags & (tovi::kQueued | tovi::kBusy | tovi::kErrorPending), 0u);
    EXPECT_EQ(ChannelOf(43)->value.type_code, tovi::kTypeBoolean);
    // A failed read leaves the flag alone.
    InjectFault("DRV_CounterEventRead status=150 channel=1 once");
    ReadBatch({42});
    EXPECT_EQ(InputStatus(42), 2);
    EXPECT_TRUE(BooleanValue(43));
}

TEST_F(InputPassTest, AlarmChecksReadTheStateOfTheirSide) {
    StartPlant();
    SetParameter(53, 2.0);
    SetParameter(54, 8.0);
    WriteBatch({devicetest::Bool(52, true), Real(55, 2)});
    const double values[] = {5.0, 1.0, 9.0};
    for (const double value : values) {
        SCOPED_TRACE(value);
        devsim_set_input_value(7, "alarm", 0, value);
        const std::uint64_t before = CallCount("DRV_AlarmCheck");
        ReadBatch({50, 51});
        EXPECT_EQ(CallCount("DRV_AlarmCheck"), before + 2);
        EXPECT_EQ(BooleanValue(50), value < 2.0);
        EXPECT_EQ(BooleanValue(51), value > 8.0);
    }
}

TEST_F(InputPassTest, AReadOfAnOutputChannelCallsNoDevice) {
    StartPlant();
    devsim_clear_call_counts();
    ReadBatch({60});
    EXPECT_EQ(CallCount("*"), 0u);
    EXPECT_EQ(InputStatus(60), 0);
    EXPECT_EQ(ChannelOf(60)->flags & (tovi::kQueued | tovi::kBusy), 0u);
}

TEST_F(InputPassTest, DeviceErrorsGoToTheErrorLineAndWithDebugToTheLog) {
    StartPlant("debug=1\n");
    const std::filesystem::path log = files_.path() / "errors.log";
    EXPECT_FALSE(std::filesystem::exists(log));  // created by the first error only
    InjectFault("DRV_AIVoltageIn status=150 channel=1 text=\"Input overrange\"");
    ReadBatch({12});
    EXPECT_EQ(InputStatus(12), 2);
    const std::string line = kReadPrefix + "12 : Input overrange";
    EXPECT_EQ(Window().error_line, line);
    EXPECT_EQ(FileText("errors.log"), line + "\n");
    ReadBatch({10, 12});
    EXPECT_EQ(InputStatus(10), 0);
    EXPECT_EQ(FileText("errors.log"), line + "\n" + line + "\n");  // appended
    EXPECT_EQ(Window().error_line_updates, 2u);
}

TEST_F(InputPassTest, WithoutDebugNoLogFileIsWritten) {
    StartPlant("debug=0\n");
    InjectFault("DRV_AIVoltageIn status=150 text=\"Input overrange\"");
    ReadBatch({10, 12});
    EXPECT_EQ(Window().error_line, kReadPrefix + "12 : Input overrange");
    for (const auto& entry : std::filesystem::directory_iterator(files_.path())) {
        EXPECT_EQ(entry.path().filename(), "plant.ini");
    }
}

// A log path that does not fit is not cut into the name of another file: the line
// is dropped, as for a file that cannot be created.
TEST_F(InputPassTest, ALogPathThatDoesNotFitWritesNoFile) {
    // The directory leaves room for "/errors.l" within 259 characters, not for the whole name.
    const std::size_t room = 259 - std::string("/errors.l").size();
    std::filesystem::path directory = files_.path();
    while (directory.string().size() < room) {
        const std::size_t part = std::min<std::size_t>(100, room - directory.string().size() - 1);
        directory /= std::string(std::max<std::size_t>(part, 1), 'd');
    }
    ASSERT_EQ(directory.string().size(), room);
    std::filesystem::create_directories(directory);
    hostapi::SetWorkingDirectory(directory.string());
    StartPlant("debug=1\n");
    InjectFault("DRV_AIVoltageIn status=150 channel=1 text=\"Input overrange\"");
    ReadBatch({12});
    EXPECT_EQ(InputStatus(12), 2);
    EXPECT_EQ(Window().error_line, kReadPrefix + "12 : Input overrange");
    for (const auto& entry : std::filesystem::recursive_directory_iterator(files_.path())) {
        if (entry.is_regular_file()) {
            EXPECT_EQ(entry.path().filename(), "plant.ini");
        }
    }
}

TEST_F(InputPassTest, ALongVendorTextIsCutAt79CharactersInBothPlaces) {
    StartPlant("debug=1\n");
    const std::string text(200, 'x');
    InjectFault("DRV_DioReadPortByte status=150 text=\"" + text + "\"");
    ReadBatch({23});
    const std::string expected = (kReadPrefix + "23 : " + text).substr(0, 79);
    EXPECT_EQ(Window().error_line, expected);
    EXPECT_EQ(FileText("errors.log"), expected + "\n");
}

TEST_F(InputPassTest, TheLastFailureOfAPassStaysInTheErrorLine) {
    StartPlant("debug=1\n");
    InjectFault("DRV_AIVoltageIn status=150 channel=0 text=\"First\"");
    InjectFault("DRV_CounterFreqRead status=151 text=\"Second\"");
    ReadBatch({10, 44});
    EXPECT_EQ(InputStatus(10), 2);
    EXPECT_EQ(InputStatus(44), 2);
    EXPECT_EQ(Window().error_line, kReadPrefix + "44 : Second");
    EXPECT_EQ(FileText("errors.log"), kReadPrefix + "10 : First\n" + kReadPrefix + "44 : Second\n");
}

std::atomic<std::uint64_t> input_pass_allocations{0};
std::atomic<int> input_passes{0};

void CountingInputPass(DriverInstance& driver) {
    const std::uint64_t before = host::testing::AllocationCount();
    tovi::InputPass(driver);
    input_pass_allocations += host::testing::AllocationCount() - before;
    ++input_passes;
}

TEST_F(InputPassTest, APassAllocatesNothing) {
    tovi::testing::ReplacePasses(&CountingInputPass, nullptr);
    input_pass_allocations = 0;
    input_passes = 0;
    StartPlant("debug=1\n");
    SetParameter(11, 2);
    InjectFault("DRV_DioReadPortByte status=150 device=4 channel=1 text=\"Bus error\"");
    ReadBatch({10, 12, 20, 21, 23, 25, 30, 31, 32, 40, 42, 44, 50, 51, 60});
    ReadBatch({20, 31});
    EXPECT_EQ(input_passes.load(), 2);
    EXPECT_EQ(input_pass_allocations.load(), 0u);
    EXPECT_EQ(InputStatus(31), 2);
}

}  // namespace
