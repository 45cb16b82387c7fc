// Fuzz target: a recording read back and replayed. Any text is read without a
// crash (a refused one names its line); an accepted one is loaded as the
// simulated device set and a driver's calls are answered from it, into buffers
// of exactly the sizes the calls give, so that a recorded answer larger than its
// place is caught.
#include <cstring>
#include <memory>
#include <string>

#include "device_sim/device_sim.h"
#include "device_sim/exports.h"
#include "recording/recording_format.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

void Replay(const recording::Recording& loaded) {
    std::int16_t count = 0, returned = 0;
    DRV_DeviceGetNumOfList(&count);
    const std::int16_t entries = count < 0 ? 0 : count > vendor::kMaxListEntries ? vendor::kMaxListEntries : count;
    auto list = std::make_unique<vendor::DeviceListEntry[]>(static_cast<std::size_t>(entries) + 1);
    DRV_DeviceGetList(list.get(), entries, &returned);
    if (returned > entries) __builtin_trap();  // the caller would read beyond its table
    for (const recording::Call& call : loaded.calls) {
        const recording::Field* dev = call.Input("dev");
        const std::uint32_t number = dev == nullptr ? 0 : static_cast<std::uint32_t>(std::strtoul(dev->value.c_str(), nullptr, 10));
        if (call.function == "DRV_DeviceGetSubList") DRV_DeviceGetSubList(number, list.get(), entries, &returned);
        Handle handle = 0;
        if (call.function != "DRV_DeviceOpen" || DRV_DeviceOpen(number, &handle) != 0) continue;
        auto features = std::make_unique<std::uint8_t[]>(vendor::kFeaturesSize);
        vendor::FeaturesRequest request{features.get(), vendor::kFeaturesSize};
        DRV_DeviceGetFeatures(handle, &request);
        float volts = 0;
        vendor::AIVoltageInBlock ai{0, 0, 0, 0, &volts};
        DRV_AIVoltageIn(handle, &ai);
        auto text = std::make_unique<char[]>(vendor::kErrorMessageSize);
        DRV_GetErrorMessage(1001, text.get());
        DRV_DeviceClose(&handle);
    }
    vendor::SerialConfig config{};
    COMGetConfig(0, &config);
    Handle serial = 0;
    std::uint32_t unused = 0, received = 0;
    COMOpen(1, &unused, &serial);
    auto reply = std::make_unique<char[]>(8);
    COMRead(serial, reply.get(), 8, 100, 13, &received);
    if (received > 8) __builtin_trap();  // the caller would read beyond its buffer
    COMClose(&serial);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tovifuzz::PrepareProcess();
    const std::string text(reinterpret_cast<const char*>(data), size);
    recording::Recording loaded;
    std::string error;
    if (!recording::ParseRecording(text, "fuzz", loaded, error)) {
        if (error.rfind("fuzz:", 0) != 0) __builtin_trap();  // every refusal names its line
        return 0;
    }
    if (text.find('\0') != std::string::npos) return 0;
    char message[256];
    if (devsim_load_text(text.c_str(), message, sizeof message) != 0) return 0;
    Replay(loaded);
    devsim_unload();
    tovifuzz::ForgetRecords();
    return 0;
}
