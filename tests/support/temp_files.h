// Files for a test in a directory of its own, removed afterwards.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace tovitest {

class TempDirectory {
public:
    TempDirectory() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string("tovi_") + (info ? info->test_suite_name() : "suite") + "_" +
                           (info ? info->name() : "test");
        for (char& c : name) {
            if (c == '/' || c == '\\') c = '_';
        }
        path_ = std::filesystem::temp_directory_path() / name;
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }

    // Writes content (bytes as given) to name inside the directory; returns the full path.
    std::string Write(const std::string& name, const std::string& content) const {
        const auto file = path_ / name;
        std::ofstream out(file, std::ios::binary);
        out << content;
        return file.string();
    }
    std::string Path(const std::string& name) const { return (path_ / name).string(); }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

}  // namespace tovitest
