// The benchmarks' large plant: a parameter file of 10,000 channels over 500
// modules (parameter channels included) with a matching module-type database,
// written to a directory of its own that is the current directory while it lives.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace tovi_bench {

inline constexpr int kModules = 500;
inline constexpr int kTypes = 10;

// Every type offers the same ports under its own name, so that the modules spread
// their lookups over several type sections.
inline std::string TypeDatabase() {
    std::ostringstream out;
    for (int t = 0; t < kTypes; ++t) {
        out << "[type" << t << "]\n";
        for (int port = 0; port < 8; ++port) out << port << "=ai, cjc\n";
        for (int bit = 0; bit < 8; ++bit) out << "9, " << bit << "=di_bit, do_bit\n";
        out << "10=do_byte, di_byte\n"
            << "11=cnt_event_start, cnt_event_read, cnt_freq_read\n"
            << "12=cnt_event_read, cnt_event_start\n"
            << "13=ai, alarm_config, alarm_enable, alarm_reset, alarm_check_lo, alarm_check_hi\n"
            << "[type" << t << " PAR]\ndisplay_data=-100, 100, true\n";
    }
    return out.str();
}

// Twenty channels per module, five of them parameter channels.
inline std::string ParameterFile() {
    std::ostringstream out;
    out << "[tovi]\nlog_file=bench.log\n[modules]\n";
    for (int m = 0; m < kModules; ++m) {
        out << "module" << m << "=type" << m % kTypes << ", COM" << 1 + m / 100 << " Address=" << m % 100 << "\n";
    }
    int n = 1;
    for (int m = 0; m < kModules; ++m) {
        out << "[module" << m << "]\n";
        out << "ai 0=" << n << " " << n + 1 << "\n";
        n += 2;
        out << "ai 1=" << n++ << "\n";
        out << "ai 2=" << n << ", " << n + 1 << "\n";
        n += 2;
        out << "ai 3=" << n++ << "\n";
        out << "cjc 4=" << n++ << "\n";
        for (int bit = 0; bit < 4; ++bit) out << "di_bit 9 " << bit << "=" << n++ << "\n";
        out << "do_byte 10=" << n++ << "\n";
        out << "cnt_event_start 11=" << n << " " << n + 1 << "\n";
        n += 2;
        out << "cnt_event_read 12=" << n << " " << n + 1 << "\n";
        n += 2;
        out << "alarm_config 13=" << n << " " << n + 1 << " " << n + 2 << "\n";
        n += 3;
        out << "alarm_enable 13=" << n++ << "\n";
    }
    return out.str();
}

// The generated files in a directory of their own, which is the current directory
// while the benchmarks run: the driver, linked into a benchmark rather than loaded
// as its library, looks for tovi.ini there.
class LargePlant {
public:
    explicit LargePlant(const std::string& name = "tovi_config_read_bench") {
        directory_ = std::filesystem::temp_directory_path() / name;
        std::filesystem::create_directories(directory_);
        std::ofstream(directory_ / "tovi.ini") << TypeDatabase();
        std::ofstream(directory_ / "plant.ini") << ParameterFile();
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(directory_);
        path_ = (directory_ / "plant.ini").string();
    }
    ~LargePlant() {
        std::filesystem::current_path(previous_);
        std::filesystem::remove_all(directory_);
    }
    const std::string& path() const { return path_; }
    const std::filesystem::path& directory() const { return directory_; }

private:
    std::filesystem::path directory_;
    std::filesystem::path previous_;
    std::string path_;
};

}  // namespace tovi_bench
