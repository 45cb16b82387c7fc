// The simulated device manager with a recording as its device set: recorded
// answers in their order per function, device and channel, divergences named,
// damaged recordings refused with FILE:LINE.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "device_sim/device_sim.h"
#include "device_sim/exports.h"

namespace {

const char kHeader[] =
    "tovi-recording 1\n"
    "started 2026-12-08T10:00:00Z\n"
    "device-library \"C:\\\\vendor\\\\ADSAPI32.dll\"\n"
    "serial-library \"C:\\\\vendor\\\\ADSCOMM.dll\"\n";

const char kCalls[] =
    "10 1 DRV_DeviceOpen dev=3 -> 0 handle=7\n"
    "20 1 DRV_DioReadPortByte handle=7 dev=3 port=0 -> 0 value=90\n"
    "21 1 DRV_DioReadPortByte handle=7 dev=3 port=1 -> 0 value=1\n"
    "30 1 DRV_DioReadPortByte handle=7 dev=3 port=0 -> 1001 value=90\n"
    "35 1 DRV_GetErrorMessage code=1001 -> 0 text=\"Bus \\\"error\\\"\\xE8\"\n"
    "40 1 DRV_DioWritePortByte handle=7 dev=3 port=1 mask=255 state=90 -> 0\n"
    "41 2 DRV_AIVoltageIn handle=7 dev=3 channel=2 gain=1 trigger=0 -> 0 voltage=-2.75\n"
    "50 1 COMOpen port=3 -> 0 handle=8\n"
    "60 1 COMRead handle=8 port=3 size=80 timeout=100 terminator=13 -> 0 data=\"!07\\r\" received=4\n"
    "70 1 DRV_DeviceClose handle=7 dev=3 -> 0 handle=0\n";

class ReplayTest : public ::testing::Test {
protected:
    void TearDown() override { devsim_unload(); }

    static std::string Load(const std::string& text) {
        char error[512] = {};
        return devsim_load_text(text.c_str(), error, sizeof error) == 0 ? "" : error;
    }
    static devsim_replay_state State() {
        devsim_replay_state state{};
        EXPECT_EQ(devsim_replay_state_of(&state), 0);
        return state;
    }
};

TEST_F(ReplayTest, AnswersEveryCallAsRecordedInItsOrderPerDeviceAndPort) {
    ASSERT_EQ(Load(std::string(kHeader) + kCalls), "");
    Handle device = 0;
    ASSERT_EQ(DRV_DeviceOpen(3, &device), 0);
    EXPECT_EQ(device, 7u);
    // Port 1 before the second read of port 0: each port keeps its own order.
    std::uint16_t value = 0;
    vendor::DioReadPortByteBlock read{1, 0, &value};
    EXPECT_EQ(DRV_DioReadPortByte(device, &read), 0);
    EXPECT_EQ(value, 1);
    read.port = 0;
    EXPECT_EQ(DRV_DioReadPortByte(device, &read), 0);
    EXPECT_EQ(value, 90);
    value = 0;
    EXPECT_EQ(DRV_DioReadPortByte(device, &read), 1001);
    EXPECT_EQ(value, 90);
    char text[256];
    std::memset(text, 'x', sizeof text);
    EXPECT_EQ(DRV_GetErrorMessage(1001, text), 0);
    EXPECT_STREQ(text, "Bus \"error\"\xE8");
    vendor::DioWritePortByteBlock write{1, 255, 90};
    EXPECT_EQ(DRV_DioWritePortByte(device, &write), 0);
    float volts = 0;
    vendor::AIVoltageInBlock ai{2, 1, 0, 0, &volts};
    EXPECT_EQ(DRV_AIVoltageIn(device, &ai), 0);
    EXPECT_EQ(volts, -2.75f);

    Handle serial = 0;
    std::uint32_t unused = 0;
    ASSERT_EQ(COMOpen(3, &unused, &serial), 0);
    EXPECT_EQ(serial, 8u);
    char reply[80];
    std::uint32_t received = 0;
    EXPECT_EQ(COMRead(serial, reply, sizeof reply, 100, 13, &received), 0);
    ASSERT_EQ(received, 4u);
    EXPECT_EQ(std::string(reply, 4), "!07\r");
    EXPECT_EQ(DRV_DeviceClose(&device), 0);
    EXPECT_EQ(device, 0u);

    const devsim_replay_state state = State();
    EXPECT_EQ(state.calls, 10u);
    EXPECT_EQ(state.divergences, 0u);
    EXPECT_EQ(state.remaining, 0u);
    EXPECT_STREQ(state.first_divergence, "");

    // A reset starts the recording again.
    devsim_reset();
    EXPECT_EQ(State().remaining, 10u);
}

TEST_F(ReplayTest, NamesTheFirstCallThatDiffersFromTheRecording) {
    ASSERT_EQ(Load(std::string(kHeader) + kCalls), "");
    Handle device = 0;
    ASSERT_EQ(DRV_DeviceOpen(3, &device), 0);
    // A changed output: answered with the recorded status, counted, named.
    vendor::DioWritePortByteBlock write{1, 255, 91};
    EXPECT_EQ(DRV_DioWritePortByte(device, &write), 0);
    // A call the recording does not have at all.
    vendor::DioWriteBitBlock bit{1, 3, 1};
    EXPECT_NE(DRV_DioWriteBit(device, &bit), 0);
    const devsim_replay_state state = State();
    EXPECT_EQ(state.calls, 3u);
    EXPECT_EQ(state.divergences, 2u);
    EXPECT_STREQ(state.first_divergence,
                 "call 2: DRV_DioWritePortByte dev=3 port=1: expected dev=3 port=1 mask=255 state=90 (text:10), "
                 "got dev=3 port=1 mask=255 state=91");
    EXPECT_EQ(state.ended, 0);
}

TEST_F(ReplayTest, DescriptionsRepeatAndCallsPastTheEndEndTheReplay) {
    ASSERT_EQ(Load(std::string(kHeader) +
                   "1 1 DRV_DeviceGetNumOfList -> 0 devices=2\n"
                   "2 1 DRV_DeviceGetList max=2 -> 0 returned=2 entry=\"1 0 ai8\" entry=\"20 2 COM3 bus\"\n"
                   "3 1 DRV_DeviceOpen dev=1 -> 0 handle=5\n"
                   "4 1 DRV_AIVoltageIn handle=5 dev=1 channel=0 gain=0 trigger=0 -> 0 voltage=1.5\n"),
              "");
    for (int round = 0; round < 2; ++round) {
        std::int16_t count = 0, returned = 0;
        EXPECT_EQ(DRV_DeviceGetNumOfList(&count), 0);
        EXPECT_EQ(count, 2);
        vendor::DeviceListEntry list[2];
        std::memset(list, 0x55, sizeof list);
        EXPECT_EQ(DRV_DeviceGetList(list, 2, &returned), 0);
        ASSERT_EQ(returned, 2);
        EXPECT_EQ(list[1].device_number, 20u);
        EXPECT_EQ(list[1].subdevice_count, 2);
        EXPECT_EQ(std::string(list[1].device_name, sizeof list[1].device_name),
                  std::string("COM3 bus") + std::string(42, '\0'));
    }
    Handle device = 0;
    ASSERT_EQ(DRV_DeviceOpen(1, &device), 0);
    float volts = 0;
    vendor::AIVoltageInBlock ai{0, 0, 0, 0, &volts};
    EXPECT_EQ(DRV_AIVoltageIn(device, &ai), 0);
    EXPECT_NE(DRV_AIVoltageIn(device, &ai), 0);
    const devsim_replay_state state = State();
    EXPECT_EQ(state.ended, 1);
    EXPECT_EQ(state.divergences, 0u);
}

TEST_F(ReplayTest, ARecordedAnswerLargerThanTheCallsRoomIsNotWritten) {
    ASSERT_EQ(Load(std::string(kHeader) +
                   "2 1 DRV_DeviceGetList max=1 -> 0 returned=2 entry=\"1 0 ai8\"\n"
                   "3 1 COMOpen port=3 -> 0 handle=8\n"
                   "4 1 COMRead handle=8 port=3 size=4 timeout=100 terminator=13 -> 0 data=\"!07\\r\" received=9\n"
                   "5 1 COMRead handle=8 port=3 size=4 timeout=100 terminator=13 -> 0 data=\"!07\\r!\" received=5\n"),
              "");
    vendor::DeviceListEntry list[2];
    std::memset(list, 0, sizeof list);
    std::int16_t returned = 0;
    DRV_DeviceGetList(list, 1, &returned);
    EXPECT_EQ(returned, 0);
    Handle serial = 0;
    std::uint32_t unused = 0;
    ASSERT_EQ(COMOpen(3, &unused, &serial), 0);
    char reply[5] = {'x', 'x', 'x', 'x', 'x'};
    std::uint32_t received = 0;
    COMRead(serial, reply, 4, 100, 13, &received);
    EXPECT_LE(received, 4u);
    COMRead(serial, reply, 4, 100, 13, &received);
    EXPECT_LE(received, 4u);
    EXPECT_EQ(reply[4], 'x');
    const devsim_replay_state state = State();
    EXPECT_EQ(state.divergences, 3u);
    EXPECT_STREQ(state.first_divergence,
                 "call 1: DRV_DeviceGetList: text:5: returned=2 is more than the call gave room for (1)");
}

TEST_F(ReplayTest, DamagedRecordingsAreRefusedWithTheirLineAndTheDeviceSetStays) {
    ASSERT_EQ(Load("device 4 \"do16 Address=4\"\n  do 8\n"), "");
    const struct {
        std::string text;
        std::string error;
    } cases[] = {
        {"tovi-recording 3\n", "text:1: recording format version 3 is not known (this build reads versions 1 to 2)"},
        {"tovi-recording one\n", "text:1: the first line must be \"tovi-recording VERSION\""},
        {std::string(kHeader) + "10 1 DRV_DeviceOpen dev=3 -> 0 handle=7\n20 1 DRV_DioReadPortByte handle=7 dev=3",
         "text:6: the line ends before \"-> STATUS\": a call line cut short"},
        {std::string(kHeader) + "41 2 DRV_AIVoltageIn handle=7 channel=2 -> 0 voltage=2,5\n",
         "text:5: voltage=2,5 is not a number"},
        {std::string(kHeader) + "60 1 COMRead handle=8 -> 0 data=\"!07\\r received=4\n",
         "text:5: a text has no closing \""},
        {std::string(kHeader) + "60 1 COMRead handle=8 -> 0 data=\"\\x4\"\n", "text:5: \\x takes two hexadecimal digits"},
        {std::string(kHeader) + "60 1 DRV_Explode handle=8 -> 0\n", "text:5: unknown function \"DRV_Explode\""},
        {std::string(kHeader) + "60 1 COMOpen port=3 colour=red -> 0\n", "text:5: unknown field \"colour\""},
        {std::string(kHeader) + "60 1 COMOpen port=3 -> zero\n",
         "text:5: \"->\" must be followed by the status, a whole number"},
        {std::string(kHeader) + "2 1 DRV_DeviceGetList max=2 -> 0 entry=\"1 ai8\"\n",
         "text:5: entry must be \"NUMBER SUBDEVICES NAME\" with a name of at most 50 bytes"},
        {"tovi-recording 1\nstarted now\nlibraries \"x\"\n", "text:3: unknown header line \"libraries\""},
        {std::string(kHeader) + "10 1 DRV_DeviceOpen dev=3 -> 0 handle=7\nnot a call\n",
         "text:6: a call line must start with its time in microseconds"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Load(c.text), c.error) << c.text;
        EXPECT_EQ(devsim_replay_state_of(nullptr), -1);
        devsim_replay_state state{};
        EXPECT_EQ(devsim_replay_state_of(&state), -1) << "a refused recording must not replace the device set";
        EXPECT_EQ(devsim_device_count(), 1);
    }
}

// ---- Recordings read as the replay goes -----------------------------------------

namespace fs = std::filesystem;

const char kHeader2[] =
    "tovi-recording 2\n"
    "started 2026-12-08T10:00:00Z\n"
    "device-library \"/v/libADSAPI32.so\"\n"
    "serial-library \"/v/libADSCOMM.so\"\n";

class ReplayFilesTest : public ReplayTest {
protected:
    void SetUp() override {
        directory_ = fs::temp_directory_path() /
                     ("tovi_replay_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(directory_);
        fs::create_directories(directory_);
    }
    void TearDown() override {
        devsim_unload();
        fs::remove_all(directory_);
    }
    std::string Write(const std::string& name, const std::string& text) {
        const fs::path path = directory_ / name;
        std::ofstream(path, std::ios::binary) << text;
        return path.string();
    }
    static std::string Open(const std::vector<std::string>& paths) {
        std::vector<const char*> names;
        for (const std::string& path : paths) names.push_back(path.c_str());
        char error[512] = {};
        return devsim_replay_open(names.data(), static_cast<std::uint32_t>(names.size()), error, sizeof error) == 0
                   ? ""
                   : error;
    }
    static std::uint16_t ReadPort(Handle device, std::uint16_t port) {
        std::uint16_t value = 0;
        vendor::DioReadPortByteBlock read{port, 0, &value};
        EXPECT_EQ(DRV_DioReadPortByte(device, &read), 0);
        return value;
    }
    static vendor::Status WritePort(Handle device, std::uint16_t state) {
        vendor::DioWritePortByteBlock write{1, 255, state};
        return DRV_DioWritePortByte(device, &write);
    }
    fs::path directory_;
};

// A run rotated into three files: the later ones restate the open they need.
const char kFirstFile[] =
    "10+5 1 DRV_DeviceOpen dev=3 -> 0 handle=7\n"
    "20+5 1 DRV_DioReadPortByte handle=7 dev=3 port=0 -> 0 value=1\n"
    "30+5 1 DRV_DioReadPortByte handle=7 dev=3 port=0 -> 0 value=2\n";
const char kSecondFile[] =
    "continues 40\n"
    "carried 10+5 1 DRV_DeviceOpen dev=3 -> 0 handle=7\n"
    "40+5 1 DRV_DioReadPortByte handle=7 dev=3 port=0 -> 0 value=3\n"
    "50+5 1 DRV_DioWritePortByte handle=7 dev=3 port=1 mask=255 state=90 -> 0\n";
const char kThirdFile[] =
    "continues 60\n"
    "carried 10+5 1 DRV_DeviceOpen dev=3 -> 0 handle=7\n"
    "60+5 1 DRV_DioReadPortByte handle=7 dev=3 port=0 -> 0 value=4\n"
    "3723123456+5 1 DRV_DeviceClose handle=7 dev=3 -> 0 handle=0\n";

TEST_F(ReplayFilesTest, ARotatedSetReplaysAsOneRunWhateverTheOrderGiven) {
    const std::string first = Write("rec.txt.2", std::string(kHeader2) + kFirstFile);
    const std::string second = Write("rec.txt.1", std::string(kHeader2) + kSecondFile);
    const std::string third = Write("rec.txt", std::string(kHeader2) + kThirdFile);
    ASSERT_EQ(Open({third, first, second}), "");
    Handle device = 0;
    ASSERT_EQ(DRV_DeviceOpen(3, &device), 0);
    EXPECT_EQ(ReadPort(device, 0), 1);
    EXPECT_EQ(ReadPort(device, 0), 2);
    EXPECT_EQ(ReadPort(device, 0), 3);
    EXPECT_EQ(WritePort(device, 90), 0);
    EXPECT_EQ(ReadPort(device, 0), 4);
    EXPECT_EQ(DRV_DeviceClose(&device), 0);
    devsim_replay_finish();
    const devsim_replay_state state = State();
    EXPECT_EQ(state.calls, 7u);
    EXPECT_EQ(state.made, 7u);
    EXPECT_EQ(state.missing, 0u);
    EXPECT_EQ(state.extra, 0u);
    EXPECT_EQ(state.divergences, 0u);
    EXPECT_EQ(state.remaining, 0u);
    EXPECT_EQ(state.read_all, 1);
    EXPECT_EQ(state.files, 3u);
    EXPECT_EQ(state.continues, 0);
    EXPECT_EQ(state.reached_us, 3723123456u);
    EXPECT_STREQ(state.started, "2026-12-08T10:00:00Z");
    // Every replayed call counts for its device, as the simulator's own calls do.
    EXPECT_EQ(devsim_call_count(nullptr, 3), 7u);
    EXPECT_EQ(devsim_call_count("DRV_DioReadPortByte", 3), 4u);
}

TEST_F(ReplayFilesTest, AFileThatContinuesARunReplaysAloneFromItsCarriedCalls) {
    ASSERT_EQ(Open({Write("rec.txt.1", std::string(kHeader2) + kSecondFile)}), "");
    devsim_replay_state state = State();
    EXPECT_EQ(state.continues, 1);
    EXPECT_EQ(state.continues_us, 40u);
    Handle device = 0;
    ASSERT_EQ(DRV_DeviceOpen(3, &device), 0);
    EXPECT_EQ(device, 7u);
    // The host's first cycle is answered from the file without taking its calls.
    EXPECT_EQ(ReadPort(device, 0), 3);
    EXPECT_EQ(WritePort(device, 90), 0);
    EXPECT_EQ(State().made, 1u);
    EXPECT_EQ(State().before_start, 2u);
    devsim_replay_cycle_done();
    // The file begins where a pass begins: nothing of it is left out.
    EXPECT_EQ(State().left_out, 0u);
    EXPECT_EQ(ReadPort(device, 0), 3);
    EXPECT_EQ(WritePort(device, 90), 0);
    state = State();
    EXPECT_EQ(state.made, 3u);
    EXPECT_EQ(state.divergences, 0u);
    EXPECT_EQ(state.remaining, 0u);
    // Asked again past the end: the run went on longer than the recording.
    std::uint16_t value = 0;
    vendor::DioReadPortByteBlock read{0, 0, &value};
    EXPECT_NE(DRV_DioReadPortByte(device, &read), 0);
    EXPECT_EQ(State().ended, 1);
    EXPECT_EQ(State().extra, 0u);
}

TEST_F(ReplayFilesTest, AFileThatBeginsBetweenTwoCallsOfOneKeyLeavesOutItsPartialPass) {
    // Each pass reads port 0 once and port 1 twice; the file begins at the second
    // port 1 read of a pass, and a port 2 read of the host's first cycle is not in it.
    const std::string path = Write("rec.txt.1", std::string(kHeader2) +
                                                    "continues 100\n"
                                                    "carried 10+5 1 DRV_DeviceOpen dev=3 -> 0 handle=7\n"
                                                    "100+5 1 DRV_DioReadPortByte handle=7 dev=3 port=1 -> 0 value=11\n"
                                                    "200+5 1 DRV_DioReadPortByte handle=7 dev=3 port=0 -> 0 value=20\n"
                                                    "210+5 1 DRV_DioReadPortByte handle=7 dev=3 port=1 -> 0 value=21\n"
                                                    "220+5 1 DRV_DioReadPortByte handle=7 dev=3 port=1 -> 0 value=22\n"
                                                    "300+5 1 DRV_DioReadPortByte handle=7 dev=3 port=0 -> 0 value=30\n"
                                                    "310+5 1 DRV_DioReadPortByte handle=7 dev=3 port=1 -> 0 value=31\n"
                                                    "320+5 1 DRV_DioReadPortByte handle=7 dev=3 port=1 -> 0 value=32\n");
    ASSERT_EQ(Open({path}), "");
    Handle device = 0;
    ASSERT_EQ(DRV_DeviceOpen(3, &device), 0);
    EXPECT_EQ(ReadPort(device, 0), 20);
    EXPECT_EQ(ReadPort(device, 1), 11);
    EXPECT_EQ(ReadPort(device, 1), 11);
    std::uint16_t value = 0;
    vendor::DioReadPortByteBlock other{2, 0, &value};
    EXPECT_NE(DRV_DioReadPortByte(device, &other), 0);  // nothing to answer with
    devsim_replay_cycle_done();
    devsim_replay_state state = State();
    EXPECT_EQ(state.before_start, 4u);
    EXPECT_EQ(state.before_unheld, 1u);
    EXPECT_EQ(state.left_out, 1u);
    EXPECT_EQ(state.divergences, 0u);
    for (const int pass : {20, 30}) {
        EXPECT_EQ(ReadPort(device, 0), pass);
        EXPECT_EQ(ReadPort(device, 1), pass + 1);
        EXPECT_EQ(ReadPort(device, 1), pass + 2);
    }
    state = State();
    EXPECT_EQ(state.made, 7u);
    EXPECT_EQ(state.remaining, 0u);
    EXPECT_EQ(state.through, 1);
    EXPECT_EQ(state.divergences, 0u);
    EXPECT_EQ(state.reached_us, 320u);
}

TEST_F(ReplayFilesTest, AFileHoldingNoWholePassLeavesOutAllButItsCloses) {
    const std::string path = Write("rec.txt", std::string(kHeader2) +
                                                  "continues 100\n"
                                                  "carried 10+5 1 DRV_DeviceOpen dev=3 -> 0 handle=7\n"
                                                  "100+5 1 DRV_DioReadPortByte handle=7 dev=3 port=1 -> 0 value=11\n"
                                                  "150+5 1 DRV_DeviceClose handle=7 dev=3 -> 0 handle=0\n");
    ASSERT_EQ(Open({path}), "");
    Handle device = 0;
    ASSERT_EQ(DRV_DeviceOpen(3, &device), 0);
    std::uint16_t value = 0;
    vendor::DioReadPortByteBlock first{0, 0, &value};
    EXPECT_NE(DRV_DioReadPortByte(device, &first), 0);
    EXPECT_EQ(ReadPort(device, 1), 11);
    EXPECT_EQ(State().through, 0);
    devsim_replay_cycle_done();
    devsim_replay_state state = State();
    EXPECT_EQ(state.left_out, 1u);
    EXPECT_EQ(state.through, 1);
    devsim_replay_stopping();
    EXPECT_EQ(DRV_DeviceClose(&device), 0);
    devsim_replay_finish();
    state = State();
    EXPECT_EQ(state.made, 2u);
    EXPECT_EQ(state.missing, 0u);
    EXPECT_EQ(state.divergences, 0u);
}

TEST_F(ReplayFilesTest, ACallPassedOverIsMissingAtItsPlaceAndComesFirst) {
    // Port 0 read, a write, then reads: the write is not made, a write of
    // another value comes later.
    std::string text = std::string(kHeader2) + "10+5 1 DRV_DeviceOpen dev=3 -> 0 handle=7\n"
                                               "20+5 1 DRV_DioWritePortByte handle=7 dev=3 port=1 mask=255 state=90 -> 0\n";
    const int reads = 9000;
    for (int i = 0; i < reads; ++i)
        text += std::to_string(30 + i) + "+5 1 DRV_DioReadPortByte handle=7 dev=3 port=0 -> 0 value=1\n";
    const std::string path = Write("long.txt", text);
    ASSERT_EQ(Open({path}), "");
    Handle device = 0;
    ASSERT_EQ(DRV_DeviceOpen(3, &device), 0);
    for (int i = 0; i < 8191; ++i) ReadPort(device, 0);
    // Not yet further than the window reaches behind the latest call made.
    EXPECT_EQ(State().missing, 0u);
    ReadPort(device, 0);
    devsim_replay_state state = State();
    EXPECT_EQ(state.missing, 1u);
    EXPECT_EQ(state.divergences, 1u);
    EXPECT_EQ(state.first_divergence,
              path + ":6: recorded DRV_DioWritePortByte dev=3 port=1 mask=255 state=90, not made");
    // A later call the recording does not hold counts as extra; the first
    // divergence stays the earliest in the recording.
    EXPECT_NE(WritePort(device, 91), 0);
    state = State();
    EXPECT_EQ(state.extra, 1u);
    EXPECT_EQ(state.divergences, 2u);
    EXPECT_EQ(state.first_divergence,
              path + ":6: recorded DRV_DioWritePortByte dev=3 port=1 mask=255 state=90, not made");
    EXPECT_EQ(state.made, 8193u);
    EXPECT_EQ(state.remaining, static_cast<std::uint64_t>(reads - 8192));
}

TEST_F(ReplayFilesTest, TheEndCountsWhatWasPassedOverAndNotWhatWasNotReached) {
    const std::string path = Write("rec.txt", std::string(kHeader2) +
                                                  "10+5 1 DRV_DeviceOpen dev=3 -> 0 handle=7\n"
                                                  "15+5 1 DRV_DeviceOpen dev=9 -> 0 handle=8\n"
                                                  "20+5 1 DRV_DioReadPortByte handle=7 dev=3 port=1 -> 0 value=5\n"
                                                  "30+5 1 DRV_DioReadPortByte handle=7 dev=3 port=0 -> 0 value=1\n"
                                                  "40+5 1 DRV_DioReadPortByte handle=7 dev=3 port=0 -> 0 value=2\n"
                                                  "50+5 1 DRV_DioReadPortByte handle=7 dev=3 port=1 -> 0 value=6\n"
                                                  "60+5 1 DRV_DeviceClose handle=7 dev=3 -> 0 handle=0\n");
    ASSERT_EQ(Open({path}), "");
    Handle device = 0;
    ASSERT_EQ(DRV_DeviceOpen(3, &device), 0);
    EXPECT_EQ(ReadPort(device, 0), 1);
    // Not in the recording: a divergence noted now, after the latest call made.
    EXPECT_NE(WritePort(device, 77), 0);
    // The stop: its close is made, the rest of the recording is not reached.
    devsim_replay_stopping();
    EXPECT_EQ(DRV_DeviceClose(&device), 0);
    devsim_replay_finish();
    const devsim_replay_state state = State();
    EXPECT_EQ(state.made, 3u);
    EXPECT_EQ(state.missing, 1u);
    EXPECT_EQ(state.extra, 1u);
    EXPECT_EQ(state.remaining, 2u);
    EXPECT_EQ(state.reached_us, 30u);
    // A device the run does not bind: its open is no divergence. The read passed
    // over comes first: it is earlier in the recording than the extra write.
    EXPECT_EQ(state.unused_setup, 1u);
    EXPECT_EQ(state.divergences, 2u);
    EXPECT_EQ(state.first_divergence,
              path + ":7: recorded DRV_DioReadPortByte dev=3 port=1, not made");
}

TEST_F(ReplayFilesTest, UpcomingOutputsListTheNextUnmadeWritePerChannel) {
    const std::string path = Write("rec.txt", std::string(kHeader2) +
                                                  "10+5 1 DRV_DeviceOpen dev=3 -> 0 handle=7\n"
                                                  "20+5 1 DRV_DioWritePortByte handle=7 dev=3 port=1 mask=255 state=90 -> 0\n"
                                                  "30+5 1 DRV_AOVoltageOut handle=7 dev=3 channel=0 voltage=2.5 -> 0\n"
                                                  "40+5 1 DRV_DioWritePortByte handle=7 dev=3 port=1 mask=255 state=91 -> 0\n"
                                                  "50+5 1 DRV_DioReadPortByte handle=7 dev=3 port=0 -> 0 value=1\n");
    ASSERT_EQ(Open({path}), "");
    struct Seen {
        std::vector<std::pair<std::uint64_t, std::string>> calls;
        static void Add(std::uint64_t number, const char* line, void* context) {
            static_cast<Seen*>(context)->calls.emplace_back(number, line);
        }
    };
    Seen seen;
    ASSERT_EQ(devsim_replay_upcoming_outputs(Seen::Add, &seen), 0);
    ASSERT_EQ(seen.calls.size(), 2u);
    EXPECT_EQ(seen.calls[0].first, 1u);
    EXPECT_EQ(seen.calls[0].second, "20+5 1 DRV_DioWritePortByte handle=7 dev=3 port=1 mask=255 state=90 -> 0");
    EXPECT_EQ(seen.calls[1].first, 2u);
    EXPECT_EQ(seen.calls[1].second, "30+5 1 DRV_AOVoltageOut handle=7 dev=3 channel=0 voltage=2.5 -> 0");
    // A write the run cannot make is missing at once, with the reason.
    EXPECT_EQ(devsim_replay_pass_over(2, "no channel of the parameter file writes device 3 channel 0"), 0);
    EXPECT_EQ(devsim_replay_pass_over(2, "twice"), -1);
    Handle device = 0;
    ASSERT_EQ(DRV_DeviceOpen(3, &device), 0);
    EXPECT_EQ(WritePort(device, 90), 0);
    seen.calls.clear();
    ASSERT_EQ(devsim_replay_upcoming_outputs(Seen::Add, &seen), 0);
    ASSERT_EQ(seen.calls.size(), 1u);
    EXPECT_EQ(seen.calls[0].first, 3u);
    const devsim_replay_state state = State();
    EXPECT_EQ(state.missing, 1u);
    EXPECT_EQ(state.first_divergence,
              path + ":7: recorded DRV_AOVoltageOut dev=3 channel=0 voltage=2.5, not made: no channel of the "
                     "parameter file writes device 3 channel 0");
}

TEST_F(ReplayFilesTest, WhatIsNoRecordingIsNamedForWhatItIs) {
    const std::string devices = Write("plant.devices", "device 4 \"do16 Address=4\"\n  do 8\n");
    const std::string missing = (directory_ / "none.txt").string();
    const std::string other_run = Write("rec.txt", std::string(kHeader2) + kFirstFile);
    std::string second_text = std::string(kHeader2) + kSecondFile;
    second_text.replace(second_text.find("10:00:00Z"), 9, "11:00:00Z");
    const std::string second = Write("rec.txt.1", second_text);
    const struct {
        std::vector<std::string> paths;
        std::string error;
    } cases[] = {
        {{directory_.string()}, directory_.string() + ": cannot be read: it is a directory"},
        {{missing}, missing + ": cannot be read: no such file"},
        {{devices}, devices + ":1: not a recording: it must start with \"tovi-recording 2\""},
        {{second, other_run},
         second + ": not of the same run as " + other_run + " (started 2026-12-08T11:00:00Z, not 2026-12-08T10:00:00Z)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Open(c.paths), c.error);
        devsim_replay_state state{};
        EXPECT_EQ(devsim_replay_state_of(&state), -1);
    }
    // A file named alone that turns out to be a recording is read as it goes.
    char error[256] = {};
    ASSERT_EQ(devsim_load_file(other_run.c_str(), error, sizeof error), 0) << error;
    EXPECT_EQ(State().files, 1u);
    // A device set loaded after it ends the replay: the set answers.
    ASSERT_EQ(devsim_load_text("device 3 \"dio16\"\n  di 8\n  inport 0 = 0x5A\n", error, sizeof error), 0) << error;
    devsim_replay_state state{};
    EXPECT_EQ(devsim_replay_state_of(&state), -1);
    Handle device = 0;
    ASSERT_EQ(DRV_DeviceOpen(3, &device), 0);
    EXPECT_EQ(ReadPort(device, 0), 0x5A);
}

}  // namespace
