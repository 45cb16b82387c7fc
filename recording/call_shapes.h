// One vendor call as the recording sees it: its input fields, built from the
// arguments, and the places its results go. The recorder fills the outputs from
// those places after forwarding the call; the replay writes recorded outputs into
// them. One builder per function the driver uses.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "device/vendor_api.h"
#include "recording/recording_format.h"

namespace recording {

// Which device each open device handle belongs to and which serial port each
// serial handle has, learnt from the open calls.
class HandleBook {
public:
    void Note(const Call& call);
    std::int64_t DeviceOf(vendor::Handle handle) const;
    std::int64_t PortOf(vendor::Handle handle) const;
    void Clear();

private:
    std::map<vendor::Handle, std::int64_t> devices_, ports_;
};

class Shape {
public:
    enum class Holder { None, Device, Serial };
    enum class Slot { I16, U16, U32, F32, Hex, Text, ReadData, Entries };

    Call call;  // function and inputs; outputs filled by Capture

    // Adds dev= (device handles) or port= (serial handles) after the handle.
    void Resolve(const HandleBook& book);
    // The outputs as they are now in the caller's places.
    void Capture(std::int32_t status);
    // Writes the recorded outputs into the caller's places; false when one does
    // not fit its place (named in why).
    bool Apply(const Call& recorded, std::string& why) const;

    // For the builders.
    Shape& In(const char* key, std::int64_t value);
    Shape& InReal(const char* key, float value);
    Shape& InHex(const char* key, const void* bytes, std::size_t size);
    Shape& InText(const char* key, const char* bytes, std::size_t size);
    Shape& Out(const char* key, Slot slot, void* target, std::size_t size = 0, const void* count = nullptr);
    // The largest value the last integer output may take: a count of what the call
    // gave room for.
    Shape& AtMost(std::int64_t limit);
    Shape& Handle(vendor::Handle handle, Holder holder);

private:
    struct Output {
        const char* key;
        Slot slot;
        void* target;
        std::size_t size;
        const void* count;  // ReadData: the received count; Entries: the returned count
        std::int64_t limit;  // integer slots: the largest value; -1 any
    };
    std::vector<Output> outputs_;
    vendor::Handle handle_ = 0;
    Holder holder_ = Holder::None;
};

// Function plus the fields that name what a call concerns (device, port, channel,
// counter, error code, list position): calls with the same key are answered in
// their recorded order.
std::string CallKey(const Call& call);
// The same into key, reusing its room.
void CallKeyInto(const Call& call, std::string& key);

// Texts of real numbers that read back as the same float.
std::string RealText(float value);

namespace shapes {
Shape DeviceGetNumOfList(std::int16_t* count);
Shape DeviceGetList(vendor::DeviceListEntry* list, std::int16_t max_entries, std::int16_t* returned);
Shape DeviceGetSubList(std::uint32_t device_number, vendor::DeviceListEntry* list, std::int16_t max_entries,
                       std::int16_t* returned);
Shape DeviceOpen(std::uint32_t device_number, vendor::Handle* handle);
Shape DeviceClose(vendor::Handle* handle);
Shape DeviceGetFeatures(vendor::Handle handle, vendor::FeaturesRequest* request);
Shape GetErrorMessage(vendor::Status code, char* text);
Shape AIVoltageIn(vendor::Handle handle, vendor::AIVoltageInBlock* block);
Shape AOVoltageOut(vendor::Handle handle, vendor::AOVoltageOutBlock* block);
Shape DioReadPortByte(vendor::Handle handle, vendor::DioReadPortByteBlock* block);
Shape DioWritePortByte(vendor::Handle handle, vendor::DioWritePortByteBlock* block);
Shape DioWriteBit(vendor::Handle handle, vendor::DioWriteBitBlock* block);
Shape CounterEventRead(vendor::Handle handle, vendor::CounterEventReadBlock* block);
Shape CounterEventStart(vendor::Handle handle, vendor::CounterEventStartBlock* block);
Shape CounterReset(vendor::Handle handle, std::int32_t counter);
Shape CounterFreqRead(vendor::Handle handle, vendor::CounterFreqReadBlock* block);
Shape AlarmConfig(vendor::Handle handle, vendor::AlarmConfigBlock* block);
Shape AlarmEnable(vendor::Handle handle, vendor::AlarmEnableBlock* block);
Shape AlarmReset(vendor::Handle handle, std::int32_t channel);
Shape AlarmCheck(vendor::Handle handle, vendor::AlarmCheckBlock* block);
Shape COMGetConfig(std::int32_t device_index, vendor::SerialConfig* config);
Shape COMOpen(std::uint32_t port, vendor::Handle* handle);
Shape COMSetConfig(vendor::Handle handle, vendor::SerialConfig* config);
Shape COMWrite(vendor::Handle handle, const char* data, std::uint32_t length);
Shape COMRead(vendor::Handle handle, char* buffer, std::uint32_t size, std::uint32_t timeout, std::uint32_t terminator,
              std::uint32_t* received);
Shape COMClose(vendor::Handle* handle);
}  // namespace shapes

}  // namespace recording
