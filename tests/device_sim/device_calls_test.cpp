// DRV_ calls: lists and handles, the features block, bad arguments, the port read
// into a packed cache entry, what outputs keep, error texts, and resolving the
// exports by name.
#include <cmath>
#include <cstring>
#include <set>

#include "platform/platform.h"
#include "tests/device_sim/sim_fixture.h"

namespace {

using simtest::SimTest;

constexpr char kSet[] =
    "device 1 \"ai8 Address=1\"\n"
    "  gains 0-3\n"
    "  ai 0 = 2.5\n"
    "device 3 \"dio16 Address=3\"\n"
    "  di 16\n"
    "  do 8\n"
    "  inport 0 = 0x5A\n"
    "  inport 1 = 0x1234\n"
    "  outport 2 = 0x81\n"
    "  ao 0-1 = 0 min=-10 max=10\n"
    "  counter 0 = count(100, 10)\n"
    "  counter 1 = 4294967300\n"
    "  freq 0 = 50.5\n"
    "  alarm 0 = 3\n"
    "device 20 \"station\"\n"
    "subdevice 21 \"cnt2 Address=6\"\n"
    "subdevice 22 \"disp6 Address=8\"\n";

class DeviceCallsTest : public SimTest {
protected:
    void SetUp() override { Load(kSet); }
};

TEST_F(DeviceCallsTest, ListsWriteExactlyTheEntriesAskedFor) {
    std::int16_t count = 0;
    ASSERT_EQ(DRV_DeviceGetNumOfList(&count), 0);
    ASSERT_EQ(count, 3);

    // A table of exactly max_entries, followed by a guard entry.
    vendor::DeviceListEntry table[4];
    std::memset(table, 0xCD, sizeof table);
    std::int16_t returned = -1;
    ASSERT_EQ(DRV_DeviceGetList(table, 3, &returned), 0);
    EXPECT_EQ(returned, 3);
    EXPECT_EQ(table[1].device_number, 3u);
    EXPECT_STREQ(table[1].device_name, "dio16 Address=3");
    EXPECT_EQ(table[1].device_name[49], '\0');  // padded with NULs
    EXPECT_EQ(table[2].subdevice_count, 2);
    const auto* guard = reinterpret_cast<const unsigned char*>(&table[3]);
    for (std::size_t i = 0; i < sizeof table[3]; ++i) ASSERT_EQ(guard[i], 0xCD);

    // Fewer is fine; more than listed, negative, or missing pointers are refused.
    std::memset(table, 0xCD, sizeof table);
    EXPECT_EQ(DRV_DeviceGetList(table, 1, &returned), 0);
    EXPECT_EQ(returned, 1);
    EXPECT_EQ(table[1].device_number, 0xCDCDCDCDu);
    EXPECT_EQ(DRV_DeviceGetList(table, 4, &returned), DEVSIM_E_TABLE_SIZE);
    EXPECT_EQ(DRV_DeviceGetList(table, -1, &returned), DEVSIM_E_TABLE_SIZE);
    EXPECT_EQ(DRV_DeviceGetList(nullptr, 2, &returned), DEVSIM_E_INVALID_ARGUMENT);
    EXPECT_EQ(DRV_DeviceGetList(table, 2, nullptr), DEVSIM_E_INVALID_ARGUMENT);
    EXPECT_EQ(DRV_DeviceGetList(nullptr, 0, &returned), 0);
    EXPECT_EQ(DRV_DeviceGetNumOfList(nullptr), DEVSIM_E_INVALID_ARGUMENT);

    // Sub-devices: listed under their device's number, opened by their own.
    ASSERT_EQ(DRV_DeviceGetSubList(20, table, 2, &returned), 0);
    EXPECT_EQ(table[0].device_number, 21u);
    EXPECT_STREQ(table[1].device_name, "disp6 Address=8");
    EXPECT_EQ(table[1].subdevice_count, 0);
    EXPECT_EQ(DRV_DeviceGetSubList(20, table, 3, &returned), DEVSIM_E_TABLE_SIZE);
    EXPECT_EQ(DRV_DeviceGetSubList(21, table, 0, &returned), 0);
    EXPECT_EQ(DRV_DeviceGetSubList(99, table, 0, &returned), DEVSIM_E_DEVICE_NOT_FOUND);
    Handle sub = Open(22);
    EXPECT_EQ(DRV_DeviceClose(&sub), 0);
}

TEST_F(DeviceCallsTest, HandlesAreDistinctAndDeadOnceClosed) {
    std::set<Handle> handles;
    for (int i = 0; i < 500; ++i) {
        const Handle handle = Open(i % 2 == 0 ? 1 : 3);
        EXPECT_NE(handle, 0u);
        EXPECT_NE(handle, 0x7FFFFFFFu);
        handles.insert(handle);
    }
    handles.insert(OpenSerial(1));
    EXPECT_EQ(handles.size(), 501u);
    EXPECT_EQ(devsim_open_device_handles(-1), 500);
    EXPECT_EQ(devsim_open_device_handles(3), 250);

    Handle handle = *handles.begin();
    const Handle saved = handle;
    ASSERT_EQ(DRV_DeviceClose(&handle), 0);
    EXPECT_EQ(handle, 0u);
    EXPECT_EQ(devsim_open_device_handles(-1), 499);
    handle = saved;
    EXPECT_EQ(DRV_DeviceClose(&handle), DEVSIM_E_INVALID_HANDLE);
    EXPECT_EQ(handle, saved);
    float voltage = 0;
    vendor::AIVoltageInBlock block{0, 0, 0, 0, &voltage};
    EXPECT_EQ(DRV_AIVoltageIn(saved, &block), DEVSIM_E_INVALID_HANDLE);
    EXPECT_EQ(DRV_AIVoltageIn(*handles.rbegin(), &block), DEVSIM_E_INVALID_HANDLE);  // a serial handle

    Handle untouched = 0x7FFFFFFF;
    EXPECT_EQ(DRV_DeviceOpen(2, &untouched), DEVSIM_E_DEVICE_NOT_FOUND);
    EXPECT_EQ(untouched, 0x7FFFFFFFu);
    EXPECT_EQ(DRV_DeviceOpen(1, nullptr), DEVSIM_E_INVALID_ARGUMENT);
    EXPECT_EQ(DRV_DeviceClose(nullptr), DEVSIM_E_INVALID_ARGUMENT);
}

TEST_F(DeviceCallsTest, FeaturesBlockHoldsTheDigitalCountsWithinItsSize) {
    const Handle handle = Open(3);
    std::uint8_t buffer[600];
    std::memset(buffer, 0xEE, sizeof buffer);
    vendor::FeaturesRequest request{buffer, vendor::kFeaturesSize};
    ASSERT_EQ(DRV_DeviceGetFeatures(handle, &request), 0);
    EXPECT_EQ(buffer[34] | buffer[35] << 8, 8);   // outputs
    EXPECT_EQ(buffer[36] | buffer[37] << 8, 16);  // inputs
    EXPECT_EQ(buffer[485], 0);
    EXPECT_EQ(buffer[486], 0xEE);

    std::memset(buffer, 0xEE, sizeof buffer);
    request.size = vendor::kFeaturesSize - 1;
    EXPECT_EQ(DRV_DeviceGetFeatures(handle, &request), DEVSIM_E_BUFFER_TOO_SMALL);
    EXPECT_EQ(buffer[0], 0xEE);
    request.buffer = nullptr;
    request.size = vendor::kFeaturesSize;
    EXPECT_EQ(DRV_DeviceGetFeatures(handle, &request), DEVSIM_E_INVALID_ARGUMENT);
    EXPECT_EQ(DRV_DeviceGetFeatures(handle, nullptr), DEVSIM_E_INVALID_ARGUMENT);
}

TEST_F(DeviceCallsTest, BadArgumentsAnswerAStatus) {
    const Handle ai = Open(1);
    const Handle dio = Open(3);
    float real = 0;
    std::uint16_t word = 0;
    std::uint32_t count = 0;

    EXPECT_EQ(DRV_AIVoltageIn(ai, nullptr), DEVSIM_E_INVALID_ARGUMENT);
    vendor::AIVoltageInBlock ai_block{0, 0, 0, 0, nullptr};
    EXPECT_EQ(DRV_AIVoltageIn(ai, &ai_block), DEVSIM_E_INVALID_ARGUMENT);
    ai_block.voltage = &real;
    ai_block.channel = 1;
    EXPECT_EQ(DRV_AIVoltageIn(ai, &ai_block), DEVSIM_E_CHANNEL);
    ai_block.channel = 0;
    ai_block.gain = 0xFFFF;
    EXPECT_EQ(DRV_AIVoltageIn(ai, &ai_block), DEVSIM_E_GAIN);

    vendor::DioReadPortByteBlock read{2, 0, &word};  // two input ports only
    EXPECT_EQ(DRV_DioReadPortByte(dio, &read), DEVSIM_E_PORT);
    read.value = nullptr;
    read.port = 0;
    EXPECT_EQ(DRV_DioReadPortByte(dio, &read), DEVSIM_E_INVALID_ARGUMENT);
    vendor::DioWritePortByteBlock write{3, 0xFF, 0};
    EXPECT_EQ(DRV_DioWritePortByte(dio, &write), DEVSIM_E_PORT);
    vendor::DioWriteBitBlock bit{0, 8, 1};
    EXPECT_EQ(DRV_DioWriteBit(dio, &bit), DEVSIM_E_BIT);
    EXPECT_EQ(DRV_DioWriteBit(dio, nullptr), DEVSIM_E_INVALID_ARGUMENT);

    vendor::CounterEventReadBlock counter{0, 0, nullptr, &count};
    EXPECT_EQ(DRV_CounterEventRead(dio, &counter), DEVSIM_E_INVALID_ARGUMENT);
    counter.overflow = &word;
    counter.counter = 5;
    EXPECT_EQ(DRV_CounterEventRead(dio, &counter), DEVSIM_E_COUNTER);
    EXPECT_EQ(DRV_CounterReset(dio, -1), DEVSIM_E_COUNTER);
    vendor::CounterFreqReadBlock frequency{1, 0, &real};
    EXPECT_EQ(DRV_CounterFreqRead(dio, &frequency), DEVSIM_E_COUNTER);
    vendor::AlarmCheckBlock check{0, 0, &word, nullptr};
    EXPECT_EQ(DRV_AlarmCheck(dio, &check), DEVSIM_E_INVALID_ARGUMENT);
    EXPECT_EQ(DRV_AlarmReset(dio, 4), DEVSIM_E_ALARM);
    vendor::AOVoltageOutBlock ao{7, 0, 1.0f};
    EXPECT_EQ(DRV_AOVoltageOut(dio, &ao), DEVSIM_E_CHANNEL);
}

TEST_F(DeviceCallsTest, PortReadStoresIntoAPackedCacheEntry) {
#pragma pack(push, 1)
    struct CacheEntry {
        std::uint8_t data;
        std::uint16_t mask;
        std::uint32_t status;
    };
#pragma pack(pop)
    static_assert(sizeof(CacheEntry) == 7);
    CacheEntry cache[3];
    std::memset(cache, 0x77, sizeof cache);
    const Handle handle = Open(3);
    // Entry 1 starts at an odd address: the 16-bit result lands unaligned.
    vendor::DioReadPortByteBlock block{1, 0, reinterpret_cast<std::uint16_t*>(&cache[1].data)};
    ASSERT_EQ(DRV_DioReadPortByte(handle, &block), 0);
    EXPECT_EQ(cache[1].data, 0x34);
    const std::uint16_t mask = cache[1].mask;  // packed fields: read by value
    const std::uint32_t status_before = cache[0].status, status = cache[1].status;
    EXPECT_EQ(mask, 0x7712);  // the high byte lands in the low byte of mask
    EXPECT_EQ(status_before, 0x77777777u);
    EXPECT_EQ(status, 0x77777777u);
}

TEST_F(DeviceCallsTest, OutputsRememberWhatWasWritten) {
    const Handle handle = Open(3);
    devsim_analog_output_state ao{};
    vendor::AOVoltageOutBlock ao_block{1, 0, -2.75f};
    ASSERT_EQ(DRV_AOVoltageOut(handle, &ao_block), 0);
    ao_block.voltage = 10.5f;
    EXPECT_EQ(DRV_AOVoltageOut(handle, &ao_block), DEVSIM_E_VALUE);
    ao_block.voltage = NAN;
    EXPECT_EQ(DRV_AOVoltageOut(handle, &ao_block), DEVSIM_E_VALUE);
    ASSERT_EQ(devsim_analog_output(3, 1, &ao), 0);
    EXPECT_EQ(ao.voltage, -2.75f);
    EXPECT_EQ(ao.writes, 1u);

    // Port 0 lies within the output count; port 2 was declared with 0x81.
    devsim_port_state port{};
    vendor::DioWritePortByteBlock write{0, 0x24, 0x24};
    ASSERT_EQ(DRV_DioWritePortByte(handle, &write), 0);
    write = {0, 0x0F, 0xFFF3};
    ASSERT_EQ(DRV_DioWritePortByte(handle, &write), 0);
    ASSERT_EQ(devsim_port_output(3, 0, &port), 0);
    EXPECT_EQ(port.value, 0x23);
    EXPECT_EQ(port.writes, 2u);
    EXPECT_EQ(port.last_mask, 0x0F);
    EXPECT_EQ(port.last_state, 0xFFF3);
    write = {2, 0xFFFF, 300};
    ASSERT_EQ(DRV_DioWritePortByte(handle, &write), 0);
    vendor::DioWriteBitBlock bit{2, 7, 1};
    ASSERT_EQ(DRV_DioWriteBit(handle, &bit), 0);
    bit = {2, 2, 0};
    ASSERT_EQ(DRV_DioWriteBit(handle, &bit), 0);
    ASSERT_EQ(devsim_port_output(3, 2, &port), 0);
    EXPECT_EQ(port.value, 0xA8);  // 300 = 0x12C: lines 0x2C, then bit 7 set, bit 2 cleared
    EXPECT_EQ(devsim_port_output(3, 5, &port), -1);

    // Counters: start, reset, 32-bit overflow.
    devsim_counter_state counter{};
    vendor::CounterEventStartBlock start{0, 2};
    ASSERT_EQ(DRV_CounterEventStart(handle, &start), 0);
    devsim_advance_clock(3'000'000);
    std::uint16_t overflow = 7;
    std::uint32_t count = 0;
    vendor::CounterEventReadBlock read{0, 0, &overflow, &count};
    ASSERT_EQ(DRV_CounterEventRead(handle, &read), 0);
    EXPECT_EQ(count, 130u);
    EXPECT_EQ(overflow, 0);
    ASSERT_EQ(DRV_CounterReset(handle, 0), 0);
    devsim_advance_clock(1'000'000);
    ASSERT_EQ(DRV_CounterEventRead(handle, &read), 0);
    EXPECT_EQ(count, 10u);
    ASSERT_EQ(devsim_counter_state_of(3, 0, &counter), 0);
    EXPECT_EQ(counter.started, 0);
    EXPECT_EQ(counter.gate_mode, 2);
    EXPECT_EQ(counter.starts, 1u);
    EXPECT_EQ(counter.resets, 1u);
    read.counter = 1;
    ASSERT_EQ(DRV_CounterEventRead(handle, &read), 0);
    EXPECT_EQ(count, 4u);
    EXPECT_EQ(overflow, 1);
    float frequency = 0;
    vendor::CounterFreqReadBlock freq{0, 0, &frequency};
    ASSERT_EQ(DRV_CounterFreqRead(handle, &freq), 0);
    EXPECT_EQ(frequency, 50.5f);
}

TEST_F(DeviceCallsTest, AlarmsCompareLatchAndReset) {
    const Handle handle = Open(3);
    std::uint16_t low = 9, high = 9;
    vendor::AlarmCheckBlock check{0, 0, &low, &high};
    auto states = [&] {
        EXPECT_EQ(DRV_AlarmCheck(handle, &check), 0);
        return std::to_string(low) + std::to_string(high);  // "LH"
    };
    EXPECT_EQ(states(), "00");  // not enabled

    vendor::AlarmConfigBlock config{0, 0, 5.0f, 8.0f};
    ASSERT_EQ(DRV_AlarmConfig(handle, &config), 0);
    vendor::AlarmEnableBlock enable{0, 1, 1};
    ASSERT_EQ(DRV_AlarmEnable(handle, &enable), 0);
    EXPECT_EQ(states(), "10");  // 3 < 5
    devsim_set_input_value(3, "alarm", 0, 9);
    EXPECT_EQ(states(), "11");  // low stays latched
    ASSERT_EQ(DRV_AlarmReset(handle, 0), 0);
    EXPECT_EQ(states(), "01");

    enable = {0, 0, 1};  // without latch the states follow the value
    ASSERT_EQ(DRV_AlarmEnable(handle, &enable), 0);
    devsim_set_input_value(3, "alarm", 0, 6);
    EXPECT_EQ(states(), "00");

    config.high_limit = INFINITY;
    EXPECT_EQ(DRV_AlarmConfig(handle, &config), DEVSIM_E_VALUE);
    devsim_alarm_state state{};
    ASSERT_EQ(devsim_alarm_state_of(3, 0, &state), 0);
    EXPECT_EQ(state.high_limit, 8.0f);
    EXPECT_EQ(state.configs, 1u);
    EXPECT_EQ(state.enables, 2u);
    EXPECT_EQ(state.resets, 1u);
    EXPECT_EQ(state.latch, 0);
}

TEST_F(DeviceCallsTest, ErrorTextsFitTheDocumentedBound) {
    char text[300];
    ASSERT_EQ(DRV_GetErrorMessage(DEVSIM_E_PORT, text), 0);
    EXPECT_STREQ(text, "Digital port out of range");
    ASSERT_EQ(DRV_GetErrorMessage(-2147483647 - 1, text), 0);
    EXPECT_STREQ(text, "Unknown error code -2147483648");
    EXPECT_EQ(DRV_GetErrorMessage(1, nullptr), DEVSIM_E_INVALID_ARGUMENT);

    const std::string long_text(400, 'x');
    ASSERT_GT(devsim_inject_fault("DRV_DeviceOpen", 4242, long_text.c_str(), -1, nullptr, -1, DEVSIM_ALWAYS, 0), 0);
    std::memset(text, 0x55, sizeof text);
    ASSERT_EQ(DRV_GetErrorMessage(4242, text), 0);
    EXPECT_EQ(std::strlen(text), static_cast<std::size_t>(DEVSIM_MAX_ERROR_TEXT));
    EXPECT_EQ(static_cast<unsigned char>(text[vendor::kErrorMessageSize]), 0x55);
}

TEST(DeviceSimExports, EveryFunctionResolvesByItsName) {
    using tovi::platform::OpenLibrary;
    char error[256] = "";
    auto* device = OpenLibrary(vendor::kDeviceLibraryName, 255, error);
    auto* serial = OpenLibrary(vendor::kSerialLibraryName, 255, error);
    ASSERT_NE(device, nullptr) << error;
    ASSERT_NE(serial, nullptr) << error;
    for (const char* name :
         {"DRV_DeviceGetNumOfList", "DRV_DeviceGetList", "DRV_DeviceGetSubList", "DRV_DeviceOpen", "DRV_DeviceClose",
          "DRV_DeviceGetFeatures", "DRV_GetErrorMessage", "DRV_AIVoltageIn", "DRV_AOVoltageOut",
          "DRV_DioReadPortByte", "DRV_DioWritePortByte", "DRV_DioWriteBit", "DRV_CounterEventRead",
          "DRV_CounterEventStart", "DRV_CounterReset", "DRV_CounterFreqRead", "DRV_AlarmConfig", "DRV_AlarmEnable",
          "DRV_AlarmReset", "DRV_AlarmCheck"})
        EXPECT_NE(tovi::platform::LibrarySymbol(device, name), nullptr) << name;
    for (const char* name : {"COMGetConfig", "COMOpen", "COMSetConfig", "COMWrite", "COMRead", "COMClose"})
        EXPECT_NE(tovi::platform::LibrarySymbol(serial, name), nullptr) << name;
    // The loaded library is the one the test links: it shares the simulation.
    auto count = reinterpret_cast<vendor::DeviceGetNumOfListFn>(
        tovi::platform::LibrarySymbol(device, "DRV_DeviceGetNumOfList"));
    ASSERT_EQ(devsim::LoadText("device 5 \"only\"\n"), "");
    std::int16_t devices = 0;
    EXPECT_EQ(count(&devices), 0);
    EXPECT_EQ(devices, 1);
    devsim_unload();
    tovi::platform::CloseLibrary(serial);
    tovi::platform::CloseLibrary(device);
}

}  // namespace
