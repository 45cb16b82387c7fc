// Binding modules to the devices the device manager lists: which device is chosen,
// the bus address, the port caches, and what a failed binding leaves for Done.
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/device/device_fixture.h"

namespace {

using devicetest::DeviceTest;
using devicetest::kNotInstalled;

const char kSettings[] = "[tovi]\n";

TEST_F(DeviceTest, OnlyTheFirstHundredListedDevicesAreSearchedAndTheLastMatchWins) {
    LoadDevices(
        "device 1000-1004 \"filler {n}\"\n"
        "device 1005 \"ai8 first Address=9\"\n"    // position 5
        "device 1006-1098 \"filler {n}\"\n"
        "device 2000 \"ai8 last Address=1\"\n"     // position 99
        "device 2001 \"ai8 beyond Address=2\"\n"   // position 100: not listed
        "device 3000-3049 \"filler {n}\"\n");
    ASSERT_EQ(Start(std::string(kSettings) + "[modules]\nm=ai8, ai8\n[m]\n"), 1) << message();
    const tovi::Module* module = ModuleNamed("m");
    EXPECT_EQ(module->device_index, 99);
    EXPECT_EQ(module->subdevice_index, -1);
    const auto lists = Calls("DRV_DeviceGetList");
    ASSERT_EQ(lists.size(), 1u);
    EXPECT_EQ(lists[0].Argument("max"), "100");
    const auto opens = Calls("DRV_DeviceOpen");
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0].Argument("dev"), "2000");
    // The serial configuration is asked for by list position, not device number.
    EXPECT_EQ(Calls("COMGetConfig").at(0).Argument("index"), "99");

    EXPECT_EQ(Start(std::string(kSettings) + "[modules]\nm=ai8, beyond\n[m]\n"), 0);
    EXPECT_EQ(message(), "beyond" + kNotInstalled);
}

TEST_F(DeviceTest, ModulesThatFindNoDeviceAreNotBound) {
    LoadDevices("");
    EXPECT_EQ(Start(std::string(kSettings) + "[modules]\nm=ai8, ai8 Address=1\n[m]\n"), 0);
    EXPECT_EQ(message(), "ai8 Address=1" + kNotInstalled);

    // An empty token matches no name at all, rather than every name.
    LoadDevices("device 1 \"ai8 Address=1\"\ndevice 20 \"bus\"\nsubdevice 21 \"disp6 Address=7\"\n");
    EXPECT_EQ(Start(std::string(kSettings) + "[modules]\nm=ai8, , \n[m]\n"), 0);
    EXPECT_EQ(message(), kNotInstalled);
    EXPECT_EQ(Start(std::string(kSettings) + "[modules]\nm=disp6, bus\n[m]\n"), 0);
    EXPECT_EQ(message(), kNotInstalled);
    EXPECT_EQ(Start(std::string(kSettings) + "[modules]\nm=disp6, bus, disp4\n[m]\n"), 0);
    EXPECT_EQ(message(), "disp4" + kNotInstalled);
    EXPECT_EQ(CallCount("DRV_DeviceOpen"), 0u);
}

TEST_F(DeviceTest, SubDevicesAreSearchedOnlyWhenTheDeviceHasThem) {
    LoadDevices(
        "device 1 \"ai8 solo Address=3\"\n"
        "device 20 \"panel bus\"\n"
        "  serial 3\n"
        "subdevice 21 \"disp6 panel Address=7\"\n"
        "subdevice 22 \"disp4 panel\"\n");
    ASSERT_EQ(Start(std::string(kSettings) +
                    "[modules]\n"
                    "solo=ai8, solo Address=3, whatever it says\n"
                    "first=disp6, panel bus, disp6 panel Address=7\n"
                    "last=disp4, panel bus, panel\n"
                    "[solo]\n[first]\n[last]\n"),
              1)
        << message();
    const tovi::Module* solo = ModuleNamed("solo");
    EXPECT_EQ(solo->device_index, 0);
    EXPECT_EQ(solo->subdevice_index, -1);
    EXPECT_STREQ(solo->address, "03");
    const tovi::Module* first = ModuleNamed("first");
    EXPECT_EQ(first->device_index, 1);
    EXPECT_EQ(first->subdevice_index, 0);
    EXPECT_STREQ(first->address, "07");  // found in the sub-device token only
    const tovi::Module* last = ModuleNamed("last");
    EXPECT_EQ(last->subdevice_index, 1);
    EXPECT_STREQ(last->address, "");

    const auto sublists = Calls("DRV_DeviceGetSubList");
    ASSERT_EQ(sublists.size(), 2u);  // not for the device without sub-devices
    for (const auto& call : sublists) {
        EXPECT_EQ(call.Argument("dev"), "20");
        EXPECT_EQ(call.Argument("max"), "2");
    }
    std::vector<std::string> opened;
    for (const auto& call : Calls("DRV_DeviceOpen")) opened.push_back(call.Argument("dev"));
    EXPECT_EQ(opened, (std::vector<std::string>{"1", "21", "22"}));
    // Each module opens a serial handle of its own, sub-devices on their device's line.
    EXPECT_EQ(devsim_open_serial_handles(3), 2);
    std::vector<std::string> positions;
    for (const auto& call : Calls("COMGetConfig")) positions.push_back(call.Argument("index"));
    EXPECT_EQ(positions, (std::vector<std::string>{"0", "1", "1"}));
}

// The sub-device table holds 100 entries: a device claiming more is searched in its
// first 100, and the request never asks for more than the table holds.
TEST_F(DeviceTest, OnlyTheFirstHundredSubDevicesAreSearched) {
    LoadDevices("device 20 \"crowded bus\"\nsubdevice 100-219 \"slot {i} end\"\n");
    ASSERT_EQ(Start(std::string(kSettings) + "[modules]\nm=ai8, crowded bus, slot 99 end\n[m]\n"), 1) << message();
    EXPECT_EQ(ModuleNamed("m")->subdevice_index, 99);
    EXPECT_EQ(Calls("DRV_DeviceGetSubList").at(0).Argument("max"), "100");
    EXPECT_EQ(Start(std::string(kSettings) + "[modules]\nm=ai8, crowded bus, slot 100 end\n[m]\n"), 0);
    EXPECT_EQ(message(), "slot 100 end" + kNotInstalled);
}

TEST_F(DeviceTest, AddressIsReadFromTheTokenInHexOrDecimal) {
    LoadDevices(
        "device 1 \"one Address=3\"\n"
        "device 2 \"two Address=16 Dec\"\n"
        "device 3 \"three ADDRESS = 7\"\n"
        "device 4 \"four address=1f\"\n"
        "device 5 \"five plain\"\n"
        "device 6 \"six Address=123 dec\"\n");
    ASSERT_EQ(Start(std::string(kSettings) +
                    "[modules]\n"
                    "a=ai8, one Address=3\nb=ai8, two Address=16 Dec\nc=ai8, three ADDRESS = 7\n"
                    "d=ai8, four address=1f\ne=ai8, five plain\nf=ai8, six Address=123 dec\n"
                    "[a]\n[b]\n[c]\n[d]\n[e]\n[f]\n"),
              1)
        << message();
    EXPECT_STREQ(ModuleNamed("a")->address, "03");
    EXPECT_STREQ(ModuleNamed("b")->address, "10");
    EXPECT_STREQ(ModuleNamed("c")->address, "07");
    EXPECT_STREQ(ModuleNamed("d")->address, "1F");
    EXPECT_STREQ(ModuleNamed("e")->address, "");
    EXPECT_STREQ(ModuleNamed("f")->address, "7B");
}

TEST_F(DeviceTest, PortCachesHoldOneEntryPerEightDigitalChannels) {
    const int counts[] = {0, 1, 8, 9, 16, 17};
    std::string devices;
    std::string modules = "[modules]\n";
    std::string sections;
    for (int i = 0; i < 6; ++i) {
        const std::string n = std::to_string(counts[i]);
        devices += "device " + std::to_string(i + 1) + " \"count " + n + " end\"\n  di " + n + "\n  do " + n + "\n";
        modules += "m" + n + "=dio16, count " + n + " end\n";
        sections += "[m" + n + "]\n";
    }
    LoadDevices(devices);
    ASSERT_EQ(Start(kSettings + modules + sections), 1) << message();
    const std::uint32_t expected_ports[] = {0, 1, 1, 2, 2, 3};
    for (int i = 0; i < 6; ++i) {
        SCOPED_TRACE(counts[i]);
        const tovi::Module* module = ModuleNamed("m" + std::to_string(counts[i]));
        EXPECT_EQ(module->input_port_count, expected_ports[i]);
        EXPECT_EQ(module->output_port_count, expected_ports[i]);
        EXPECT_EQ(module->input_cache == nullptr, expected_ports[i] == 0);
        EXPECT_EQ(module->output_cache == nullptr, expected_ports[i] == 0);
        for (std::uint32_t p = 0; p < expected_ports[i]; ++p) {
            EXPECT_EQ(module->input_cache[p].data | module->input_cache[p].mask | module->input_cache[p].status, 0u);
            EXPECT_EQ(module->output_cache[p].data | module->output_cache[p].mask | module->output_cache[p].status, 0u);
        }
    }
}

TEST_F(DeviceTest, FailedFeaturesLeaveTheModuleBoundWithoutCaches) {
    LoadDevices("device 3 \"di16 Address=3\"\n  di 16\n  inport 0 = 0x81\n");
    InjectFault("DRV_DeviceGetFeatures status=150 text=\"No features\"");
    ASSERT_EQ(Start(std::string(kSettings) + "[modules]\nm=di16, di16 Address=3\n[m]\ndi_bit 0 0=1\ndi_bit 0 7=2\n"),
              1)
        << message();
    const tovi::Module* module = ModuleNamed("m");
    EXPECT_EQ(module->input_cache, nullptr);
    EXPECT_EQ(module->output_cache, nullptr);
    EXPECT_EQ(module->input_port_count, 0u);
    EXPECT_NE(module->serial_handle, tovi::kClosedHandle);
    // Without a cache every digital channel reads the device itself.
    ReadBatch({1, 2});
    EXPECT_EQ(CallCount("DRV_DioReadPortByte"), 2u);
    EXPECT_TRUE(BooleanValue(1));
    EXPECT_TRUE(BooleanValue(2));
}

// Each vendor call of the binding fails in turn: Init fails with the vendor's text
// as it stands, and Done closes exactly the handles that were opened, no more.
TEST_F(DeviceTest, EachFailingBindingCallIsReportedAndDoneClosesWhatWasOpened) {
    const char kDevices[] =
        "device 1 \"ai8 Address=1\"\n"
        "  serial 1\n"
        "device 20 \"panel bus\"\n"
        "  serial 3\n"
        "subdevice 21 \"disp6 Address=7\"\n"
        "  display address=7\n";
    const std::string parameters =
        std::string(kSettings) + "[modules]\na=ai8, ai8 Address=1\nb=disp6, panel bus, disp6 Address=7\n[a]\n[b]\n";
    struct Case {
        const char* fault;  // empty: none
        int device_handles;
        int serial_handles;
    };
    const Case cases[] = {
        {"", 2, 2},
        {"DRV_DeviceGetNumOfList", 0, 0},
        {"DRV_DeviceGetList", 0, 0},
        {"DRV_DeviceOpen", 0, 0},
        {"COMGetConfig", 1, 0},
        {"COMOpen", 1, 0},
        {"COMSetConfig", 1, 1},
        {"DRV_DeviceGetSubList", 1, 1},        // the second module's call
        {"DRV_DeviceOpen device=21", 1, 1},    // the second module's open
        {"COMOpen channel=3", 2, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        LoadDevices(kDevices);
        const std::string fault = c.fault;
        if (!fault.empty()) InjectFault(fault + " status=150 text=\"Fault in the vendor call\"");
        const bool bound = Start(parameters) == 1;
        EXPECT_EQ(bound, fault.empty());
        if (!bound) {
            EXPECT_EQ(message(), "Fault in the vendor call");
        }
        EXPECT_EQ(devsim_open_device_handles(-1), c.device_handles);
        EXPECT_EQ(devsim_open_serial_handles(-1), c.serial_handles);
        Stop();
        EXPECT_EQ(devsim_open_device_handles(-1), 0);
        EXPECT_EQ(devsim_open_serial_handles(-1), 0);
        // One close per open, of that very handle, and nothing else closed.
        const std::pair<const char*, const char*> pairs[] = {{"DRV_DeviceOpen", "DRV_DeviceClose"},
                                                            {"COMOpen", "COMClose"}};
        for (const auto& [open, close] : pairs) {
            std::multiset<std::string> opened, closed;
            for (const auto& call : Calls(open)) {
                if (call.status == 0) opened.insert(call.Result("handle"));
            }
            for (const auto& call : Calls(close)) {
                EXPECT_EQ(call.status, 0) << close;
                closed.insert(call.Argument("handle"));
            }
            EXPECT_EQ(opened, closed) << close;
        }
    }
}

// Two instances starting at the same time on two host threads bind their own
// modules: each asks for the sub-devices of another bus, so the device manager's
// answers differ, and lists shared between bindings would mix them up.
TEST_F(DeviceTest, InstancesStartedOnTwoThreadsBindIndependently) {
    std::string devices = "device 1 \"left bus\"\n";
    for (int i = 1; i <= 4; ++i) {
        devices += "subdevice " + std::to_string(10 + i) + " \"slot A" + std::to_string(i) + " end\"\n";
    }
    devices += "device 2 \"right bus\"\n";
    for (int i = 1; i <= 7; ++i) {
        devices += "subdevice " + std::to_string(20 + i) + " \"slot B" + std::to_string(i) + " end\"\n";
    }
    LoadDevices(devices);
    const std::string plants[2] = {
        files_.Write("left.ini", "[tovi]\n[modules]\na=ai8, left bus, slot A4 end\nb=ai8, left bus, slot A2 end\n"
                                 "c=ai8, left bus, slot A1 end\n[a]\n[b]\n[c]\n"),
        files_.Write("right.ini", "[tovi]\n[modules]\na=ai8, right bus, slot B7 end\nb=ai8, right bus, slot B5 end\n"
                                  "c=ai8, right bus, slot B2 end\n[a]\n[b]\n[c]\n")};
    const std::int32_t expected_devices[2] = {0, 1};
    const std::int32_t expected_subdevices[2][3] = {{3, 1, 0}, {6, 4, 1}};
    for (int round = 0; round < 10; ++round) {
        SCOPED_TRACE(round);
        DriverInstance* drivers[2] = {MakeDriver(), MakeDriver()};
        std::uint8_t results[2] = {0, 0};
        char messages[2][256] = {};
        std::mutex mutex;
        std::condition_variable go;
        bool started = false;
        std::vector<std::thread> threads;
        for (int k = 0; k < 2; ++k) {
            threads.emplace_back([&, k] {
                {
                    std::unique_lock<std::mutex> lock(mutex);
                    go.wait(lock, [&] { return started; });
                }
                results[k] = Init(drivers[k], static_cast<std::uint32_t>(plants[k].size()), plants[k].c_str(), 255,
                                  messages[k], 0, 0, &completions_, &devicetest::Completions::Callback);
            });
        }
        {
            std::lock_guard<std::mutex> lock(mutex);
            started = true;
        }
        go.notify_all();
        for (auto& thread : threads) thread.join();
        for (int k = 0; k < 2; ++k) {
            EXPECT_EQ(results[k], 1) << messages[k];
            int i = 0;
            tovi::Module* module = nullptr;
            for (bool more = drivers[k]->modules.First(&module); more; more = drivers[k]->modules.Next(&module)) {
                EXPECT_EQ(module->device_index, expected_devices[k]);
                EXPECT_EQ(module->subdevice_index, expected_subdevices[k][i++]);
            }
            EXPECT_EQ(i, 3);
            Done(drivers[k]);
            DisposeDriver(drivers[k]);
        }
        EXPECT_EQ(devsim_open_device_handles(-1), 0);
    }
}

}  // namespace
