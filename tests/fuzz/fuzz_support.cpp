#include "tests/fuzz/fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "device_sim/device_sim.h"
#include "host_api_standin/host_api_observer.h"

namespace tovifuzz {

void PrepareProcess() {
    static bool prepared = false;
    if (prepared) return;
    prepared = true;
    // Every run writes its files anew: a memory file system keeps that cheap.
    const std::filesystem::path base =
        std::filesystem::is_directory("/dev/shm") ? std::filesystem::path("/dev/shm") : std::filesystem::temp_directory_path();
    const auto directory = base /
                           ("tovi_fuzz_" + std::to_string(static_cast<long long>(std::rand())) + "_" +
                            std::to_string(reinterpret_cast<std::uintptr_t>(&prepared) & 0xFFFFF));
    std::filesystem::create_directories(directory);
    std::filesystem::current_path(directory);
    static std::filesystem::path made;
    made = directory;
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::current_path(made.parent_path(), ignored);
        std::filesystem::remove_all(made, ignored);
    });
    const std::string error = devsim::LoadText(SourceFile("examples/devices/plant.devices"));
    if (!error.empty()) {
        std::fprintf(stderr, "device set: %s\n", error.c_str());
        std::abort();
    }
    devsim_trace_set_capacity(16);
}

void WriteFile(const char* name, const std::uint8_t* data, std::size_t size) {
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

void WriteFile(const char* name, const std::string& text) {
    WriteFile(name, reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

std::string SourceFile(const char* relative_path) {
    std::ifstream in(std::string(TOVI_SOURCE_DIR) + "/" + relative_path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void ForgetRecords() {
    hostapi::Reset();
    devsim_trace_clear();
    devsim_clear_call_counts();
}

}  // namespace tovifuzz
