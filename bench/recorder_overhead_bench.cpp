// What the recorder adds to a vendor call: one digital port read straight from
// the simulated device manager, and the same read through the recorder in front
// of it (forwarded, its line formatted, written and flushed). The difference is
// the recorder's cost per call.
//   build/plain/bin/recorder_overhead_bench
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "device_sim/device_sim.h"
#include "device_sim/exports.h"
#include "platform/platform.h"

namespace {

namespace fs = std::filesystem;

// The recorder copied into a directory of its own, recording into it.
vendor::DioReadPortByteFn RecordedRead(vendor::DeviceOpenFn& open) {
    static tovi::platform::LibraryHandle library = [] {
        const fs::path dir = fs::temp_directory_path() / "tovi_recorder_bench";
        fs::remove_all(dir);
        fs::create_directories(dir);
        const fs::path device = fs::path(RECORDER_DEVICE_LIBRARY);
        fs::copy_file(device, dir / device.filename());
        std::ofstream(dir / "recorder.ini") << "[recorder]\ndevice_library=" SIMULATED_DEVICE_LIBRARY
                                               "\nserial_library=" SIMULATED_SERIAL_LIBRARY
                                               "\nfile=bench.recording\nmax_size_mb=64\nkeep=0\n";
        return tovi::platform::OpenLibrary((dir / device.filename()).string().c_str(), 0, nullptr);
    }();
    open = reinterpret_cast<vendor::DeviceOpenFn>(tovi::platform::LibrarySymbol(library, "DRV_DeviceOpen"));
    return reinterpret_cast<vendor::DioReadPortByteFn>(tovi::platform::LibrarySymbol(library, "DRV_DioReadPortByte"));
}

void Run(benchmark::State& state, vendor::DeviceOpenFn open, vendor::DioReadPortByteFn read) {
    if (devsim_load_text("device 3 \"dio16\"\n  di 8\n  inport 0 = 0x5A\n", nullptr, 0) != 0 || open == nullptr ||
        read == nullptr) {
        state.SkipWithError("no simulated device manager or recorder");
        return;
    }
    Handle handle = 0;
    open(3, &handle);
    std::uint16_t value = 0;
    vendor::DioReadPortByteBlock block{0, 0, &value};
    for (auto _ : state) {
        benchmark::DoNotOptimize(read(handle, &block));
        benchmark::DoNotOptimize(value);
    }
}

void BM_PortReadDirect(benchmark::State& state) { Run(state, DRV_DeviceOpen, DRV_DioReadPortByte); }

void BM_PortReadRecorded(benchmark::State& state) {
    vendor::DeviceOpenFn open = nullptr;
    const vendor::DioReadPortByteFn read = RecordedRead(open);
    Run(state, open, read);
}

BENCHMARK(BM_PortReadDirect);
BENCHMARK(BM_PortReadRecorded);

}  // namespace

BENCHMARK_MAIN();
