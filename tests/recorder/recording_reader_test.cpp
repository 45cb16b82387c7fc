// The recording read as it goes: both format versions, files larger than the
// reader's chunk, damaged lines named with their line, and the files of a
// rotated run read as one run in the order they hold it.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "recording/recording_reader.h"

namespace {

namespace fs = std::filesystem;

const char kHeader2[] =
    "tovi-recording 2\n"
    "started 2026-12-08T10:00:00Z\n"
    "device-library \"/v/libADSAPI32.so\"\n"
    "serial-library \"/v/libADSCOMM.so\"\n";

class RecordingReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        directory_ = fs::temp_directory_path() /
                     ("tovi_reader_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(directory_);
        fs::create_directories(directory_);
    }
    void TearDown() override { fs::remove_all(directory_); }

    std::string Write(const std::string& name, const std::string& text) {
        const fs::path path = directory_ / name;
        std::ofstream(path, std::ios::binary) << text;
        return path.string();
    }

    // Every call of a reader as "FILE:LINE TIME+DURATION FUNCTION [carried]", or the error.
    template <class R>
    static std::vector<std::string> Calls(R& reader) {
        std::vector<std::string> out;
        recording::Call call;
        std::string error;
        while (reader.Next(call, error)) {
            out.push_back(std::to_string(call.file) + ":" + std::to_string(call.line) + " " + std::to_string(call.time_us) +
                          (call.has_duration ? "+" + std::to_string(call.duration_us) : "") + " " + call.function +
                          (call.carried ? " carried" : ""));
        }
        if (!error.empty()) out.push_back("error " + error);
        return out;
    }

    fs::path directory_;
};

TEST_F(RecordingReaderTest, ReadsBothVersionsWithAndWithoutDurations) {
    recording::Reader v1;
    std::string error;
    ASSERT_TRUE(v1.OpenText("tovi-recording 1\r\nstarted x\r\n# a note\r\n"
                            "10 1 DRV_DeviceGetNumOfList -> 0 count=1\r\n\r\n"
                            "25 2 DRV_AIVoltageIn handle=7 dev=3 channel=2 gain=1 trigger=0 -> 0 voltage=0.1\r\n",
                            "v1", error))
        << error;
    EXPECT_EQ(v1.header().version, 1);
    EXPECT_EQ(v1.header().started, "x");
    EXPECT_EQ(Calls(v1), (std::vector<std::string>{"0:4 10 DRV_DeviceGetNumOfList", "0:6 25 DRV_AIVoltageIn"}));

    recording::Reader v2;
    const std::string text = std::string(kHeader2) + "continues 4000000\n" +
                             "carried 10+3 1 DRV_DeviceGetNumOfList -> 0 count=1\n"
                             "4000001+18446744073709551615 2 DRV_AlarmReset handle=7 dev=3 channel=1 -> 0\n";
    ASSERT_TRUE(v2.OpenText(text, "v2", error)) << error;
    EXPECT_TRUE(v2.header().continues);
    EXPECT_EQ(v2.header().continues_us, 4000000u);
    EXPECT_EQ(Calls(v2), (std::vector<std::string>{"0:6 10+3 DRV_DeviceGetNumOfList carried",
                                                   "0:7 4000001+18446744073709551615 DRV_AlarmReset"}));
}

TEST_F(RecordingReaderTest, WriterAndReaderAgreeOnEveryPartOfALine) {
    recording::Header header;
    header.started = "2026-12-08T10:00:00Z";
    header.device_library = "C:\\v\\ADSAPI32.dll";
    header.continues = true;
    header.continues_us = 0;
    std::string text = recording::HeaderText(header);
    EXPECT_EQ(text,
              "tovi-recording 2\nstarted 2026-12-08T10:00:00Z\ndevice-library \"C:\\\\v\\\\ADSAPI32.dll\"\n"
              "serial-library \"\"\ncontinues 0\n");
    recording::Call call;
    call.time_us = 7;
    call.duration_us = 0;
    call.has_duration = true;
    call.carried = true;
    call.thread = 3;
    call.function = "COMWrite";
    call.inputs = {{"handle", "8"}, {"port", "3"}, {"length", "3"}, {"data", std::string("\x7F\x01\"", 3)}};
    call.status = 0;
    recording::AppendCallLine(call, text);
    call.carried = false;
    call.has_duration = false;  // a call with no known duration is written as version 1 wrote it
    recording::AppendCallLine(call, text);
    EXPECT_EQ(text.substr(text.find("carried")),
              "carried 7+0 3 COMWrite handle=8 port=3 length=3 data=\"\\x7F\\x01\\\"\" -> 0\n"
              "7 3 COMWrite handle=8 port=3 length=3 data=\"\\x7F\\x01\\\"\" -> 0\n");
}

TEST_F(RecordingReaderTest, RefusesWhatNeitherVersionHolds) {
    struct Case {
        std::string text, error;
    };
    const std::string v1 = "tovi-recording 1\nstarted x\n";
    const std::string v2 = std::string(kHeader2);
    const Case cases[] = {
        {"tovi-recording 0\n", "t:1: recording format version 0 is not known (this build reads versions 1 to 2)"},
        {"tovi-recording 3\n", "t:1: recording format version 3 is not known (this build reads versions 1 to 2)"},
        {"", "t:1: the recording is empty"},
        {"devices 1\n", "t:1: not a recording: it must start with \"tovi-recording 2\""},
        {v1 + "10+2 1 DRV_DeviceGetNumOfList -> 0 count=1\n",
         "t:3: a version 1 call line has no duration: it starts with its time alone"},
        {v2 + "10 1 DRV_DeviceGetNumOfList -> 0 count=1\n",
         "t:5: a call line starts with its time and duration in microseconds, START+DURATION"},
        {v2 + "10+ 1 DRV_DeviceGetNumOfList -> 0 count=1\n",
         "t:5: a call line starts with its time and duration in microseconds, START+DURATION"},
        {v1 + "continues 5\n", "t:3: \"continues\" needs format version 2"},
        {v2 + "continues 5 6\n",
         "t:5: continues takes the recorded time in microseconds at which the file's own calls start"},
        {v2 + "carried 10+2 1 DRV_DeviceGetNumOfList -> 0 count=1\n",
         "t:5: a carried call in a file that does not continue a run (no \"continues\" line)"},
        {v2 + "continues 5\ncarried DRV_DeviceGetNumOfList -> 0\n", "t:6: \"carried\" must be followed by a call line"},
        {v2 + "continues 5\ncarried \n", "t:6: \"carried\" must be followed by a call line"},
        {v2 + "continues 5\ncarried \r\n", "t:6: \"carried\" must be followed by a call line"},
        {v2 + "continues 5\n6+1 1 DRV_DeviceGetNumOfList -> 0 count=1\ncarried 1+1 1 DRV_DeviceGetNumOfList -> 0 count=1\n",
         "t:7: a carried call after the file's own calls"},
        {v2 + "6+1 1 DRV_DeviceGetNumOfList -> 0 count=1\nstarted y\n",
         "t:6: a call line must start with its time in microseconds"},
    };
    for (const Case& c : cases) {
        recording::Reader reader;
        std::string found;
        if (reader.OpenText(c.text, "t", found)) {
            const auto calls = Calls(reader);
            found = calls.empty() ? "" : calls.back();
            if (found.rfind("error ", 0) == 0) found.erase(0, 6);
        }
        EXPECT_EQ(found, c.error) << c.text;
        recording::Recording whole;
        std::string whole_error;
        EXPECT_FALSE(recording::ParseRecording(c.text, "t", whole, whole_error)) << c.text;
        EXPECT_EQ(whole_error, c.error) << c.text;
    }
}

TEST_F(RecordingReaderTest, AFileLargerThanItsChunksReadsAsTheWholeTextParses) {
    std::string text = kHeader2;
    // Lines of varying length so that chunk ends fall inside lines, one without its end.
    for (int i = 0; i < 40000; ++i) {
        text += std::to_string(i) + "+" + std::to_string(i % 7) + " 1 COMWrite handle=8 port=3 length=" +
                std::to_string(i % 50) + " data=\"" + std::string(static_cast<std::size_t>(i % 50), 'x') + "\" -> 0\n";
    }
    text += "40000+1 1 DRV_DeviceClose handle=7 dev=3 -> 0 handle=0";
    ASSERT_GT(text.size(), 3u << 20);
    const std::string path = Write("big.txt", text);
    recording::Recording whole;
    std::string error;
    ASSERT_TRUE(recording::ParseRecording(text, path, whole, error)) << error;
    recording::Reader reader;
    ASSERT_TRUE(reader.Open(path, error)) << error;
    std::size_t n = 0;
    recording::Call call;
    while (reader.Next(call, error)) {
        ASSERT_LT(n, whole.calls.size());
        const recording::Call& expected = whole.calls[n++];
        ASSERT_EQ(call.line, expected.line);
        ASSERT_EQ(call.time_us, expected.time_us);
        ASSERT_EQ(call.duration_us, expected.duration_us);
        ASSERT_EQ(recording::FieldsText(call.inputs), recording::FieldsText(expected.inputs));
    }
    EXPECT_EQ(error, "");
    EXPECT_EQ(n, 40001u);
    EXPECT_EQ(reader.position(), text.size());
    EXPECT_EQ(reader.size(), text.size());
}

TEST_F(RecordingReaderTest, ALineLongerThanAMebibyteIsRefusedNotHeld) {
    const std::string path =
        Write("long.txt", std::string(kHeader2) + "1+1 1 COMWrite data=\"" + std::string(1u << 20, 'x') + "\" -> 0\n");
    recording::Reader reader;
    std::string error;
    EXPECT_FALSE(reader.Open(path, error));
    EXPECT_EQ(error, path + ":5: a line longer than 1 MiB: not a recording's line");
}

TEST_F(RecordingReaderTest, NamesWhyAFileCannotBeRead) {
    recording::Reader missing, directory;
    std::string error;
    const std::string none = (directory_ / "none.txt").string();
    EXPECT_FALSE(missing.Open(none, error));
    EXPECT_EQ(error, none + ": cannot be read: no such file");
    EXPECT_FALSE(directory.Open(directory_.string(), error));
    EXPECT_EQ(error, directory_.string() + ": cannot be read: it is a directory");
}

TEST_F(RecordingReaderTest, ASetIsReadInRunOrderWithLaterFilesCarriedCallsSkipped) {
    const std::string run = std::string(kHeader2);
    const std::string oldest = Write("rec.txt.2", run + "continues 100\n"
                                                       "carried 1+1 1 DRV_DeviceOpen dev=3 -> 0 handle=7\n"
                                                       "100+1 1 DRV_DioReadPortByte handle=7 dev=3 port=0 -> 0 value=1\n");
    const std::string middle = Write("rec.txt.1", run + "continues 200\n"
                                                       "carried 1+1 1 DRV_DeviceOpen dev=3 -> 0 handle=7\n"
                                                       "200+1 1 DRV_DioReadPortByte handle=7 dev=3 port=0 -> 0 value=2\n");
    const std::string current = Write("rec.txt", run + "continues 300\n"
                                                      "carried 1+1 1 DRV_DeviceOpen dev=3 -> 0 handle=7\n"
                                                      "300+1 1 DRV_DioReadPortByte handle=7 dev=3 port=0 -> 0 value=3\n");
    EXPECT_EQ(recording::RotatedSet(current), (std::vector<std::string>{oldest, middle, current}));
    recording::SetReader set;
    std::string error;
    // Given in another order (as a shell's pattern sorts them): read in the run's.
    ASSERT_TRUE(set.Open({current, middle, oldest}, error)) << error;
    EXPECT_EQ(set.path(0), oldest);
    EXPECT_EQ(Calls(set), (std::vector<std::string>{"0:6 1+1 DRV_DeviceOpen carried", "0:7 100+1 DRV_DioReadPortByte",
                                                    "1:7 200+1 DRV_DioReadPortByte", "2:7 300+1 DRV_DioReadPortByte"}));
    EXPECT_EQ(set.position(), set.size());
}

TEST_F(RecordingReaderTest, ASetOfFilesOfDifferentRunsOrOfOnePointIsRefusedButThreadsMayInterleaveAcrossFiles) {
    const std::string first = Write("a.txt", std::string(kHeader2) + "1+1 1 DRV_DeviceOpen dev=3 -> 0 handle=7\n"
                                                                      "500+1 1 DRV_DeviceOpen dev=4 -> 0 handle=8\n");
    const std::string other = Write("b.txt", "tovi-recording 2\nstarted 2026-12-09T10:00:00Z\ncontinues 5\n");
    // A call of another thread that started before the last line of a.txt but
    // ended after the file was rotated.
    const std::string later = Write("c.txt", std::string(kHeader2) + "continues 400\n"
                                                                      "400+200 2 DRV_DeviceOpen dev=5 -> 0 handle=9\n");
    const std::string again = Write("d.txt", std::string(kHeader2) + "2+1 1 DRV_DeviceOpen dev=3 -> 0 handle=7\n");
    recording::SetReader set;
    std::string error;
    EXPECT_FALSE(set.Open({first, other}, error));
    EXPECT_EQ(error, other + ": not of the same run as " + first +
                         " (started 2026-12-09T10:00:00Z, not 2026-12-08T10:00:00Z)");
    EXPECT_FALSE(set.Open({first, again}, error));
    EXPECT_EQ(error, again + ": starts at the same point of the run as " + first);
    ASSERT_TRUE(set.Open({later, first}, error)) << error;
    EXPECT_EQ(Calls(set), (std::vector<std::string>{"0:5 1+1 DRV_DeviceOpen", "0:6 500+1 DRV_DeviceOpen",
                                                    "1:6 400+200 DRV_DeviceOpen"}));
}

}  // namespace
