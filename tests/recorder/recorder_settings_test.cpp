// recorder.ini as the recorder reads it: the default of every setting, each
// number's limit taken at and one over; and the recording file's size limit and
// rotation count taken exactly.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "recorder/recorder_settings.h"
#include "recorder/recording_writer.h"
#include "tests/support/temp_files.h"

namespace {

namespace fs = std::filesystem;

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class RecorderSettingsTest : public ::testing::Test {
protected:
    recorder::Settings ReadIni(const std::string& text) {
        dir_.Write("recorder.ini", text);
        problems_.clear();
        return recorder::ReadSettings(Directory(), problems_);
    }
    std::string Directory() const { return dir_.path().string() + "/"; }

    tovitest::TempDirectory dir_;
    std::string problems_;
};

TEST_F(RecorderSettingsTest, EverySettingHasItsDocumentedDefault) {
    for (const char* ini : {"", "[recorder]\n; nothing set\n"}) {
        SCOPED_TRACE(ini);
        const recorder::Settings settings = ini[0] == '\0' ? recorder::ReadSettings(Directory(), problems_) : ReadIni(ini);
        EXPECT_EQ(problems_, "");
#if defined(_WIN32)
        EXPECT_EQ(fs::path(settings.device_library).filename().string(), "ADSAPI32.dll");
        EXPECT_EQ(fs::path(settings.serial_library).filename().string(), "ADSCOMM.dll");
#else
        EXPECT_EQ(settings.device_library, "/usr/lib/libADSAPI32.so");
        EXPECT_EQ(settings.serial_library, "/usr/lib/libADSCOMM.so");
#endif
        EXPECT_EQ(settings.file, Directory() + "tovi-recording.txt");
        EXPECT_EQ(settings.max_bytes, 104857600u);  // 100 MiB
        EXPECT_EQ(settings.keep, 3);
        EXPECT_EQ(settings.flush_ms, 1000u);
        EXPECT_TRUE(settings.record);
    }
}

TEST_F(RecorderSettingsTest, EachNumberIsTakenUpToItsLimitAndRefusedOneOver) {
    const struct {
        const char* line;
        bool taken;
        std::uint64_t max_bytes;
        int keep;
        std::uint32_t flush_ms;
    } cases[] = {
        {"max_size_mb=0", true, 0, 3, 1000},
        {"max_size_mb=1", true, 1048576, 3, 1000},
        {"max_size_mb=1048576", true, 1099511627776u, 3, 1000},
        {"max_size_mb=1048577", false, 104857600, 3, 1000},
        {"max_size_kb=1", true, 1024, 3, 1000},
        {"max_size_kb=1073741824", true, 1099511627776u, 3, 1000},
        {"max_size_kb=1073741825", false, 104857600, 3, 1000},
        {"max_size_mb=-1", false, 104857600, 3, 1000},
        {"max_size_mb=5MB", false, 104857600, 3, 1000},
        {"keep=0", true, 104857600, 0, 1000},
        {"keep=99", true, 104857600, 99, 1000},
        {"keep=100", false, 104857600, 3, 1000},
        {"flush_ms=0", true, 104857600, 3, 0},
        {"flush_ms=3600000", true, 104857600, 3, 3600000},
        {"flush_ms=3600001", false, 104857600, 3, 1000},
        {"flush_ms=", false, 104857600, 3, 1000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const recorder::Settings settings = ReadIni(std::string("[recorder]\n") + c.line + "\n");
        const std::string key = std::string(c.line).substr(0, std::string(c.line).find('='));
        const std::string takes = key == "keep"          ? "a whole number from 0 to 99"
                                  : key == "flush_ms"    ? "a whole number of milliseconds from 0 to 3600000"
                                  : key == "max_size_kb" ? "a whole number of KiB from 0 to 1073741824"
                                                         : "a whole number of MiB from 0 to 1048576";
        EXPECT_EQ(problems_, c.taken ? "" : std::string("recorder.ini:2: \"") + c.line + "\": " + key + " takes " +
                                                takes + " (skipped)\n");
        EXPECT_EQ(settings.max_bytes, c.max_bytes);
        EXPECT_EQ(settings.keep, c.keep);
        EXPECT_EQ(settings.flush_ms, c.flush_ms);
    }
}

TEST_F(RecorderSettingsTest, PathsCountFromTheIniAndRecordTakesOnlyOnOrOff) {
    recorder::Settings settings = ReadIni(
        "; comment\n[recorder]\n  device_library = vendor/dev.so \nserial_library=/opt/ser.so\nfile=plant.txt\n"
        "record=off\nrecord=yes\ncolour=red\n");
    EXPECT_EQ(settings.device_library, Directory() + "vendor/dev.so");
    EXPECT_EQ(settings.serial_library, "/opt/ser.so");
    EXPECT_EQ(settings.file, Directory() + "plant.txt");
    EXPECT_FALSE(settings.record);
    EXPECT_EQ(problems_,
              "recorder.ini:7: \"record=yes\": record takes on or off (skipped)\n"
              "recorder.ini:8: \"colour=red\" is not a setting of the recorder (skipped)\n");
    // Saved with Windows line ends, as an editor on the plant's machine saves it.
    settings = ReadIni("[recorder]\r\nfile=plant.txt\r\nkeep=5\r\nmax_size_kb=7\r\nrecord=off\r\n");
    EXPECT_EQ(settings.file, Directory() + "plant.txt");
    EXPECT_EQ(settings.keep, 5);
    EXPECT_EQ(settings.max_bytes, 7u * 1024);
    EXPECT_FALSE(settings.record);
    EXPECT_EQ(problems_, "");
    settings = ReadIni("file=\nrecord=on\n");
    EXPECT_EQ(settings.file, Directory() + "tovi-recording.txt");
    EXPECT_TRUE(settings.record);
    EXPECT_EQ(problems_, "recorder.ini:1: \"file=\": file takes a path (skipped)\n");
}

class RecordingWriterTest : public RecorderSettingsTest {
protected:
    // Writes lines "L01\n", "L02\n" ... through a writer with that limit and keep.
    // The directory is emptied first.
    void WriteLines(int count, std::uint64_t max_bytes, int keep) {
        fs::remove_all(dir_.path());
        fs::create_directories(dir_.path());
        recorder::RecordingWriter writer;
        writer.Configure(dir_.Path("r.txt"), max_bytes, keep, std::chrono::milliseconds(0));
        ASSERT_TRUE(writer.Open("HEAD\n", ""));
        for (int i = 1; i <= count; ++i) {
            const std::string line = (i < 10 ? "L0" : "L") + std::to_string(i) + "\n";
            if (writer.Full(line.size())) writer.Rotate("HEAD\n");
            writer.Append(line, false);
        }
        EXPECT_EQ(writer.stopped(), "");
    }
    std::string File(const std::string& name) const {
        return fs::exists(dir_.Path(name)) ? Read(dir_.Path(name)) : "<none>";
    }
};

TEST_F(RecordingWriterTest, AFileIsFullExactlyAtItsLimitAndOnlyKeepOldFilesStay) {
    // The limit counts the lines after the opening (5 bytes here, more than one
    // line): two lines of 4 fit a limit of 8, not of 7.
    WriteLines(3, 8, 1);
    EXPECT_EQ(File("r.txt.1"), "HEAD\nL01\nL02\n");
    EXPECT_EQ(File("r.txt"), "HEAD\nL03\n");
    WriteLines(3, 7, 1);
    EXPECT_EQ(File("r.txt.1"), "HEAD\nL02\n");
    EXPECT_EQ(File("r.txt"), "HEAD\nL03\n");
    WriteLines(2, 9, 1);
    EXPECT_EQ(File("r.txt.1"), "<none>");
    EXPECT_EQ(File("r.txt"), "HEAD\nL01\nL02\n");

    // One line a file: keep=2 holds the two before the current one, the oldest
    // gone; keep=0 holds none.
    WriteLines(5, 4, 2);
    EXPECT_EQ(File("r.txt"), "HEAD\nL05\n");
    EXPECT_EQ(File("r.txt.1"), "HEAD\nL04\n");
    EXPECT_EQ(File("r.txt.2"), "HEAD\nL03\n");
    EXPECT_EQ(File("r.txt.3"), "<none>");
    WriteLines(3, 4, 0);
    EXPECT_EQ(File("r.txt"), "HEAD\nL03\n");
    EXPECT_EQ(File("r.txt.1"), "<none>");
    // No limit: everything in one file.
    WriteLines(12, 0, 2);
    EXPECT_EQ(File("r.txt"), "HEAD\nL01\nL02\nL03\nL04\nL05\nL06\nL07\nL08\nL09\nL10\nL11\nL12\n");
}

}  // namespace
