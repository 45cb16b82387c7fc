// Device-set files: the shipped plant, rejected files with their line, device
// ranges, and the time-varying sources read through the simulated calls.
#include <cmath>
#include <fstream>
#include <sstream>
#include <vector>

#include "tests/device_sim/sim_fixture.h"

namespace {

using simtest::SimTest;

class DeviceSetTest : public SimTest {
protected:
    static float ReadAnalog(Handle handle, std::uint16_t channel) {
        float voltage = -999;
        vendor::AIVoltageInBlock block{channel, 0, 0, 0, &voltage};
        EXPECT_EQ(DRV_AIVoltageIn(handle, &block), 0);
        return voltage;
    }
};

// The [modules] lines of the example parameter file: type, device and sub-device.
std::vector<std::vector<std::string>> PlantModules() {
    std::vector<std::vector<std::string>> modules;
    std::ifstream in(DEVSIM_PLANT_PARAMETERS);
    EXPECT_TRUE(in) << DEVSIM_PLANT_PARAMETERS;
    auto trim = [](std::string text) {
        const auto first = text.find_first_not_of(" \t\r");
        const auto last = text.find_last_not_of(" \t\r");
        return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
    };
    bool in_modules = false;
    for (std::string line; std::getline(in, line);) {
        line = trim(line);
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            in_modules = line == "[modules]";
            continue;
        }
        if (!in_modules || line.find('=') == std::string::npos) continue;
        std::vector<std::string> tokens;
        std::stringstream value(line.substr(line.find('=') + 1));
        for (std::string token; std::getline(value, token, ',');) tokens.push_back(trim(token));
        tokens.resize(3);
        modules.push_back(tokens);
    }
    return modules;
}

// The last entry whose name contains the token, as the driver binds; -1 for none.
int LastMatch(const vendor::DeviceListEntry* list, int count, const std::string& token) {
    int match = -1;
    for (int i = 0; i < count; ++i)
        if (!token.empty() && std::string(list[i].device_name).find(token) != std::string::npos) match = i;
    return match;
}

TEST_F(DeviceSetTest, ShippedPlantHasADeviceForEveryModuleOfTheExampleFile) {
    ASSERT_EQ(devsim::LoadFile(DEVSIM_PLANT_FILE), "");
    const auto modules = PlantModules();
    ASSERT_EQ(modules.size(), 8u);
    std::int16_t count = 0;
    vendor::DeviceListEntry list[100], sublist[100];
    std::int16_t returned = 0;
    ASSERT_EQ(DRV_DeviceGetNumOfList(&count), 0);
    ASSERT_EQ(DRV_DeviceGetList(list, count, &returned), 0);
    for (const auto& module : modules) {
        const int device = LastMatch(list, count, module[1]);
        ASSERT_GE(device, 0) << module[1];
        std::uint32_t number = list[device].device_number;
        if (list[device].subdevice_count > 0) {
            ASSERT_EQ(DRV_DeviceGetSubList(number, sublist, list[device].subdevice_count, &returned), 0);
            const int sub = LastMatch(sublist, list[device].subdevice_count, module[2]);
            ASSERT_GE(sub, 0) << module[2];
            number = sublist[sub].device_number;
        }
        Handle handle = Open(number);
        EXPECT_EQ(DRV_DeviceClose(&handle), 0);
        for (std::int32_t i = 0; i < devsim_device_count(); ++i) {
            devsim_device_info info;
            ASSERT_EQ(devsim_device_info_at(i, &info), 0);
            if (info.number == number) {
                EXPECT_EQ(info.has_display != 0, module[0].rfind("disp", 0) == 0) << module[0];
            }
        }
    }
}

TEST_F(DeviceSetTest, RejectedFilesNameTheLineAndKeepThePreviousSet) {
    Load("device 7 \"kept\"\n");
    const std::string long_name(50, 'n');
    const struct {
        std::string text;
        std::string message;
    } cases[] = {
        {"ai 0 = 1", "text:1: 'ai' before the first device line"},
        {"device 1 \"a\"\ndevice 1 \"b\"", "text:2: device number 1 is used twice"},
        {"device 1 \"" + long_name + "\"", "text:1: device name '" + long_name + "' is longer than 49 characters"},
        {"device 1 \"x\"\n  ai 0 = sine(1, 2)", "text:2: expected sine(mean, amplitude, period[, phase in degrees])"},
        {"device 1 \"x\"\n  ai 0 = ramp(0, 1, -5s)", "text:2: argument 3 of ramp(from, to, period): '-5s' is not a positive duration"},
        {"device 1 \"x\"\n\n  bogus 3", "text:3: unknown keyword 'bogus'"},
        {"subdevice 2 \"s\"", "text:1: subdevice before the first device line"},
        {"device 1-3 \"r{n}\"\nsubdevice 9 \"s\"", "text:2: a subdevice cannot follow a device range"},
        {"device 1 \"x\"\nsubdevice 2 \"s\"\n  serial 3", "text:3: a sub-device uses its device's serial line; 'serial' belongs to the device"},
        {"device 1 \"x\"\n  ao 0 = 20 min=-10 max=10", "text:2: the initial value lies outside min..max"},
        {"device 1 \"x\"\n  outport 0 = 256", "text:2: the initial value of an output port is a byte (0 to 255)"},
        {"device 1 \"x\"\n  display checksum=on", "text:2: expected: display address=N [checksum=auto|on|off]"},
        {"device 1 \"x\"\n  inport 70000 = 1", "text:2: expected a channel number (0 to 65535) or range after 'inport'"},
        {"device 1 \"x\"\n  di 8 9", "text:2: expected: di COUNT (0 to 65535)"},
        {"device 1 \"unterminated", "text:1: unterminated quoted text"},
        {"clock step=fast", "text:1: step must be a duration such as 10ms"},
        {"fault DRV_Nothing status=1", "text:1: unknown function 'DRV_Nothing'"},
        {"fault DRV_DeviceOpen every=0 status=5", "text:1: every must be a number from 1"},
        {"fault DRV_DeviceOpen once", "text:1: a fault needs status=N"},
        {"device 1 \"x\"\n  ai 0 = ramp(0, 1, 1s", "text:2: '(' without ')'"},
    };
    for (const auto& c : cases) {
        char error[300] = "unchanged";
        EXPECT_EQ(devsim_load_text(c.text.c_str(), error, sizeof error), -1) << c.text;
        EXPECT_EQ(std::string(error), c.message) << c.text;
    }
    std::uint32_t number = 0;
    EXPECT_EQ(devsim_find_device("kept", &number), 0);
    EXPECT_EQ(number, 7u);

    char error[16];
    EXPECT_EQ(devsim_load_file("/nonexistent/plant.devices", error, sizeof error), -1);
    EXPECT_EQ(std::string(error), "/nonexistent/pl");  // cut to the buffer
}

TEST_F(DeviceSetTest, DeviceRangesExpressLongLists) {
    Load("device 1 \"first\"\n"
         "device 1000-1149 \"filler {n} #{i}\"\n"
         "  di 8\n"
         "  inport 0=0x33\n");  // the compact form
    std::int16_t count = 0;
    ASSERT_EQ(DRV_DeviceGetNumOfList(&count), 0);
    ASSERT_EQ(count, 151);
    std::uint32_t number = 0;
    ASSERT_EQ(devsim_find_device("filler 1149 #149", &number), 0);
    EXPECT_EQ(number, 1149u);

    // Every device of the range carries the statements after the range line.
    const Handle handle = Open(1100);
    std::uint16_t value = 0;
    vendor::DioReadPortByteBlock block{0, 0, &value};
    EXPECT_EQ(DRV_DioReadPortByte(handle, &block), 0);
    EXPECT_EQ(value, 0x33);
}

TEST_F(DeviceSetTest, SourcesFollowTheSimulatedClock) {
    Load("device 1 \"src\"\n"
         "  ai 0 = ramp(0, 10, 10s)\n"
         "  ai 1 = sine(5, 2, 4s)\n"
         "  ai 2 = count(0, 2.5)\n"
         "  ai 3 = square(1, 9, 2s, 0.25)\n"
         "  ai 4 = sine(0, 1, 4s, 90)\n"
         "  inport 0 = count(250, 1, 256)\n"
         "  inport 1 = -1\n");
    const Handle handle = Open(1);
    EXPECT_EQ(ReadAnalog(handle, 0), 0.0f);  // frozen at 0 without a step
    EXPECT_EQ(ReadAnalog(handle, 3), 9.0f);
    EXPECT_NEAR(ReadAnalog(handle, 4), 1.0f, 1e-6);

    devsim_advance_clock(2'500'000);
    EXPECT_NEAR(ReadAnalog(handle, 0), 2.5f, 1e-5);
    EXPECT_EQ(ReadAnalog(handle, 2), 6.0f);
    EXPECT_EQ(ReadAnalog(handle, 3), 1.0f);

    devsim_advance_clock(10'500'000);  // t = 13 s
    EXPECT_NEAR(ReadAnalog(handle, 0), 3.0f, 1e-5);
    EXPECT_NEAR(ReadAnalog(handle, 1), 7.0f, 1e-5);
    std::uint16_t port = 0;
    vendor::DioReadPortByteBlock block{0, 0, &port};
    ASSERT_EQ(DRV_DioReadPortByte(handle, &block), 0);
    EXPECT_EQ(port, 7);  // (250 + 13) wrapped at 256
    block.port = 1;
    ASSERT_EQ(DRV_DioReadPortByte(handle, &block), 0);
    EXPECT_EQ(port, 0xFFFF);  // -1 wrapped to 16 bits

    // A step moves the clock on by itself with every call.
    devsim_set_clock_step(1'000'000);
    const std::int64_t before = devsim_clock();
    ReadAnalog(handle, 0);
    ReadAnalog(handle, 0);
    EXPECT_EQ(devsim_clock() - before, 2'000'000);

    // Reset goes back to the loaded state: clock 0, the set's own step (none).
    devsim_reset();
    EXPECT_EQ(devsim_clock(), 0);
    EXPECT_EQ(devsim_open_device_handles(-1), 0);
}

TEST_F(DeviceSetTest, InputsChangeThroughTheControlInterface) {
    Load("device 4 \"dev\"\n  ai 0 = 1\n");
    const Handle handle = Open(4);
    char error[200];
    EXPECT_EQ(devsim_set_input(4, "ai", 0, "ramp(0, 4, 4s)", error, sizeof error), 0);
    devsim_advance_clock(1'000'000);
    EXPECT_NEAR(ReadAnalog(handle, 0), 1.0f, 1e-6);
    EXPECT_EQ(devsim_set_input_value(4, "ai", 5, 7.25), 0);  // a new channel
    EXPECT_EQ(ReadAnalog(handle, 5), 7.25f);

    EXPECT_EQ(devsim_set_input(4, "ai", 0, "wobble(1)", error, sizeof error), -1);
    EXPECT_EQ(std::string(error), "unknown source 'wobble' (ramp, sine, count or square)");
    EXPECT_EQ(devsim_set_input_value(4, "voltage", 0, 1.0), -1);
    EXPECT_EQ(devsim_set_input_value(99, "ai", 0, 1.0), -1);
    EXPECT_EQ(devsim_set_input_value(4, "ai", 0, NAN), -1);
}

}  // namespace
