// The host's writes derived from recorded output calls: each derived write, sent
// to the real driver against the recording, makes the recorded call again with
// the same fields; a call no channel of the parameter file makes is named.
#include "emulator/replay/derived_writes.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>

#include "device_sim/device_sim.h"
#include "recording/recording_format.h"
#include "tests/device/device_fixture.h"

namespace {

using tovihost::ChannelValue;
using tovihost::DerivedWrites;

// Made absolute before any fixture moves the current directory: under wine a path
// without a drive letter names the current drive.
const std::string kData = std::filesystem::absolute(TOVI_SOURCE_DIR "/tests/emulator/data/outputs/").string();

std::string FileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The writes as "CH=VALUE" words: booleans true/false, reals with every digit.
std::string Text(const std::vector<ChannelValue>& writes) {
    std::ostringstream out;
    out.precision(17);
    for (const ChannelValue& write : writes) {
        if (out.tellp() > 0) out << ' ';
        out << write.channel << '=';
        if (write.type_code == tovihost::kBoolean) {
            out << (write.boolean ? "true" : "false");
        } else {
            out << write.real;
        }
    }
    return out.str();
}

// The device list and serial configurations the driver was given for outputs.ini,
// as recorded, and a call line to go with them.
const char kDescribed[] =
    "tovi-recording 2\n"
    "started 2026-12-09T10:00:00Z\n"
    "device-library \"ADSAPI32\"\n"
    "serial-library \"ADSCOMM\"\n"
    "1+1 1 DRV_DeviceGetList max=6 -> 0 returned=6 entry=\"2 0 ao4 COM1 Address=2\" entry=\"3 0 dio16 COM1 Address=3\" "
    "entry=\"4 0 do16 COM1 Address=4\" entry=\"10 0 cnt2 COM2 Address=10 Dec\" entry=\"11 0 alarm4 COM2 Address=0B\" "
    "entry=\"20 2 COM3 bus\"\n"
    "2+1 1 DRV_DeviceGetSubList dev=20 max=2 -> 0 returned=2 entry=\"21 0 disp6 panel Address=7\" "
    "entry=\"22 0 disp4 gauge Address=9\"\n"
    "3+1 1 COMGetConfig index=5 -> 0 config=0300000080250000000000000000000000000000\n";

class DerivedWritesTest : public ::testing::Test {
protected:
    void SetUp() override { Load(kData + "outputs.ini"); }

    void Load(const std::string& parameters) {
        std::string error;
        ASSERT_TRUE(plant_.Load(parameters, "tovi.ini", error)) << error;
        recording::Recording described;
        ASSERT_TRUE(recording::ParseRecording(kDescribed, "described", described, error)) << error;
        deriver_ = std::make_unique<DerivedWrites>(plant_, described.calls);
    }

    // The writes for one call line; why must be empty when there are writes.
    std::string For(const std::string& line) {
        recording::Recording one;
        std::string error;
        EXPECT_TRUE(recording::ParseRecording(std::string(kDescribed) + "9+1 2 " + line + "\n", "call", one, error))
            << error;
        if (one.calls.empty()) return "";
        const std::vector<ChannelValue> writes = deriver_->For(one.calls.back(), why_);
        EXPECT_EQ(writes.empty(), !why_.empty()) << why_;
        return Text(writes);
    }

    tovihost::Plant plant_;
    std::unique_ptr<DerivedWrites> deriver_;
    std::string why_;
};

TEST_F(DerivedWritesTest, BindsModulesByTheRecordedDeviceList) {
    std::vector<std::int64_t> devices;
    for (const tovihost::PlantModule& module : plant_.modules()) devices.push_back(deriver_->DeviceOf(module));
    EXPECT_EQ(devices, (std::vector<std::int64_t>{2, 3, 4, 10, 11, 21, 22}));
    // Without a device list, no module is bound.
    const DerivedWrites blank(plant_);
    EXPECT_EQ(blank.DeviceOf(plant_.modules().front()), -1);
}

// As the driver binds: the last listed device whose name holds the device text
// in its first 49 characters, among the first 100 listed; then the last of its
// sub-devices holding the sub-device text.
TEST_F(DerivedWritesTest, BindsTheLastListedDeviceAndSubDeviceThatHoldTheirTexts) {
    const std::string pad35(35, '.');
    std::string list = "1+1 1 DRV_DeviceGetList max=101 -> 0 returned=101 entry=\"2 0 ao4 COM1 Address=2\" "
                       "entry=\"6 0 ao4 COM1 Address=2 spare\" entry=\"3 0 dio16 COM1 Address=3\" "
                       "entry=\"7 0 " + pad35 + ".COM1 Address=3\" entry=\"4 0 do16 COM1 Address=4\" "
                       "entry=\"8 0 " + pad35 + "COM1 Address=4\" entry=\"20 3 COM3 bus\"";
    for (int number = 100; number < 193; ++number) list += " entry=\"" + std::to_string(number) + " 0 filler\"";
    list += " entry=\"9 0 ao4 COM1 Address=2 the 101st\"\n";
    const std::string described = std::string("tovi-recording 2\nstarted 2026-12-09T10:00:00Z\n") +
                                  "device-library \"ADSAPI32\"\nserial-library \"ADSCOMM\"\n" + list +
                                  "2+1 1 DRV_DeviceGetSubList dev=20 max=3 -> 0 returned=3 entry=\"21 0 disp6 panel "
                                  "Address=7\" entry=\"22 0 disp4 gauge Address=9\" entry=\"23 0 disp6 panel Address=7 "
                                  "old\"\n";
    recording::Recording parsed;
    std::string error;
    ASSERT_TRUE(recording::ParseRecording(described, "described", parsed, error)) << error;
    ASSERT_EQ(parsed.calls.front().outputs.size(), 102u);  // returned= and the 101 entries
    const DerivedWrites deriver(plant_, parsed.calls);
    std::vector<std::int64_t> devices;
    for (const tovihost::PlantModule& module : plant_.modules()) devices.push_back(deriver.DeviceOf(module));
    // valves: 6, not 2 before it nor the 101st; burners: 3, as device 7 holds the
    // text from its 37th character on; pumps: 8, whose name ends with the text at
    // its 49th; no counter or alarm is listed; panel: 23, the last sub-device.
    EXPECT_EQ(devices, (std::vector<std::int64_t>{6, 3, 8, -1, -1, 23, 22}));
}

TEST_F(DerivedWritesTest, AnalogueCounterAndAlarmCalls) {
    // The recorded float, widened: the driver narrows it back to the same float.
    EXPECT_EQ(For("DRV_AOVoltageOut handle=1 dev=2 channel=1 voltage=12.345 -> 0"), "201=12.345000267028809");
    EXPECT_EQ(For("DRV_AOVoltageOut handle=1 dev=2 channel=0 voltage=0.1 -> 0"), "200=0.10000000149011612");
    // Parameter channels first, then their owner.
    EXPECT_EQ(For("DRV_CounterEventStart handle=4 dev=10 counter=0 gate=2 -> 0"), "601=2 600=true");
    EXPECT_EQ(For("DRV_CounterReset handle=4 dev=10 counter=0 -> 0"), "600=false");
    EXPECT_EQ(For("DRV_AlarmConfig handle=5 dev=11 channel=0 low_limit=0.1 high_limit=-12.345 -> 0"),
              "702=0.10000000149011612 703=-12.345000267028809 701=true");
    EXPECT_EQ(For("DRV_AlarmEnable handle=5 dev=11 channel=0 latch=1 enabled=1 -> 0"), "704=1");
    EXPECT_EQ(For("DRV_AlarmEnable handle=5 dev=11 channel=0 latch=0 enabled=1 -> 0"), "704=2");
    EXPECT_EQ(For("DRV_AlarmEnable handle=5 dev=11 channel=0 latch=0 enabled=0 -> 0"), "704=0");
    EXPECT_EQ(For("DRV_AlarmEnable handle=5 dev=11 channel=0 latch=1 enabled=0 -> 0"), "");
    EXPECT_EQ(why_, "the driver never writes latch=1 enabled=0");
    EXPECT_EQ(For("DRV_AlarmReset handle=5 dev=11 channel=0 -> 0"), "705=true");
}

TEST_F(DerivedWritesTest, PortWritesGoBackToTheirByteOrBitChannels) {
    EXPECT_EQ(For("DRV_DioWritePortByte handle=2 dev=3 port=1 mask=65535 state=90 -> 0"), "310=90");
    // Merged bits: each bit of the mask its channel, set as the state has it.
    EXPECT_EQ(For("DRV_DioWritePortByte handle=2 dev=3 port=1 mask=131 state=129 -> 0"), "320=true 321=false 327=true");
    EXPECT_EQ(For("DRV_DioWritePortByte handle=2 dev=3 port=1 mask=2 state=0 -> 0"), "321=false");
    // A direct port write takes 16 bits.
    EXPECT_EQ(For("DRV_DioWritePortByte handle=3 dev=4 port=1 mask=65535 state=4660 -> 0"), "401=4660");
    EXPECT_EQ(For("DRV_DioWriteBit handle=3 dev=4 port=1 bit=7 state=1 -> 0"), "417=true");
    EXPECT_EQ(For("DRV_DioWriteBit handle=3 dev=4 port=1 bit=7 state=0 -> 0"), "417=false");

    EXPECT_EQ(For("DRV_DioWritePortByte handle=2 dev=3 port=1 mask=5 state=1 -> 0"), "");
    EXPECT_EQ(why_, "module burners has no do_bit channel on port 1 bit 2");
    EXPECT_EQ(For("DRV_DioWritePortByte handle=2 dev=3 port=1 mask=1 state=3 -> 0"), "");
    EXPECT_EQ(why_, "the driver merges no port write with state 3 under mask 1");
    EXPECT_EQ(For("DRV_DioWriteBit handle=3 dev=4 port=1 bit=6 state=1 -> 0"), "");
    EXPECT_EQ(why_, "module pumps has no do_bit channel on port 1 bit 6");
}

TEST_F(DerivedWritesTest, DisplayFramesGoBackToAValueThatFormatsTheSame) {
    // Checksums: the sum of the frame's characters from "$" on, modulo 256.
    EXPECT_EQ(For(R"(COMWrite handle=6 port=3 length=14 data="$079+12.3451C\r" -> 0)"), "801=12.345000000000001");
    EXPECT_EQ(For(R"(COMWrite handle=6 port=3 length=14 data="$079+0.10000E\r" -> 0)"), "801=0.10000000000000001");
    // The range's ends, and a value held to them.
    EXPECT_EQ(For(R"(COMWrite handle=6 port=3 length=14 data="$079+99999945\r" -> 0)"), "801=999999");
    EXPECT_EQ(For(R"(COMWrite handle=6 port=3 length=14 data="$079-99999.3C\r" -> 0)"), "801=-99999");
    // A negative value that shows as zero.
    EXPECT_EQ(For(R"(COMWrite handle=6 port=3 length=14 data="$079-0.00000F\r" -> 0)"), "801=-1.0000000000000001e-05");
    EXPECT_EQ(For(R"(COMWrite handle=6 port=3 length=8 data="$0783F6\r" -> 0)"), "800=3");
    // Unsigned, from 0 to 9999.
    EXPECT_EQ(For(R"(COMWrite handle=7 port=3 length=13 data="$0999999.008\r" -> 0)"), "901=9999");
    EXPECT_EQ(For(R"(COMWrite handle=7 port=3 length=13 data="$0990.0000E4\r" -> 0)"), "901=0");

    EXPECT_EQ(For(R"(COMWrite handle=7 port=3 length=13 data="$0990.0000E5\r" -> 0)"), "");
    EXPECT_EQ(why_, "the frame's checksum E5 is not the sum of its characters (E4)");
    EXPECT_EQ(For(R"(COMWrite handle=7 port=3 length=13 data="$0B90.0000ED\r" -> 0)"), "");
    EXPECT_EQ(why_, "no display module of the parameter file has the address of frame \"$0B90.0000ED\" on serial port 3");
    // The panel's serial port is 3: the same frame on another port is no panel's.
    EXPECT_EQ(For(R"(COMWrite handle=7 port=4 length=13 data="$0990.0000E4\r" -> 0)"), "");
    EXPECT_EQ(For(R"(COMWrite handle=7 port=3 length=14 data="$099+1.000010\r" -> 0)"), "");
    EXPECT_EQ(why_, "module gauge shows no value as \"+1.0000\" (range 0 to 9999, unsigned)");
}

TEST_F(DerivedWritesTest, NamesTheDeviceOfAModuleMissingFromTheParameterFile) {
    tovitest::TempDirectory files;
    std::string text = FileText(kData + "outputs.ini");
    for (const char* line : {"pumps   = do16, COM1 Address=4\n"}) text.erase(text.find(line), std::string(line).size());
    text.erase(text.find("[pumps]"), text.find("[flow]") - text.find("[pumps]"));
    Load(files.Write("outputs.ini", text));
    EXPECT_EQ(For("DRV_DioWriteBit handle=3 dev=4 port=1 bit=7 state=1 -> 0"), "");
    EXPECT_EQ(why_, "no module of the parameter file binds to device 4 \"do16 COM1 Address=4\"");
    EXPECT_EQ(For("DRV_AIVoltageIn handle=1 dev=2 channel=0 gain=0 trigger=0 -> 0 voltage=1"), "");
    EXPECT_EQ(why_, "DRV_AIVoltageIn is not written by a host");
}

// The recording of outputs.scenario made through the recorder: every output call
// the driver made for the scenario's writes, with the device list, opens and
// serial set-up before them.
class DerivedWritesReplayTest : public devicetest::DeviceTest {};

TEST_F(DerivedWritesReplayTest, TheDerivedWritesMakeEveryRecordedCallAgain) {
    const std::string text = FileText(kData + "outputs.recording");
    recording::Recording recorded;
    std::string error;
    ASSERT_TRUE(recording::ParseRecording(text, "outputs.recording", recorded, error)) << error;
    tovihost::Plant plant;
    ASSERT_TRUE(plant.Load(kData + "outputs.ini", "tovi.ini", error)) << error;
    DerivedWrites deriver(plant, recorded.calls);

    ASSERT_EQ(devsim::LoadText(text), "");
    ASSERT_EQ(Start(FileText(kData + "outputs.ini")), 1) << message();
    std::size_t outputs = 0;
    for (const recording::Call& call : recorded.calls) {
        if (!tovihost::IsOutputCall(call.function)) continue;
        ++outputs;
        std::string why;
        const std::vector<ChannelValue> writes = deriver.For(call, why);
        ASSERT_FALSE(writes.empty()) << "line " << call.line << ": " << why;
        std::vector<devicetest::Write> batch;
        for (const ChannelValue& write : writes) {
            batch.push_back(write.type_code == tovihost::kBoolean ? devicetest::Bool(write.channel, write.boolean)
                                                                  : devicetest::Real(write.channel, write.real));
        }
        WriteBatch(batch);
        devsim_replay_state state{};
        ASSERT_EQ(devsim_replay_state_of(&state), 0);
        ASSERT_EQ(state.divergences, 0u) << "line " << call.line << ": " << Text(writes) << ": " << state.first_divergence;
    }
    Stop();
    EXPECT_EQ(outputs, 30u);
    devsim_replay_state state{};
    ASSERT_EQ(devsim_replay_state_of(&state), 0);
    EXPECT_EQ(state.divergences, 0u) << state.first_divergence;
    EXPECT_EQ(state.remaining, 0u);
}

}  // namespace
