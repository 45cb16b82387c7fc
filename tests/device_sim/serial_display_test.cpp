// COM calls: configuration by list position, serial handles, and the displays
// that decode frames and answer them.
#include <cstdio>
#include <cstring>

#include "tests/device_sim/sim_fixture.h"

namespace {

using simtest::SimTest;

constexpr char kSet[] =
    "device 5 \"panel\"\n"
    "  serial 3 baud=19200 parity=even\n"
    "device 8 \"disp6 Address=8\"\n"
    "  serial 1\n"
    "  display address=8\n"
    "device 9 \"disp6 Address=1\"\n"
    "  serial 1\n"
    "  display address=1\n"
    "device 10 \"disp6 Address=1A\"\n"
    "  serial 1\n"
    "  display address=0x1A checksum=on\n"
    "device 20 \"line 2\"\n"
    "  serial 2\n"
    "subdevice 22 \"disp6 Address=8 remote\"\n"
    "  display address=8\n";

// Appends the two hexadecimal digits of the sum of all characters.
std::string WithChecksum(const std::string& frame) {
    unsigned sum = 0;
    for (unsigned char c : frame) sum += c;
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02X", sum & 0xFF);
    return frame + digits;
}

class SerialDisplayTest : public SimTest {
protected:
    void SetUp() override {
        Load(kSet);
        line1_ = OpenSerial(1);
    }

    // Writes a frame and reads the answer as the driver does.
    std::string Exchange(const std::string& frame, Status* read_status = nullptr, Handle handle = 0) {
        if (handle == 0) handle = line1_;
        EXPECT_EQ(COMWrite(handle, frame.data(), static_cast<std::uint32_t>(frame.size())), 0);
        char buffer[80];
        std::uint32_t received = 0;  // a failing read leaves it as it is
        const Status status = COMRead(handle, buffer, sizeof buffer, 100, 13, &received);
        if (read_status) *read_status = status;
        EXPECT_LE(received, sizeof buffer);
        return std::string(buffer, received);
    }

    static devsim_display_state Display(std::uint32_t device) {
        devsim_display_state state{};
        EXPECT_EQ(devsim_display_state_of(device, &state), 0);
        return state;
    }

    Handle line1_ = 0;
};

TEST_F(SerialDisplayTest, ConfigurationComesByListPosition) {
    vendor::SerialConfig config;
    std::memset(&config, 0xAB, sizeof config);
    ASSERT_EQ(COMGetConfig(0, &config), 0);  // device 5 is at position 0
    EXPECT_EQ(config.port, 3u);
    EXPECT_EQ(config.rest[0] | config.rest[1] << 8, 19200);
    EXPECT_EQ(config.rest[5], 2);  // even parity
    EXPECT_EQ(config.rest[15], 0);
    ASSERT_EQ(COMGetConfig(4, &config), 0);
    EXPECT_EQ(config.port, 2u);
    EXPECT_EQ(COMGetConfig(5, &config), DEVSIM_E_LIST_POSITION);
    EXPECT_EQ(COMGetConfig(-1, &config), DEVSIM_E_LIST_POSITION);
    EXPECT_EQ(COMGetConfig(0, nullptr), DEVSIM_E_INVALID_ARGUMENT);

    // The configuration goes back unchanged to a handle of its port.
    Handle handle = OpenSerial(2);
    EXPECT_EQ(COMSetConfig(handle, &config), 0);
    EXPECT_EQ(COMSetConfig(line1_, &config), DEVSIM_E_SERIAL_CONFIG);
    EXPECT_EQ(COMSetConfig(handle, nullptr), DEVSIM_E_INVALID_ARGUMENT);
    ASSERT_EQ(COMClose(&handle), 0);
    EXPECT_EQ(handle, 0u);
    EXPECT_EQ(COMSetConfig(12345, &config), DEVSIM_E_INVALID_HANDLE);
}

TEST_F(SerialDisplayTest, PortsOpenOftenAndCloseOnce) {
    Handle second = OpenSerial(1);
    EXPECT_NE(second, line1_);
    EXPECT_EQ(devsim_open_serial_handles(1), 2);
    Handle handle = 0x7FFFFFFF;
    EXPECT_EQ(COMOpen(0, nullptr, &handle), DEVSIM_E_SERIAL_PORT);
    EXPECT_EQ(COMOpen(256, nullptr, &handle), DEVSIM_E_SERIAL_PORT);
    EXPECT_EQ(handle, 0x7FFFFFFFu);
    EXPECT_EQ(COMOpen(1, nullptr, nullptr), DEVSIM_E_INVALID_ARGUMENT);
    const Handle saved = second;
    ASSERT_EQ(COMClose(&second), 0);
    second = saved;
    EXPECT_EQ(COMClose(&second), DEVSIM_E_INVALID_HANDLE);
    EXPECT_EQ(COMClose(nullptr), DEVSIM_E_INVALID_ARGUMENT);
    EXPECT_EQ(devsim_open_serial_handles(-1), 1);
    Handle device_handle = line1_;
    EXPECT_EQ(DRV_DeviceClose(&device_handle), DEVSIM_E_INVALID_HANDLE);  // not a device handle
}

TEST_F(SerialDisplayTest, DataFramesShowTheirNumber) {
    EXPECT_EQ(Exchange("$089012.50\r"), "!08\r");
    devsim_display_state state = Display(8);
    EXPECT_TRUE(state.has_value);
    EXPECT_EQ(state.value, 12.5);
    EXPECT_STREQ(state.shown, "012.50");
    EXPECT_STREQ(state.last_frame, "$089012.50\r");
    EXPECT_EQ(state.last_command, 9);
    EXPECT_FALSE(state.last_checksum_present);

    // Signed, with a checksum; a decimal comma is read too.
    EXPECT_EQ(Exchange(WithChecksum("$089-0,2500") + "\r"), "!08\r");
    state = Display(8);
    EXPECT_EQ(state.value, -0.25);
    EXPECT_TRUE(state.last_checksum_present);
    EXPECT_TRUE(state.last_checksum_ok);

    // A wrong checksum or a field that is no number is refused; the display keeps its number.
    const std::string good = WithChecksum("$089+123.45");
    std::string bad = good;
    bad.back() = bad.back() == '0' ? '1' : '0';
    EXPECT_EQ(Exchange(bad + "\r"), "?08\r");
    EXPECT_EQ(Exchange("$089nan000\r"), "?08\r");
    EXPECT_EQ(Exchange("$08912.5\r"), "?08\r");  // four characters: not a data field
    state = Display(8);
    EXPECT_EQ(state.value, -0.25);
    EXPECT_EQ(state.frames, 5u);
    EXPECT_EQ(state.rejected, 3u);
    EXPECT_TRUE(state.last_checksum_present == 0 && state.last_accepted == 0);
    // Only the display on port 2 with the same address sees port 2's frames.
    EXPECT_EQ(Display(22).frames, 0u);
}

TEST_F(SerialDisplayTest, SelectFramesWithAndWithoutChecksum) {
    EXPECT_EQ(Exchange("$0185F2\r"), "!01\r");  // $0185 sums to 242
    devsim_display_state state = Display(9);
    EXPECT_EQ(state.selection, 5);
    EXPECT_TRUE(state.last_checksum_present && state.last_checksum_ok);
    EXPECT_EQ(Exchange("$0185F3\r"), "?01\r");
    EXPECT_EQ(Display(9).selection, 5);
    EXPECT_EQ(Exchange("$018123\r"), "!01\r");  // "23" is not the sum: data 123
    state = Display(9);
    EXPECT_EQ(state.selection, 123);
    EXPECT_FALSE(state.last_checksum_present);
    EXPECT_EQ(Exchange("$018-7\r"), "!01\r");
    EXPECT_EQ(Display(9).selection, -7);
    EXPECT_EQ(Exchange("$01899999999999\r"), "?01\r");  // beyond 32 bits
}

TEST_F(SerialDisplayTest, AddressesMatchInAnyCaseAndModeOnWantsAChecksum) {
    EXPECT_EQ(Exchange(WithChecksum("$1a9000042") + "\r"), "!1A\r");
    EXPECT_EQ(Display(10).value, 42.0);
    EXPECT_EQ(Exchange("$1A9000043\r"), "?1A\r");  // "43" taken as a wrong checksum
    EXPECT_EQ(Display(10).value, 42.0);
}

TEST_F(SerialDisplayTest, FramesForNobodyTimeOut) {
    const std::int64_t before = devsim_clock();
    Status status = 0;
    EXPECT_EQ(Exchange("$779000001\r", &status), "");
    EXPECT_EQ(status, DEVSIM_E_SERIAL_TIMEOUT);
    EXPECT_EQ(devsim_clock() - before, 100'000);  // the time-out passed
    EXPECT_EQ(Exchange("garbage\r", &status), "");
    EXPECT_EQ(status, DEVSIM_E_SERIAL_TIMEOUT);
    const auto trace = devsim::Trace();
    devsim::TraceRecord write;
    ASSERT_TRUE(devsim::ParseTraceLine(trace[trace.size() - 2], &write));
    EXPECT_EQ(write.Result("display"), "none");
}

TEST_F(SerialDisplayTest, BytesAreFramedAcrossWritesAndReads) {
    const std::string first = "$08901";
    const std::string rest = "2.50\r$0185F2\r";
    ASSERT_EQ(COMWrite(line1_, first.data(), static_cast<std::uint32_t>(first.size())), 0);
    ASSERT_EQ(COMWrite(line1_, rest.data(), static_cast<std::uint32_t>(rest.size())), 0);
    char buffer[8];
    std::uint32_t received = 0;
    ASSERT_EQ(COMRead(line1_, buffer, 2, 100, 13, &received), 0);  // a full buffer
    EXPECT_EQ(std::string(buffer, received), "!0");
    ASSERT_EQ(COMRead(line1_, buffer, sizeof buffer, 100, 13, &received), 0);
    EXPECT_EQ(std::string(buffer, received), "8\r");
    ASSERT_EQ(COMRead(line1_, buffer, sizeof buffer, 100, 13, &received), 0);
    EXPECT_EQ(std::string(buffer, received), "!01\r");
    EXPECT_EQ(COMRead(line1_, nullptr, 8, 100, 13, &received), DEVSIM_E_INVALID_ARGUMENT);
    EXPECT_EQ(COMRead(line1_, buffer, 8, 100, 13, nullptr), DEVSIM_E_INVALID_ARGUMENT);
    EXPECT_EQ(COMWrite(line1_, nullptr, 3), DEVSIM_E_INVALID_ARGUMENT);

    // A stream without CR is dropped at 256 bytes; framing starts afresh.
    const std::string noise(1000, '$');
    ASSERT_EQ(COMWrite(line1_, noise.data(), static_cast<std::uint32_t>(noise.size())), 0);
    ASSERT_EQ(COMWrite(line1_, "\r", 1), 0);
    EXPECT_EQ(Exchange("$089000777\r"), "!08\r");
    EXPECT_EQ(Display(8).value, 777.0);
}

TEST_F(SerialDisplayTest, SerialFaultsNarrowToTheAddressedDisplay) {
    Handle line2 = OpenSerial(2);
    ASSERT_GT(devsim_inject_fault("COMWrite", 950, "Line busy", 8, nullptr, -1, DEVSIM_ALWAYS, 0), 0);
    const std::string frame = "$089000001\r";
    EXPECT_EQ(COMWrite(line1_, frame.data(), static_cast<std::uint32_t>(frame.size())), 950);
    EXPECT_EQ(Display(8).frames, 0u);
    EXPECT_EQ(Exchange(frame, nullptr, line2), "!08\r");  // device 22 on port 2
    EXPECT_EQ(Display(22).value, 1.0);
    ASSERT_GT(devsim_inject_fault("COMRead", 951, nullptr, -1, nullptr, 2, DEVSIM_ONCE, 0), 0);
    Status status = 0;
    Exchange(frame, &status, line2);
    EXPECT_EQ(status, 951);
    EXPECT_EQ(devsim_call_count("COMWrite", 22), 2u);
}

}  // namespace
