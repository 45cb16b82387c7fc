// The recording format through its writer and reader: every byte of a text and
// real numbers not exact in binary come back as written; every limit of the
// format and of a call's room is taken exactly at, one under and one over.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "recording/call_shapes.h"
#include "recording/recording_format.h"

namespace {

using recording::Call;
using recording::Recording;

const char kHeader[] =
    "tovi-recording 1\n"
    "started 2026-12-08T10:00:00Z\n"
    "device-library \"a\"\n"
    "serial-library \"b\"\n";

// Reads header + lines; the error text, or "" with the calls in out.
std::string Read(const std::string& lines, Recording& out) {
    std::string error;
    return recording::ParseRecording(kHeader + lines, "r", out, error) ? "" : error;
}

// A call's line from its function on: the leading time and thread are the
// writer's own business.
std::string FromFunction(const std::string& line) { return line.substr(line.find(" DRV_") + 1); }

// One recorded call applied to a shape; "" or the reason it was refused.
std::string Apply(const recording::Shape& shape, const std::string& line) {
    Recording read;
    const std::string error = Read(line, read);
    if (!error.empty()) return error;
    std::string why;
    return shape.Apply(read.calls.at(0), why) ? "" : why;
}

TEST(RecordingFormatTest, EveryByteOfATextComesBackAndOnlyPrintableAsciiIsWritten) {
    // The escapes as written, each kind once, and the printable bounds kept as they are.
    EXPECT_EQ(recording::Quote(std::string("\x00\x01\x1F \x7E\x7F\x80\xFF\"\\\r\n\t", 13)),
              "\"\\x00\\x01\\x1F ~\\x7F\\x80\\xFF\\\"\\\\\\r\\n\\t\"");
    std::string every;
    for (int byte = 255; byte >= 0; --byte) every += static_cast<char>(byte);
    for (const std::string& data : {every, std::string(), std::string("\"\""), std::string("\\x41")}) {
        const auto shape = recording::shapes::COMWrite(8, data.data(), static_cast<std::uint32_t>(data.size()));
        std::string line;
        AppendCallLine(shape.call, line);
        ASSERT_EQ(line.back(), '\n');
        for (std::size_t i = 0; i + 1 < line.size(); ++i) {
            ASSERT_TRUE(line[i] >= 0x20 && line[i] <= 0x7E) << "byte " << i << " of " << line;
        }
        Recording read;
        ASSERT_EQ(Read(line, read), "") << line;
        ASSERT_EQ(read.calls.size(), 1u);
        const recording::Field* written = read.calls[0].Input("data");
        ASSERT_NE(written, nullptr);
        EXPECT_EQ(written->value, data) << line;
        EXPECT_EQ(read.calls[0].Input("length")->value, std::to_string(data.size()));
    }
    // Header paths: backslashes and quotes come back.
    recording::Header header;
    header.started = "2026-12-08T21:40:00Z";
    header.device_library = "C:\\vendor \"x\"\\ADSAPI32.dll";
    header.serial_library = std::string("\t\x01", 2);
    Recording read;
    std::string error;
    ASSERT_TRUE(recording::ParseRecording(recording::HeaderText(header), "h", read, error)) << error;
    EXPECT_EQ(read.header.started, header.started);
    EXPECT_EQ(read.header.device_library, header.device_library);
    EXPECT_EQ(read.header.serial_library, header.serial_library);
    EXPECT_EQ(recording::HeaderText(header),
              "tovi-recording 2\nstarted 2026-12-08T21:40:00Z\ndevice-library \"C:\\\\vendor \\\"x\\\"\\\\ADSAPI32.dll\"\n"
              "serial-library \"\\t\\x01\"\n");
}

TEST(RecordingFormatTest, RealsAreWrittenShortestAndReadBackToTheSameFloat) {
    const struct {
        float value;
        const char* text;
    } cases[] = {{0.1f, "0.1"},           {-2.3f, "-2.3"},        {1.1f, "1.1"},         {100.7f, "100.7"},
                 {1e-7f, "1e-07"},         {3.4028235e38f, "3.4028235e+38"}, {1e-45f, "1e-45"}, {-0.0f, "-0"},
                 {16777217.0f, "16777216"}, {0.3333333f, "0.3333333"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(recording::RealText(c.value), c.text);
        vendor::AOVoltageOutBlock block{3, 0, c.value};
        auto shape = recording::shapes::AOVoltageOut(7, &block);
        shape.call.inputs.insert(shape.call.inputs.begin() + 1, {"dev", "2"});
        std::string line;
        AppendCallLine(shape.call, line);
        EXPECT_EQ(FromFunction(line), std::string("DRV_AOVoltageOut handle=7 dev=2 channel=3 voltage=") + c.text + " -> 0\n");
        // Captured outputs and recorded answers take the same way.
        float voltage = c.value;
        vendor::AIVoltageInBlock in{0, 0, 0, 0, &voltage};
        auto reading = recording::shapes::AIVoltageIn(7, &in);
        reading.Capture(0);
        ASSERT_EQ(reading.call.outputs.size(), 1u);
        EXPECT_EQ(reading.call.outputs[0].value, c.text);
        voltage = 12345.0f;
        ASSERT_EQ(Apply(reading, "1 1 DRV_AIVoltageIn handle=7 channel=0 -> 0 voltage=" + std::string(c.text) + "\n"), "");
        EXPECT_EQ(std::memcmp(&voltage, &c.value, sizeof voltage), 0) << voltage;
    }
}

TEST(RecordingFormatTest, OnlyTheKnownVersionIsReadAndAnEntryNameTakesAtMost50Bytes) {
    Recording read;
    std::string error;
    for (const char* version : {"0", "3", "-1"}) {
        SCOPED_TRACE(version);
        EXPECT_FALSE(recording::ParseRecording(std::string("tovi-recording ") + version + "\n", "r", read, error));
        EXPECT_EQ(error, std::string("r:1: recording format version ") + version +
                             " is not known (this build reads versions 1 to 2)");
    }
    for (const int version : {1, 2}) {
        ASSERT_TRUE(recording::ParseRecording("tovi-recording " + std::to_string(version) + "\n", "r", read, error))
            << error;
        EXPECT_EQ(read.header.version, version);
    }
    EXPECT_FALSE(recording::ParseRecording("", "r", read, error));
    EXPECT_EQ(error, "r:1: the recording is empty");

    for (const std::size_t length : {0u, 49u, 50u, 51u}) {
        SCOPED_TRACE(length);
        const std::string name(length, 'n');
        const std::string line = "2 1 DRV_DeviceGetList max=1 -> 0 returned=1 entry=\"1 0 " + name + "\"\n";
        const std::string error = Read(line, read);
        if (length <= 50) {
            ASSERT_EQ(error, "");
            vendor::DeviceListEntry list[1];
            std::memset(list, 0x55, sizeof list);
            std::int16_t returned = 0;
            EXPECT_EQ(Apply(recording::shapes::DeviceGetList(list, 1, &returned), line), "");
            EXPECT_EQ(returned, 1);
            EXPECT_EQ(std::string(list[0].device_name, sizeof list[0].device_name), name + std::string(50 - length, '\0'));
        } else {
            EXPECT_EQ(error, "r:5: entry must be \"NUMBER SUBDEVICES NAME\" with a name of at most 50 bytes");
        }
    }
}

TEST(RecordingFormatTest, RecordedAnswersFillTheCallsRoomExactlyAndNotOneByteMore) {
    // COMRead into 4 bytes: 3 and 4 bytes fit, 5 do not; the count at most 4.
    for (const std::size_t length : {3u, 4u, 5u}) {
        SCOPED_TRACE(length);
        char buffer[6] = {'x', 'x', 'x', 'x', 'x', 'x'};
        std::uint32_t received = 99;
        const auto shape = recording::shapes::COMRead(8, buffer, 4, 100, 13, &received);
        const std::string data = std::string("!07\r!").substr(0, length);
        const std::string answer = "1 1 COMRead handle=8 size=4 timeout=100 terminator=13 -> 0 data=" +
                                   recording::Quote(data) + " received=" + std::to_string(length) + "\n";
        if (length <= 4) {
            EXPECT_EQ(Apply(shape, answer), "");
            EXPECT_EQ(std::string(buffer, 6), data + std::string(6 - length, 'x'));
            EXPECT_EQ(received, length);
        } else {
            EXPECT_EQ(Apply(shape, answer), "data holds 5 bytes, the call read at most 4");
            EXPECT_EQ(std::string(buffer, 6), "xxxxxx");
        }
    }
    // A device list of room 2: two entries and returned=2 fit, three do not.
    vendor::DeviceListEntry list[3];
    std::int16_t returned = 0;
    const auto two = recording::shapes::DeviceGetList(list, 2, &returned);
    EXPECT_EQ(Apply(two, "2 1 DRV_DeviceGetList max=2 -> 0 returned=2 entry=\"1 0 a\" entry=\"2 3 b\"\n"), "");
    EXPECT_EQ(returned, 2);
    EXPECT_EQ(list[1].device_number, 2u);
    EXPECT_EQ(list[1].subdevice_count, 3);
    EXPECT_EQ(Apply(two, "2 1 DRV_DeviceGetList max=2 -> 0 returned=3\n"),
              "returned=3 is more than the call gave room for (2)");
    EXPECT_EQ(Apply(two, "2 1 DRV_DeviceGetList max=2 -> 0 entry=\"1 0 a\" entry=\"2 0 b\" entry=\"3 0 c\"\n"),
              "3 entries recorded, the call's table holds 2");
    // Features of 4 bytes: 4 fit, 5 do not.
    std::uint8_t features[5] = {};
    vendor::FeaturesRequest request{features, 4};
    const auto asked = recording::shapes::DeviceGetFeatures(5, &request);
    EXPECT_EQ(Apply(asked, "1 1 DRV_DeviceGetFeatures handle=5 size=4 -> 0 features=0aFF1000\n"), "");
    EXPECT_EQ(std::vector<int>(features, features + 5), (std::vector<int>{0x0A, 0xFF, 0x10, 0x00, 0x00}));
    EXPECT_EQ(Apply(asked, "1 1 DRV_DeviceGetFeatures handle=5 size=4 -> 0 features=0aFF100001\n"),
              "features holds 5 bytes, the call gave room for 4");
    // An error text fills at most 255 bytes and its terminator.
    for (const std::size_t length : {254u, 255u, 256u}) {
        SCOPED_TRACE(length);
        char text[vendor::kErrorMessageSize + 1];
        std::memset(text, 'x', sizeof text);
        EXPECT_EQ(Apply(recording::shapes::GetErrorMessage(7, text),
                        "1 1 DRV_GetErrorMessage code=7 -> 0 text=\"" + std::string(length, 'e') + "\"\n"),
                  "");
        EXPECT_EQ(std::strlen(text), std::min<std::size_t>(length, 255));
        EXPECT_EQ(text[256], 'x');
    }
}

TEST(RecordingFormatTest, CapturedOutputsKeepTheirWholeRangeAndCallKeysNameWhatACallConcerns) {
    std::uint32_t count = 4294967295u;
    std::uint16_t overflow = 65535;
    vendor::CounterEventReadBlock counter{1, 0, &overflow, &count};
    auto read = recording::shapes::CounterEventRead(5, &counter);
    read.call.inputs.insert(read.call.inputs.begin() + 1, {"dev", "10"});
    read.Capture(-3);
    std::string line;
    AppendCallLine(read.call, line);
    EXPECT_EQ(FromFunction(line), "DRV_CounterEventRead handle=5 dev=10 counter=1 -> -3 count=4294967295 overflow=65535\n");
    EXPECT_EQ(recording::CallKey(read.call), "DRV_CounterEventRead dev=10 counter=1");

    std::int16_t devices = -32768;
    auto list = recording::shapes::DeviceGetNumOfList(&devices);
    list.Capture(0);
    EXPECT_EQ(list.call.outputs.at(0).value, "-32768");
    EXPECT_EQ(recording::CallKey(list.call), "DRV_DeviceGetNumOfList");

    float voltage = 0;
    vendor::AIVoltageInBlock ai{2, 1, 0, 0, &voltage};
    auto analogue = recording::shapes::AIVoltageIn(7, &ai);
    recording::HandleBook book;
    Call open;
    open.function = "DRV_DeviceOpen";
    open.inputs = {{"dev", "4"}};
    open.outputs = {{"handle", "7"}};
    book.Note(open);
    analogue.Resolve(book);
    EXPECT_EQ(recording::FieldsText(analogue.call.inputs), "handle=7 dev=4 channel=2 gain=1 trigger=0");
    EXPECT_EQ(recording::CallKey(analogue.call), "DRV_AIVoltageIn dev=4 channel=2");
    std::uint16_t value = 0;
    vendor::DioReadPortByteBlock port{1, 0, &value};
    auto serial_free = recording::shapes::DioReadPortByte(9, &port);
    serial_free.Resolve(book);
    EXPECT_EQ(recording::CallKey(serial_free.call), "DRV_DioReadPortByte dev=-1 port=1");
    EXPECT_EQ(recording::CallKey(recording::shapes::GetErrorMessage(1001, nullptr).call), "DRV_GetErrorMessage code=1001");
    std::int32_t index = 2;
    EXPECT_EQ(recording::CallKey(recording::shapes::COMGetConfig(index, nullptr).call), "COMGetConfig index=2");
}

}  // namespace
