// Every function crossing a library boundary keeps the 32-bit host's calling
// convention (stdcall: the callee removes its arguments). Each one is called many
// times in a row through a pointer type written out here with __stdcall, as the
// host and the vendor declare them, and the stack pointer must be where it was:
// a function that removes no arguments, or removes them twice, moves it by its
// argument bytes per call. The pointer types of the project's headers are held to
// the same declarations at compile time.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <type_traits>

#include "device/vendor_api.h"
#include "driver/tovi.h"
#include "host/driver_api.h"
#include "host/exchange.h"
#include "host_api_standin/host_api_observer.h"
#include "tests/support/temp_files.h"

namespace {

using u8 = std::uint8_t;
using u16 = std::uint16_t;
using i16 = std::int16_t;
using u32 = std::uint32_t;
using i32 = std::int32_t;

// As the host declares the driver's exports and its completion callback.
using Completion = void(__stdcall*)(void*, i32, i32);
using NoArguments = void(__stdcall*)();
using MakeDriverFn = void*(__stdcall*)();
using InitFn = u8(__stdcall*)(void*, u32, const char*, u32, char*, u32, u8, void*, Completion);
using DriverOnlyFn = void(__stdcall*)(void*);
using VersionFn = i32(__stdcall*)();
using InputRequestFn = void(__stdcall*)(void*, i32);
using FinalizedFn = u8(__stdcall*)(void*, i32, i32*);
using GetInputFn = void(__stdcall*)(void*, i32, void*);
using OutputRequestFn = void(__stdcall*)(void*, i32, u32, u32, u32);
using GetDriverInfoFn = u32(__stdcall*)(u32, char*);
using GetDriverNameFn = u32(__stdcall*)(void*, u32, char*);
using ByteResultFn = u8(__stdcall*)();
using DriverProcFn = void(__stdcall*)(void*, u32, i32, i32, i32, i32);
using GetItemNumberFn = u32(__stdcall*)();
using GetDialogBoxItemFn = void*(__stdcall*)(void*, u32);
using DataModifiedFn = u8(__stdcall*)(void*);

static_assert(std::is_same_v<host::CompletionCallback, Completion>);
static_assert(std::is_same_v<tovi::exports::InitFn, u8(__stdcall*)(DriverInstance*, u32, const char*, u32, char*,
                                                                     u32, u8, void*, Completion)>);
static_assert(std::is_same_v<tovi::exports::MakeDriverFn, DriverInstance*(__stdcall*)()>);
static_assert(std::is_same_v<tovi::exports::DoneFn, void(__stdcall*)(DriverInstance*)>);
static_assert(std::is_same_v<tovi::exports::VersionFn, VersionFn>);
static_assert(std::is_same_v<tovi::exports::InputRequestFn, void(__stdcall*)(DriverInstance*, i32)>);
static_assert(std::is_same_v<tovi::exports::FinalizedFn, u8(__stdcall*)(DriverInstance*, i32, i32*)>);
static_assert(std::is_same_v<tovi::exports::GetInputFn, void(__stdcall*)(DriverInstance*, i32, host::ValueRecord*)>);
static_assert(std::is_same_v<tovi::exports::OutputRequestFn, void(__stdcall*)(DriverInstance*, i32, u32, u32, u32)>);
static_assert(std::is_same_v<tovi::exports::DriverProcFn, void(__stdcall*)(DriverInstance*, u32, i32, i32, i32, i32)>);
static_assert(std::is_same_v<tovi::exports::UnitInitFn, NoArguments>);
// The callbacks record, as the host window calls it.
static_assert(std::is_same_v<host::FileOpenFn, ByteResultFn>);
static_assert(std::is_same_v<host::FileSaveFn, NoArguments> && std::is_same_v<host::NoArgumentFn, NoArguments>);
static_assert(std::is_same_v<host::GetItemNumberFn, GetItemNumberFn>);
static_assert(std::is_same_v<host::GetDialogBoxItemFn, void*(__stdcall*)(DriverInstance*, u32)>);
static_assert(std::is_same_v<host::DataModifiedFn, u8(__stdcall*)(DriverInstance*)>);
static_assert(std::is_same_v<host::GetDriverNameFn, u32(__stdcall*)(DriverInstance*, u32, char*)>);
// The host's library, as the driver imports it.
static_assert(std::is_same_v<decltype(&CreateDriverWindow), u32(__stdcall*)(const host::DriverCallbacks*)>);
static_assert(std::is_same_v<decltype(&DriverWindowNewRect), void(__stdcall*)(u32, i32, i32, i32, i32)>);
static_assert(std::is_same_v<decltype(&qs_dapi::AddLogMessage), void(__stdcall*)(u32, u8, u32, const char*)>);
static_assert(std::is_same_v<decltype(&qs_dapi::MakePath),
                             void(__stdcall*)(void*, u32, char*, u32, const char*, u32, const char*)>);
static_assert(std::is_same_v<decltype(&qs_dapi::FindNewPath), u8(__stdcall*)(void*, u32, const char*, u32, char*)>);
static_assert(std::is_same_v<decltype(&qs_dapi::RedCreate), i32(__stdcall*)(void*, u32, const char*, i32)>);
static_assert(std::is_same_v<decltype(&qs_dapi::Init_), NoArguments>);
// The vendor's libraries, as the driver resolves them.
static_assert(std::is_same_v<vendor::DeviceGetNumOfListFn, i32(__stdcall*)(i16*)>);
static_assert(std::is_same_v<vendor::DeviceGetListFn, i32(__stdcall*)(vendor::DeviceListEntry*, i16, i16*)>);
static_assert(std::is_same_v<vendor::DeviceOpenFn, i32(__stdcall*)(u32, u32*)>);
static_assert(std::is_same_v<vendor::GetErrorMessageFn, i32(__stdcall*)(i32, char*)>);
static_assert(std::is_same_v<vendor::AIVoltageInFn, i32(__stdcall*)(u32, vendor::AIVoltageInBlock*)>);
static_assert(std::is_same_v<vendor::CounterResetFn, i32(__stdcall*)(u32, i32)>);
static_assert(std::is_same_v<vendor::COMOpenFn, i32(__stdcall*)(u32, u32*, u32*)>);
static_assert(std::is_same_v<vendor::COMReadFn, i32(__stdcall*)(u32, char*, u32, u32, u32, u32*)>);
static_assert(std::is_same_v<vendor::COMWriteFn, i32(__stdcall*)(u32, const char*, u32)>);

constexpr int kCalls = 1000;

std::uintptr_t StackPointer() __attribute__((always_inline));
inline std::uintptr_t StackPointer() {
    std::uintptr_t sp;
    asm volatile("movl %%esp, %0" : "=r"(sp) : : "memory");
    return sp;
}

// Calls CALL kCalls times in this function's own frame and expects the stack
// pointer unchanged by them (this file keeps a frame pointer, so that a wrong
// convention fails the test instead of losing the frame).
#define EXPECT_STACK_KEPT(call)                                                            \
    do {                                                                                   \
        const std::uintptr_t before = StackPointer();                                      \
        for (int i = 0; i < kCalls; ++i) {                                                 \
            call;                                                                          \
        }                                                                                  \
        const std::uintptr_t after = StackPointer();                                       \
        EXPECT_EQ(static_cast<std::intptr_t>(after - before), 0) << "after " << kCalls << " calls of " #call; \
    } while (0)

// A library of the build, and its functions by name.
class Library {
public:
    explicit Library(const char* path) : path_(path), module_(LoadLibraryA(path)) {}
    ~Library() {
        if (module_ != nullptr) FreeLibrary(module_);
    }
    bool loaded() const { return module_ != nullptr; }
    template <class Fn>
    Fn Get(const char* name) const {
        FARPROC address = module_ == nullptr ? nullptr : GetProcAddress(module_, name);
        EXPECT_NE(address, nullptr) << path_ << " has no " << name;
        return reinterpret_cast<Fn>(reinterpret_cast<void*>(address));
    }

private:
    std::string path_;
    HMODULE module_;
};

struct Completions {
    std::mutex mutex;
    int count = 0;
};

void __stdcall OnCompletion(void* context, i32, i32) {
    auto* completions = static_cast<Completions*>(context);
    std::lock_guard<std::mutex> lock(completions->mutex);
    ++completions->count;
}

TEST(CallingConvention, EveryDriverExportRemovesItsOwnArguments) {
    Library tovi(TOVI_DRIVER_LIBRARY);
    ASSERT_TRUE(tovi.loaded()) << TOVI_DRIVER_LIBRARY;
    tovitest::TempDirectory files;
    const std::string plant = files.Write("plant.ini", "[tovi]\r\n[modules]\r\n");

    const auto make = tovi.Get<MakeDriverFn>("MakeDriver");
    const auto init = tovi.Get<InitFn>("Init");
    const auto done = tovi.Get<DriverOnlyFn>("Done");
    const auto dispose = tovi.Get<DriverOnlyFn>("DisposeDriver");
    ASSERT_TRUE(make && init && done && dispose);
    EXPECT_STACK_KEPT(dispose(make()));

    void* driver = make();
    Completions completions;
    char message[256] = {};
    ASSERT_EQ(init(driver, static_cast<u32>(plant.size()), plant.c_str(), 255, message, 7, 1, &completions,
                   &OnCompletion),
              1)
        << message;

    const auto version = tovi.Get<VersionFn>("Version");
    const auto info = tovi.Get<GetDriverInfoFn>("GetDriverInfo");
    const auto name = tovi.Get<GetDriverNameFn>("GetDriverName");
    const auto buffer_info = tovi.Get<ByteResultFn>("BufferInfo");
    const auto file_open = tovi.Get<ByteResultFn>("FileOpen");
    const auto item_number = tovi.Get<GetItemNumberFn>("GetItemNumber");
    const auto dialog_item = tovi.Get<GetDialogBoxItemFn>("GetDialogBoxItem");
    const auto modified = tovi.Get<DataModifiedFn>("DataModified");
    const auto driver_proc = tovi.Get<DriverProcFn>("DriverProc");
    ASSERT_TRUE(version && info && name && buffer_info && file_open && item_number && dialog_item && modified &&
                driver_proc);
    char text[256];
    EXPECT_STACK_KEPT(version());
    EXPECT_STACK_KEPT(info(sizeof text, text));
    EXPECT_STACK_KEPT(name(driver, sizeof text, text));
    EXPECT_STACK_KEPT(buffer_info());
    EXPECT_STACK_KEPT(file_open());
    EXPECT_STACK_KEPT(item_number());
    EXPECT_STACK_KEPT(dialog_item(driver, 2));
    EXPECT_STACK_KEPT(modified(driver));
    // Every window code, and one the driver ignores.
    for (u32 code = 0; code <= 7; ++code) EXPECT_STACK_KEPT(driver_proc(driver, code, 1, 2, 3, 4));
    for (const char* plain : {"SetBufferAddr", "QueryProc", "FileSave", "FileSaveAs", "DialogDataChanged", "SetPage",
                              "UserProc", "tovi::Init_", "tovi_::Init_"}) {
        const auto function = tovi.Get<NoArguments>(plain);
        ASSERT_NE(function, nullptr);
        SCOPED_TRACE(plain);
        EXPECT_STACK_KEPT(function());
    }

    // Requests for a channel the plant does not have, and batches left empty.
    const auto input_request = tovi.Get<InputRequestFn>("InputRequest");
    const auto input_completed = tovi.Get<DriverOnlyFn>("InputRequestCompleted");
    const auto input_finalized = tovi.Get<FinalizedFn>("InputFinalized");
    const auto get_input = tovi.Get<GetInputFn>("GetInput");
    const auto output_request = tovi.Get<OutputRequestFn>("OutputRequest");
    const auto output_completed = tovi.Get<DriverOnlyFn>("OutputRequestCompleted");
    const auto output_finalized = tovi.Get<FinalizedFn>("OutputFinalized");
    ASSERT_TRUE(input_request && input_completed && input_finalized && get_input && output_request &&
                output_completed && output_finalized);
    i32 status = 0;
    host::ValueRecord value{};
    EXPECT_STACK_KEPT(input_request(driver, 999));
    EXPECT_STACK_KEPT(input_completed(driver));
    EXPECT_STACK_KEPT(input_finalized(driver, 999, &status));
    EXPECT_STACK_KEPT(get_input(driver, 999, &value));
    EXPECT_STACK_KEPT(output_request(driver, 999, 1, 0, 0));
    EXPECT_STACK_KEPT(output_completed(driver));
    EXPECT_STACK_KEPT(output_finalized(driver, 999, &status));

    EXPECT_STACK_KEPT(done(driver));
    dispose(driver);
    hostapi::Reset();
}

TEST(CallingConvention, EveryHostFunctionRemovesItsOwnArguments) {
    // The host's completion callback, stored untyped and called through the type
    // the driver declares, as the driver calls it.
    Completions completions;
    void* stored = reinterpret_cast<void*>(&OnCompletion);
    const auto callback = reinterpret_cast<host::CompletionCallback>(stored);
    EXPECT_STACK_KEPT(callback(&completions, 0, 0));
    EXPECT_EQ(completions.count, kCalls);

    char path[260];
    EXPECT_STACK_KEPT(CreateDriverWindow(nullptr));
    EXPECT_STACK_KEPT(DestroyDriverWindow(0));
    EXPECT_STACK_KEPT(HideDriverWindow(0));
    EXPECT_STACK_KEPT(ShowDriverWindow(0));
    EXPECT_STACK_KEPT(MinimizeDriverWindow(0));
    EXPECT_STACK_KEPT(RestoreDriverWindow(0));
    EXPECT_STACK_KEPT(SelectDriverWindow(0));
    EXPECT_STACK_KEPT(DriverWindowNewRect(0, 1, 2, 3, 4));
    EXPECT_STACK_KEPT(SetUserLoginLevel(0, 1));
    EXPECT_STACK_KEPT(MsgSetDialogDataItem(0, 2));
    EXPECT_STACK_KEPT(qs_dapi::AddLogMessage(1, 0, 4, "text"));
    EXPECT_STACK_KEPT(qs_dapi::MakePath(nullptr, sizeof path, path, 3, "dir", 4, "name"));
    EXPECT_STACK_KEPT(qs_dapi::Init_());
    hostapi::Reset();
}

TEST(CallingConvention, EveryVendorFunctionRemovesItsOwnArguments) {
    Library device(DEVICE_LIBRARY);
    Library serial(SERIAL_LIBRARY);
    ASSERT_TRUE(device.loaded() && serial.loaded());
    // No device is opened: every call with handle 0 answers an error, and the
    // listing calls answer an empty list.
    vendor::DeviceListEntry list[4];
    i16 count = 0;
    u32 handle = 0;
    char text[vendor::kErrorMessageSize];
    float number = 0;
    u16 word = 0;
    u32 counted = 0;
    u8 features[vendor::kFeaturesSize];
    vendor::FeaturesRequest request{features, vendor::kFeaturesSize};
    vendor::AIVoltageInBlock ai{0, 0, 0, 0, &number};
    vendor::AOVoltageOutBlock ao{0, 0, 1.0f};
    vendor::DioReadPortByteBlock read_port{0, 0, &word};
    vendor::DioWritePortByteBlock write_port{0, 0xFF, 1};
    vendor::DioWriteBitBlock write_bit{0, 1, 1};
    vendor::CounterEventReadBlock event_read{0, 0, &word, &counted};
    vendor::CounterEventStartBlock event_start{0, 0};
    vendor::CounterFreqReadBlock frequency{0, 0, &number};
    vendor::AlarmConfigBlock alarm_config{0, 0, 0.0f, 1.0f};
    vendor::AlarmEnableBlock alarm_enable{0, 0, 1};
    vendor::AlarmCheckBlock alarm_check{0, 0, &word, &word};
    vendor::SerialConfig config{};
    char reply[16];

#define DEVICE(name) device.Get<vendor::name##Fn>("DRV_" #name)
    const auto num_of_list = DEVICE(DeviceGetNumOfList);
    const auto get_list = DEVICE(DeviceGetList);
    const auto sub_list = DEVICE(DeviceGetSubList);
    const auto open = DEVICE(DeviceOpen);
    const auto close = DEVICE(DeviceClose);
    const auto get_features = DEVICE(DeviceGetFeatures);
    const auto error_message = DEVICE(GetErrorMessage);
    const auto ai_in = DEVICE(AIVoltageIn);
    const auto ao_out = DEVICE(AOVoltageOut);
    const auto dio_read = DEVICE(DioReadPortByte);
    const auto dio_write = DEVICE(DioWritePortByte);
    const auto dio_bit = DEVICE(DioWriteBit);
    const auto cnt_read = DEVICE(CounterEventRead);
    const auto cnt_start = DEVICE(CounterEventStart);
    const auto cnt_reset = DEVICE(CounterReset);
    const auto freq_read = DEVICE(CounterFreqRead);
    const auto alarm_cfg = DEVICE(AlarmConfig);
    const auto alarm_on = DEVICE(AlarmEnable);
    const auto alarm_reset = DEVICE(AlarmReset);
    const auto alarm_chk = DEVICE(AlarmCheck);
#undef DEVICE
    const auto com_config = serial.Get<vendor::COMGetConfigFn>("COMGetConfig");
    const auto com_open = serial.Get<vendor::COMOpenFn>("COMOpen");
    const auto com_set = serial.Get<vendor::COMSetConfigFn>("COMSetConfig");
    const auto com_write = serial.Get<vendor::COMWriteFn>("COMWrite");
    const auto com_read = serial.Get<vendor::COMReadFn>("COMRead");
    const auto com_close = serial.Get<vendor::COMCloseFn>("COMClose");
    ASSERT_FALSE(HasFailure());

    EXPECT_STACK_KEPT(num_of_list(&count));
    EXPECT_STACK_KEPT(get_list(list, 4, &count));
    EXPECT_STACK_KEPT(sub_list(1, list, 4, &count));
    EXPECT_STACK_KEPT(open(99, &handle));
    EXPECT_STACK_KEPT((handle = 0, close(&handle)));
    EXPECT_STACK_KEPT(get_features(0, &request));
    EXPECT_STACK_KEPT(error_message(1, text));
    EXPECT_STACK_KEPT(ai_in(0, &ai));
    EXPECT_STACK_KEPT(ao_out(0, &ao));
    EXPECT_STACK_KEPT(dio_read(0, &read_port));
    EXPECT_STACK_KEPT(dio_write(0, &write_port));
    EXPECT_STACK_KEPT(dio_bit(0, &write_bit));
    EXPECT_STACK_KEPT(cnt_read(0, &event_read));
    EXPECT_STACK_KEPT(cnt_start(0, &event_start));
    EXPECT_STACK_KEPT(cnt_reset(0, 0));
    EXPECT_STACK_KEPT(freq_read(0, &frequency));
    EXPECT_STACK_KEPT(alarm_cfg(0, &alarm_config));
    EXPECT_STACK_KEPT(alarm_on(0, &alarm_enable));
    EXPECT_STACK_KEPT(alarm_reset(0, 0));
    EXPECT_STACK_KEPT(alarm_chk(0, &alarm_check));
    EXPECT_STACK_KEPT(com_config(99, &config));
    EXPECT_STACK_KEPT(com_open(99, &counted, &handle));
    EXPECT_STACK_KEPT(com_set(0, &config));
    EXPECT_STACK_KEPT(com_write(0, "x", 1));
    EXPECT_STACK_KEPT(com_read(0, reply, sizeof reply, 0, '\r', &counted));
    EXPECT_STACK_KEPT((handle = 0, com_close(&handle)));
}

}  // namespace
