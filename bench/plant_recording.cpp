// Writes a recording of the example plant's polling loop as the recorder would
// write it: the device list and opens, then CYCLES cycles of the 13 calls a pass
// over the example plant makes, 500 µs apart, with a failed read (and its error
// text) every 1000th cycle and a stall of two seconds every 20000th. For timing
// tovihost inspect on a recording of realistic size:
//   plant_recording FILE [CYCLES]   (default 100000 cycles: 1.3 million calls, about 114 MB)
#include <cstdio>
#include <cstdlib>
#include <string>

#include "recording/recording_format.h"

namespace {

recording::Call Make(std::uint64_t t, std::uint64_t duration, std::uint32_t thread, const char* function,
                     std::vector<recording::Field> inputs, std::int32_t status, std::vector<recording::Field> outputs) {
    recording::Call call;
    call.time_us = t;
    call.duration_us = duration;
    call.has_duration = true;
    call.thread = thread;
    call.function = function;
    call.inputs = std::move(inputs);
    call.status = status;
    call.outputs = std::move(outputs);
    return call;
}

std::string Handle(int device) { return std::to_string(65536 + device); }

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: plant_recording FILE [CYCLES]\n");
        return 2;
    }
    const long cycles = argc == 3 ? std::atol(argv[2]) : 100000;
    std::FILE* file = std::fopen(argv[1], "wb");
    if (file == nullptr || cycles <= 0) {
        std::fprintf(stderr, "plant_recording: cannot write %s\n", argv[1]);
        return 2;
    }
    recording::Header header;
    header.started = "2026-12-08T06:00:00Z";
    header.device_library = "C:\\Windows\\System32\\ADSAPI32.dll";
    header.serial_library = "C:\\Windows\\System32\\ADSCOMM.dll";
    std::string out = recording::HeaderText(header);
    std::uint64_t t = 100;
    auto put = [&](const recording::Call& call) { recording::AppendCallLine(call, out); };
    put(Make(t, 12, 1, "DRV_DeviceGetNumOfList", {}, 0, {{"devices", "8"}}));
    put(Make(t += 20, 30, 1, "DRV_DeviceGetList", {{"max", "8"}}, 0,
             {{"returned", "8"}, {"entry", "1 0 ai8 COM1 Address=1"}, {"entry", "2 0 ao4 COM1 Address=2"},
              {"entry", "3 0 dio16 COM1 Address=3"}, {"entry", "4 0 do16 COM1 Address=4"},
              {"entry", "5 0 di16 COM1 Address=5"}, {"entry", "10 0 cnt2 COM2 Address=10 Dec"},
              {"entry", "11 0 alarm4 COM2 Address=0B"}, {"entry", "20 2 COM3 bus"}}));
    put(Make(t += 40, 20, 1, "DRV_DeviceGetSubList", {{"dev", "20"}, {"max", "2"}}, 0,
             {{"returned", "2"}, {"entry", "21 0 disp6 panel Address=7"}, {"entry", "22 0 disp4 panel Address=9"}}));
    for (int device : {1, 2, 3, 4, 5, 10, 11, 21}) {
        put(Make(t += 30, 25, 1, "DRV_DeviceOpen", {{"dev", std::to_string(device)}}, 0, {{"handle", Handle(device)}}));
    }
    put(Make(t += 30, 25, 1, "COMOpen", {{"port", "3"}}, 0, {{"handle", "70000"}}));
    for (long cycle = 0; cycle < cycles; ++cycle) {
        t += cycle % 20000 == 19999 ? 2000000 : 500;
        const auto d = static_cast<std::uint64_t>(30 + cycle % 17);
        const bool fail = cycle % 1000 == 999;
        for (int channel : {0, 1, 2, 8}) {
            const bool failing = fail && channel == 2;
            const std::string voltage = failing ? "0" : std::to_string(2 + channel) + "." + std::to_string(cycle % 100);
            put(Make(t += 40, d, 2, "DRV_AIVoltageIn",
                     {{"handle", Handle(1)}, {"dev", "1"}, {"channel", std::to_string(channel)}, {"gain", "0"},
                      {"trigger", "0"}},
                     failing ? 1001 : 0, {{"voltage", voltage}}));
            if (failing) put(Make(t += 40, 5, 2, "DRV_GetErrorMessage", {{"code", "1001"}}, 0, {{"text", "Input overrange"}}));
        }
        put(Make(t += 40, d, 2, "DRV_DioReadPortByte", {{"handle", Handle(3)}, {"dev", "3"}, {"port", "0"}}, 0,
                 {{"value", std::to_string(cycle % 4)}}));
        put(Make(t += 40, d, 2, "DRV_DioReadPortByte", {{"handle", Handle(5)}, {"dev", "5"}, {"port", "1"}}, 0,
                 {{"value", "16"}}));
        put(Make(t += 40, d, 2, "DRV_CounterEventRead", {{"handle", Handle(10)}, {"dev", "10"}, {"counter", "0"}}, 0,
                 {{"count", std::to_string(cycle * 25)}, {"overflow", "0"}}));
        put(Make(t += 40, d, 2, "DRV_CounterFreqRead", {{"handle", Handle(10)}, {"dev", "10"}, {"counter", "1"}}, 0,
                 {{"frequency", "1000"}}));
        put(Make(t += 40, d, 2, "DRV_AIVoltageIn",
                 {{"handle", Handle(11)}, {"dev", "11"}, {"channel", "0"}, {"gain", "0"}, {"trigger", "0"}}, 0,
                 {{"voltage", "4.5"}}));
        put(Make(t += 40, d, 2, "DRV_AlarmCheck", {{"handle", Handle(11)}, {"dev", "11"}, {"channel", "0"}}, 0,
                 {{"low", "0"}, {"high", "0"}}));
        put(Make(t += 40, d, 2, "DRV_AOVoltageOut",
                 {{"handle", Handle(2)}, {"dev", "2"}, {"channel", "0"}, {"voltage", "2.5"}}, 0, {}));
        put(Make(t += 40, 900, 2, "COMWrite",
                 {{"handle", "70000"}, {"port", "3"}, {"length", "11"}, {"data", "$079012.50\r"}}, 0, {}));
        put(Make(t += 940, d, 2, "COMRead",
                 {{"handle", "70000"}, {"port", "3"}, {"size", "80"}, {"timeout", "100"}, {"terminator", "13"}}, 0,
                 {{"data", "!07\r"}, {"received", "4"}}));
        if (out.size() > (1u << 20)) {
            std::fwrite(out.data(), 1, out.size(), file);
            out.clear();
        }
    }
    std::fwrite(out.data(), 1, out.size(), file);
    return std::fclose(file) == 0 ? 0 : 2;
}
