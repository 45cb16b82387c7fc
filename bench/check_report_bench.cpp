// `tovihost check` on the large plant of config_read_bench, as an integrator runs
// it before commissioning: the driver started and stopped, the settings, every
// module's binding looked up in a device set, the channel map written. The device
// list the driver searches holds at most 100 devices, so the set has the first
// hundred modules' devices; the driver stops at the hundred-and-first, and check
// still reports all 500 modules. Run from the build tree (tovihost beside it):
//   build/plain/bin/check_report_bench
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench/large_plant.h"

namespace {

namespace fs = std::filesystem;

fs::path ProgramDirectory() {
    std::error_code ignored;
    return fs::read_symlink("/proc/self/exe", ignored).parent_path();
}

std::string Quoted(const fs::path& path) { return "'" + path.string() + "'"; }

void BM_CheckLargePlant(benchmark::State& state) {
    tovi_bench::LargePlant plant("tovi_check_report_bench");
    const fs::path bin = ProgramDirectory();
    // The driver beside the plant's own tovi.ini, where check and the driver look for it.
    const fs::path driver = plant.directory() / "driver";
    fs::create_directories(driver);
    fs::copy_file(bin / "libtovi.so", driver / "libtovi.so", fs::copy_options::overwrite_existing);
    fs::copy_file(plant.directory() / "tovi.ini", driver / "tovi.ini", fs::copy_options::overwrite_existing);
    {
        std::ofstream devices(plant.directory() / "plant.devices");
        for (int m = 0; m < 100; ++m) {
            devices << "device " << m + 1 << " \"type" << m % tovi_bench::kTypes << " COM1 Address=" << m << "\"\n"
                    << "  di 8\n  do 8\n  ai 0-4 = 1\n  counter 0-1 = 0\n  alarm 0-4 = 0\n";
        }
    }
    const bool with_devices = state.range(0) != 0;
    const std::string command = Quoted(bin / "tovihost") + " --driver " + Quoted(driver / "libtovi.so") +
                                " check --devices " +
                                (with_devices ? Quoted(plant.directory() / "plant.devices") : std::string("none")) +
                                " --channels " + Quoted(plant.directory() / "channels.csv") + " " +
                                Quoted(plant.path()) + " > /dev/null 2>&1";
    for (auto _ : state) {
        const int status = std::system(command.c_str());
        // The driver refuses the plant at the first module it cannot bind: exit status 1.
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 1) {
            state.SkipWithError(("tovihost check did not report a refused plant: " + command).c_str());
            break;
        }
    }
}
BENCHMARK(BM_CheckLargePlant)->Arg(1)->Arg(0)->ArgName("devices")->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
