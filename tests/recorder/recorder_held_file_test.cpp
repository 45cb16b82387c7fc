// Windows: a recording that a viewer holds open (shared for reading and writing,
// not for deletion) cannot be renamed. The recorder keeps writing into it, says
// so once in the file, and moves it aside once the viewer lets go. The recorder
// here forwards to nothing: every call is still recorded, as not forwarded.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "device/vendor_api.h"
#include "platform/platform.h"
#include "tests/support/temp_files.h"

namespace {

namespace fs = std::filesystem;

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

TEST(RecorderHeldFile, ARecordingAViewerHoldsOpenKeepsTheCallsAndMovesAsideWhenReleased) {
    tovitest::TempDirectory dir;
    fs::copy_file(RECORDER_DEVICE_LIBRARY, dir.path() / "ADSAPI32.dll");
    fs::copy_file(RECORDER_SERIAL_LIBRARY, dir.path() / "ADSCOMM.dll");
    dir.Write("recorder.ini", "[recorder]\ndevice_library=missing\\ADSAPI32.dll\nserial_library=missing\\ADSCOMM.dll\n"
                              "file=r.txt\nmax_size_kb=1\nkeep=2\nflush_ms=0\n");
    tovi::platform::LibraryHandle recorder = tovi::platform::OpenLibrary(dir.Path("ADSAPI32.dll").c_str(), 0, nullptr);
    ASSERT_NE(recorder, nullptr);
    const auto count_devices = reinterpret_cast<vendor::DeviceGetNumOfListFn>(
        tovi::platform::LibrarySymbol(recorder, "DRV_DeviceGetNumOfList"));
    ASSERT_NE(count_devices, nullptr);
    std::int16_t count = 0;
    count_devices(&count);
    std::size_t made = 1;
    const std::string path = dir.Path("r.txt");

    HANDLE viewer = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(viewer, INVALID_HANDLE_VALUE);
    for (; made < 41; ++made) count_devices(&count);
    const std::string held = Read(path);
    EXPECT_FALSE(fs::exists(dir.Path("r.txt.1")));
    EXPECT_GT(held.size(), 2048u);
    EXPECT_EQ(Count(held, " DRV_DeviceGetNumOfList -> 32350 devices=0\n"), 41u);
    EXPECT_EQ(Count(held, "\n# cannot move " + path + " aside to " + path + ".1 ("), 1u) << held;

    CloseHandle(viewer);
    for (int i = 0; i < 40 && !fs::exists(dir.Path("r.txt.1")); ++i, ++made) count_devices(&count);
    ASSERT_TRUE(fs::exists(dir.Path("r.txt.1")));
    const std::string moved = Read(dir.Path("r.txt.1"));
    EXPECT_EQ(moved.substr(0, held.size()), held);
    const std::string current = Read(path);
    EXPECT_NE(current.find("\ncontinues "), std::string::npos) << current;
    // Every call once, the current file's carried one besides.
    const std::string line = " DRV_DeviceGetNumOfList -> 32350 devices=0\n";
    EXPECT_EQ(Count(moved, line) + Count(current, line), made + Count(current, "\ncarried "));
    tovi::platform::CloseLibrary(recorder);
}

}  // namespace
