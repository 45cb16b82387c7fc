// The recorder's ADSAPI32: every DRV_ function forwarded to the vendor's library
// and recorded; the recording COM functions for the recorder's ADSCOMM.
#include <algorithm>
#include <cstring>

#include "device_sim/exports.h"
#include "recorder/recorder.h"
#include "recorder/serial_table.h"

using recorder::Recorder;
using recorder::VendorTable;
namespace shapes = recording::shapes;

namespace {

Status TOVI_CALL RecordedGetConfig(std::int32_t device_index, vendor::SerialConfig* config) {
    return Recorder::Instance().Record(shapes::COMGetConfig(device_index, config), [&](const VendorTable& v) {
        return v.COMGetConfig(device_index, config);
    });
}

Status TOVI_CALL RecordedOpen(std::uint32_t port, std::uint32_t* unused, Handle* handle) {
    return Recorder::Instance().Record(shapes::COMOpen(port, handle),
                                       [&](const VendorTable& v) { return v.COMOpen(port, unused, handle); });
}

Status TOVI_CALL RecordedSetConfig(Handle handle, vendor::SerialConfig* config) {
    return Recorder::Instance().Record(shapes::COMSetConfig(handle, config),
                                       [&](const VendorTable& v) { return v.COMSetConfig(handle, config); });
}

Status TOVI_CALL RecordedWrite(Handle handle, const char* data, std::uint32_t length) {
    return Recorder::Instance().Record(shapes::COMWrite(handle, data, length),
                                       [&](const VendorTable& v) { return v.COMWrite(handle, data, length); });
}

Status TOVI_CALL RecordedRead(Handle handle, char* buffer, std::uint32_t size, std::uint32_t timeout,
                              std::uint32_t terminator, std::uint32_t* received) {
    return Recorder::Instance().Record(
        shapes::COMRead(handle, buffer, size, timeout, terminator, received),
        [&](const VendorTable& v) { return v.COMRead(handle, buffer, size, timeout, terminator, received); });
}

Status TOVI_CALL RecordedClose(Handle* handle) {
    return Recorder::Instance().Record(shapes::COMClose(handle), [&](const VendorTable& v) { return v.COMClose(handle); });
}

const recorder::SerialTable kSerialTable{RecordedGetConfig, RecordedOpen, RecordedSetConfig,
                                         RecordedWrite,     RecordedRead, RecordedClose};

}  // namespace

extern "C" {

TOVI_RECORDER_EXPORT int tovi_recorder_format() { return recording::kFormatVersion; }

TOVI_RECORDER_EXPORT const recorder::SerialTable* tovi_recorder_serial_table() { return &kSerialTable; }

Status TOVI_CALL DRV_DeviceGetNumOfList(std::int16_t* count) {
    return Recorder::Instance().Record(shapes::DeviceGetNumOfList(count),
                                       [&](const VendorTable& v) { return v.DeviceGetNumOfList(count); });
}

Status TOVI_CALL DRV_DeviceGetList(vendor::DeviceListEntry* list, std::int16_t max_entries, std::int16_t* returned) {
    return Recorder::Instance().Record(shapes::DeviceGetList(list, max_entries, returned),
                                       [&](const VendorTable& v) { return v.DeviceGetList(list, max_entries, returned); });
}

Status TOVI_CALL DRV_DeviceGetSubList(std::uint32_t device_number, vendor::DeviceListEntry* list,
                                      std::int16_t max_entries, std::int16_t* returned) {
    return Recorder::Instance().Record(
        shapes::DeviceGetSubList(device_number, list, max_entries, returned),
        [&](const VendorTable& v) { return v.DeviceGetSubList(device_number, list, max_entries, returned); });
}

Status TOVI_CALL DRV_DeviceOpen(std::uint32_t device_number, Handle* handle) {
    return Recorder::Instance().Record(shapes::DeviceOpen(device_number, handle),
                                       [&](const VendorTable& v) { return v.DeviceOpen(device_number, handle); });
}

Status TOVI_CALL DRV_DeviceClose(Handle* handle) {
    return Recorder::Instance().Record(shapes::DeviceClose(handle),
                                       [&](const VendorTable& v) { return v.DeviceClose(handle); });
}

Status TOVI_CALL DRV_DeviceGetFeatures(Handle handle, vendor::FeaturesRequest* request) {
    return Recorder::Instance().Record(shapes::DeviceGetFeatures(handle, request),
                                       [&](const VendorTable& v) { return v.DeviceGetFeatures(handle, request); });
}

Status TOVI_CALL DRV_GetErrorMessage(Status code, char* text) {
    Recorder& recorder = Recorder::Instance();
    if (recorder.vendor() == nullptr && text != nullptr) {
        // The driver shows this text with the status of every call: say why nothing works.
        const std::string reason = "recorder: " + recorder.why();
        const std::size_t length = std::min<std::size_t>(reason.size(), vendor::kErrorMessageSize - 1);
        std::memcpy(text, reason.data(), length);
        text[length] = '\0';
    }
    return recorder.Record(shapes::GetErrorMessage(code, text), [&](const VendorTable& v) { return v.GetErrorMessage(code, text); });
}

Status TOVI_CALL DRV_AIVoltageIn(Handle handle, vendor::AIVoltageInBlock* block) {
    return Recorder::Instance().Record(shapes::AIVoltageIn(handle, block),
                                       [&](const VendorTable& v) { return v.AIVoltageIn(handle, block); });
}

Status TOVI_CALL DRV_AOVoltageOut(Handle handle, vendor::AOVoltageOutBlock* block) {
    return Recorder::Instance().Record(shapes::AOVoltageOut(handle, block),
                                       [&](const VendorTable& v) { return v.AOVoltageOut(handle, block); });
}

Status TOVI_CALL DRV_DioReadPortByte(Handle handle, vendor::DioReadPortByteBlock* block) {
    return Recorder::Instance().Record(shapes::DioReadPortByte(handle, block),
                                       [&](const VendorTable& v) { return v.DioReadPortByte(handle, block); });
}

Status TOVI_CALL DRV_DioWritePortByte(Handle handle, vendor::DioWritePortByteBlock* block) {
    return Recorder::Instance().Record(shapes::DioWritePortByte(handle, block),
                                       [&](const VendorTable& v) { return v.DioWritePortByte(handle, block); });
}

Status TOVI_CALL DRV_DioWriteBit(Handle handle, vendor::DioWriteBitBlock* block) {
    return Recorder::Instance().Record(shapes::DioWriteBit(handle, block),
                                       [&](const VendorTable& v) { return v.DioWriteBit(handle, block); });
}

Status TOVI_CALL DRV_CounterEventRead(Handle handle, vendor::CounterEventReadBlock* block) {
    return Recorder::Instance().Record(shapes::CounterEventRead(handle, block),
                                       [&](const VendorTable& v) { return v.CounterEventRead(handle, block); });
}

Status TOVI_CALL DRV_CounterEventStart(Handle handle, vendor::CounterEventStartBlock* block) {
    return Recorder::Instance().Record(shapes::CounterEventStart(handle, block),
                                       [&](const VendorTable& v) { return v.CounterEventStart(handle, block); });
}

Status TOVI_CALL DRV_CounterReset(Handle handle, std::int32_t counter) {
    return Recorder::Instance().Record(shapes::CounterReset(handle, counter),
                                       [&](const VendorTable& v) { return v.CounterReset(handle, counter); });
}

Status TOVI_CALL DRV_CounterFreqRead(Handle handle, vendor::CounterFreqReadBlock* block) {
    return Recorder::Instance().Record(shapes::CounterFreqRead(handle, block),
                                       [&](const VendorTable& v) { return v.CounterFreqRead(handle, block); });
}

Status TOVI_CALL DRV_AlarmConfig(Handle handle, vendor::AlarmConfigBlock* block) {
    return Recorder::Instance().Record(shapes::AlarmConfig(handle, block),
                                       [&](const VendorTable& v) { return v.AlarmConfig(handle, block); });
}

Status TOVI_CALL DRV_AlarmEnable(Handle handle, vendor::AlarmEnableBlock* block) {
    return Recorder::Instance().Record(shapes::AlarmEnable(handle, block),
                                       [&](const VendorTable& v) { return v.AlarmEnable(handle, block); });
}

Status TOVI_CALL DRV_AlarmReset(Handle handle, std::int32_t channel) {
    return Recorder::Instance().Record(shapes::AlarmReset(handle, channel),
                                       [&](const VendorTable& v) { return v.AlarmReset(handle, channel); });
}

Status TOVI_CALL DRV_AlarmCheck(Handle handle, vendor::AlarmCheckBlock* block) {
    return Recorder::Instance().Record(shapes::AlarmCheck(handle, block),
                                       [&](const VendorTable& v) { return v.AlarmCheck(handle, block); });
}

}  // extern "C"
