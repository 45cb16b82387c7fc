// `tovihost replay` of a long recording of the example plant: its speed in
// replayed calls a second and the peak resident memory of the replaying process.
// The recording is made once, by tovihost run with the recorder in front of the
// simulated device manager (--period 0, TOVI_REPLAY_BENCH_CYCLES cycles, 20000 by
// default); each iteration replays it whole. Run from the build tree:
//   build/plain/bin/replay_bench
// The counters: calls (replayed), calls_per_s (wall clock), calls_per_cpu_s (the
// replaying process's user and system time, which a busy machine does not
// stretch), peak_rss_mib, recording_mib.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

fs::path ProgramDirectory() {
    std::error_code ignored;
    return fs::read_symlink("/proc/self/exe", ignored).parent_path();
}

// The host's writes of the round trip: outputs every cycle, so that the recording
// holds writes of every kind.
const std::vector<std::string> kWrites = {"--write", "200=@101", "--write", "320=true", "--write", "400=0x5A",
                                          "--write", "600=1",    "--write", "800=1",    "--write", "801=@100"};

struct Outcome {
    int status = -1;
    double seconds = 0;
    double cpu_seconds = 0;  // user and system time of every thread
    long peak_kib = 0;
};

// Runs a program with its output into a file; its exit status, time and peak
// resident memory.
Outcome Run(const std::vector<std::string>& arguments, const fs::path& output) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    Outcome outcome;
    const auto begin = std::chrono::steady_clock::now();
    pid_t child = 0;
    if (posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        rusage usage{};
        if (wait4(child, &status, 0, &usage) == child && WIFEXITED(status)) {
            outcome.status = WEXITSTATUS(status);
            outcome.peak_kib = usage.ru_maxrss;
            outcome.cpu_seconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                                  static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
        }
    }
    outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    posix_spawn_file_actions_destroy(&actions);
    return outcome;
}

std::string TextOf(const fs::path& path) {
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// The end of a long output: its verdict. Reading it whole would swell this
// process, and a child started from it counts this process's size in its peak.
std::string TailOf(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    file.seekg(0, std::ios::end);
    const std::streamoff size = file.tellg();
    const std::streamoff start = size > 4096 ? size - 4096 : 0;
    file.seekg(start);
    std::string text(static_cast<std::size_t>(size - start), '\0');
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    return text;
}

struct Recorded {
    fs::path directory, recording, plant;
    std::string error;
};

// The recording, made at the first use.
const Recorded& Recording() {
    static const Recorded recorded = [] {
        Recorded r;
        const fs::path bin = ProgramDirectory();
        const fs::path source = TOVI_SOURCE_DIR;
        r.directory = fs::temp_directory_path() / "tovi_replay_bench";
        r.plant = source / "examples" / "plant.ini";
        fs::remove_all(r.directory);
        const fs::path driver = r.directory / "driver";
        fs::create_directories(driver);
        fs::copy_file(bin / "libtovi.so", driver / "libtovi.so");
        fs::copy_file(bin / "tovi.ini", driver / "tovi.ini");
        for (const char* library : {"libADSAPI32.so", "libADSCOMM.so"})
            fs::copy_file(bin / "recorder" / library, driver / library);
        r.recording = driver / "plant.recording";
        std::ofstream(driver / "recorder.ini") << "[recorder]\ndevice_library=" << (bin / "libADSAPI32.so").string()
                                               << "\nserial_library=" << (bin / "libADSCOMM.so").string()
                                               << "\nfile=plant.recording\nmax_size_mb=4096\nkeep=0\n";
        const char* cycles = std::getenv("TOVI_REPLAY_BENCH_CYCLES");
        std::vector<std::string> run = {(bin / "tovihost").string(), "--driver", (driver / "libtovi.so").string(),
                                        "run", r.plant.string(), "--devices",
                                        (source / "examples" / "devices" / "plant.devices").string(), "--period", "0",
                                        "--plain", "--cycles", cycles != nullptr ? cycles : "20000"};
        run.insert(run.end(), kWrites.begin(), kWrites.end());
        const Outcome made = Run(run, r.directory / "recorded.out");
        if (made.status != 0 || !fs::exists(r.recording)) r.error = "tovihost run did not record: " + TextOf(r.directory / "recorded.out");
        return r;
    }();
    return recorded;
}

void BM_ReplayExamplePlant(benchmark::State& state) {
    const Recorded& r = Recording();
    if (!r.error.empty()) {
        state.SkipWithError(r.error.c_str());
        return;
    }
    std::vector<std::string> replay = {(ProgramDirectory() / "tovihost").string(), "replay", r.recording.string(),
                                       r.plant.string(), "--log-dir", r.directory.string()};
    replay.insert(replay.end(), kWrites.begin(), kWrites.end());
    const fs::path output = r.directory / "replayed.out";
    double calls = 0, seconds = 0, cpu_seconds = 0;
    long peak_kib = 0;
    for (auto _ : state) {
        const Outcome outcome = Run(replay, output);
        const std::string text = TailOf(output);
        std::smatch found;
        // The figures count whatever the verdict: under load the driver's own timing may
        // make a run differ from its recording by a call or two.
        if ((outcome.status != 0 && outcome.status != 1) ||
            !std::regex_search(text, found, std::regex("\n(reproduced|replay): ([0-9]+) calls, [0-9]+ divergences\n$"))) {
            state.SkipWithError(("the replay did not run to its verdict:\n" + text).c_str());
            return;
        }
        calls += std::stod(found[2].str());
        seconds += outcome.seconds;
        cpu_seconds += outcome.cpu_seconds;
        peak_kib = std::max(peak_kib, outcome.peak_kib);
        state.SetIterationTime(outcome.seconds);
    }
    state.counters["calls"] = calls / static_cast<double>(state.iterations());
    state.counters["calls_per_s"] = calls / seconds;
    state.counters["calls_per_cpu_s"] = calls / cpu_seconds;
    state.counters["peak_rss_mib"] = static_cast<double>(peak_kib) / 1024.0;
    state.counters["recording_mib"] = static_cast<double>(fs::file_size(r.recording)) / (1024.0 * 1024.0);
}
BENCHMARK(BM_ReplayExamplePlant)->Unit(benchmark::kSecond)->UseManualTime()->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
