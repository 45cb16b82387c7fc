// Start-up cost of a large plant: a parameter file of 10,000 channels over 500
// modules (parameter channels included) with a matching module-type database,
// read by Init. Run from the build tree:
//   build/plain/bin/config_read_bench
#include <benchmark/benchmark.h>

#include <string>

#include "bench/large_plant.h"
#include "config/parameter_file.h"
#include "driver/driver_instance.h"
#include "driver/tovi.h"

namespace {

using tovi_bench::LargePlant;

// Init from MakeDriver to DisposeDriver. Init reads the whole configuration, then
// binds the modules; with no device manager holding these devices it stops at the
// first module, so the figure is the reading's plus one failed binding.
void BM_InitLargePlant(benchmark::State& state) {
    LargePlant plant;
    for (auto _ : state) {
        DriverInstance* driver = MakeDriver();
        char message[256] = {};
        Init(driver, static_cast<std::uint32_t>(plant.path().size()), plant.path().c_str(), 255, message, 0, 0,
             nullptr, nullptr);
        const std::uint32_t channels = driver->channels.Count();
        Done(driver);
        DisposeDriver(driver);
        if (channels != 10000) {
            state.SkipWithError(("the plant was not read whole: " + std::string(message)).c_str());
            break;
        }
    }
}
BENCHMARK(BM_InitLargePlant)->Unit(benchmark::kMillisecond);

// The reader alone, with the instance's creation and release.
void BM_ReadLargePlant(benchmark::State& state) {
    LargePlant plant;
    for (auto _ : state) {
        DriverInstance* driver = MakeDriver();
        char message[256] = {};
        const bool read = tovi::ReadParameterFile(*driver, static_cast<std::uint32_t>(plant.path().size()),
                                                  plant.path().c_str(), 255, message);
        Done(driver);
        DisposeDriver(driver);
        if (!read) {
            state.SkipWithError(message);
            break;
        }
    }
}
BENCHMARK(BM_ReadLargePlant)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
