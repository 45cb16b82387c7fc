// The recorder behind the recorder's ADSAPI32: the vendor libraries named in
// recorder.ini, loaded on the first call, and the recording every forwarded call
// is appended to (while record=on: a change of it in recorder.ini is followed
// while the process runs). Calls are forwarded unchanged and in the caller's order; the
// one lock guards the handle book and the file and is never held across a vendor
// call.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

#include "device/vendor_api.h"
#include "recorder/call_origin.h"
#include "recorder/carried_calls.h"
#include "recorder/recorder_settings.h"
#include "recorder/recording_writer.h"
#include "recording/call_shapes.h"

namespace recorder {

// The status every call answers when the vendor libraries could not be loaded;
// DRV_GetErrorMessage gives the reason for it.
inline constexpr vendor::Status kNotForwarded = 0x7E5E;

// Every vendor function the driver uses, resolved from the real libraries.
struct VendorTable {
#define TOVI_VENDOR_FUNCTIONS(X)                                                                                      \
    X(DeviceGetNumOfList) X(DeviceGetList) X(DeviceGetSubList) X(DeviceOpen) X(DeviceClose) X(DeviceGetFeatures)    \
    X(GetErrorMessage) X(AIVoltageIn) X(AOVoltageOut) X(DioReadPortByte) X(DioWritePortByte) X(DioWriteBit)         \
    X(CounterEventRead) X(CounterEventStart) X(CounterReset) X(CounterFreqRead) X(AlarmConfig) X(AlarmEnable)       \
    X(AlarmReset) X(AlarmCheck)
#define TOVI_SERIAL_FUNCTIONS(X) X(COMGetConfig) X(COMOpen) X(COMSetConfig) X(COMWrite) X(COMRead) X(COMClose)
#define TOVI_DECLARE_POINTER(name) vendor::name##Fn name = nullptr;
    TOVI_VENDOR_FUNCTIONS(TOVI_DECLARE_POINTER)
    TOVI_SERIAL_FUNCTIONS(TOVI_DECLARE_POINTER)
#undef TOVI_DECLARE_POINTER
};

class Recorder {
public:
    // Loaded on first use, from the directory of the library that holds this code.
    static Recorder& Instance();

    // Null when the vendor libraries are not usable; why() says what is wrong.
    const VendorTable* vendor() const { return ready_ ? &vendor_ : nullptr; }
    const std::string& why() const { return why_; }

    // Appends a finished call: shape holds its inputs and captured outputs.
    void Write(recording::Shape& shape, std::chrono::steady_clock::time_point started,
               std::chrono::steady_clock::time_point finished);

    // Appends a call a vendor library made from inside itself (call_origin.h) as a
    // note: a "#" line the replay skips.
    void WriteInnerCall(recording::Shape& shape);

    // Forwards one call through the table and records it. caller: the return
    // address of the exported function that forwards, taken where it is called.
    template <class Forward>
    vendor::Status Record(recording::Shape shape, Forward forward, const void* caller = __builtin_return_address(0)) {
        const VendorTable* table = vendor();
        const auto started = std::chrono::steady_clock::now();
        const vendor::Status status = table == nullptr ? kNotForwarded : forward(*table);
        const auto finished = std::chrono::steady_clock::now();
        shape.Capture(status);
        if (origins_.FromVendor(caller)) {
            WriteInnerCall(shape);
        } else {
            Write(shape, started, finished);
        }
        FollowSettings(finished);
        return status;
    }

private:
    Recorder();
    bool Load(const Settings& settings);
    // At most once a second: when recorder.ini changed, its record= starts or
    // stops the recording. Called after the call is recorded, outside the lock.
    void FollowSettings(std::chrono::steady_clock::time_point now);
    // The header and notes of a file; one that continues the run at time_us also
    // carries what a replay needs of the run so far.
    std::string OpeningLocked(bool continues, std::uint64_t time_us) const;

    VendorTable vendor_;
    CallOrigins origins_;  // set while loading, read-only after
    bool ready_ = false;
    std::string why_;
    std::chrono::steady_clock::time_point origin_;
    std::string directory_;
    recording::Header header_;
    std::string notes_;  // "#" lines below the header of every file
    std::atomic<std::chrono::steady_clock::rep> next_check_{0};
    std::mutex mutex_;
    // ---- guarded by mutex_ ----
    recording::HandleBook book_;
    CarriedCalls carried_;
    RecordingWriter writer_;
    std::string line_;
    SettingsStamp stamp_;
    bool record_ = false;
};

}  // namespace recorder
