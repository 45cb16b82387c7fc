// The built driver library exports every entry point under its plain name.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "driver/tovi.h"
#include "platform/platform.h"
#include "tests/support/temp_files.h"

namespace {

TEST(ExportedNames, EveryEntryPointResolvesByName) {
    char error[256] = {};
    tovi::platform::LibraryHandle library = tovi::platform::OpenLibrary(TOVI_DRIVER_LIBRARY, 255, error);
    ASSERT_NE(library, nullptr) << error;
    const char* names[] = {
        "MakeDriver",      "Init",          "Done",           "DisposeDriver",      "Version",
        "tovi::Init_",     "tovi_::Init_",  "InputRequest",   "InputRequestCompleted",
        "InputFinalized",  "GetInput",      "OutputRequest",  "OutputRequestCompleted",
        "OutputFinalized", "GetDriverInfo", "GetDriverName",  "BufferInfo",         "SetBufferAddr",
        "DriverProc",      "QueryProc",     "FileOpen",       "FileSave",           "FileSaveAs",
        "GetItemNumber",   "GetDialogBoxItem", "DialogDataChanged", "SetPage",      "DataModified",
        "UserProc",
    };
    for (const char* name : names) EXPECT_NE(tovi::platform::LibrarySymbol(library, name), nullptr) << name;
    // Internal names stay inside the library.
    EXPECT_EQ(tovi::platform::LibrarySymbol(library, "ToviUnitInit"), nullptr);
    auto version = reinterpret_cast<std::int32_t (*)()>(tovi::platform::LibrarySymbol(library, "Version"));
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version(), 0x30000);
    tovi::platform::CloseLibrary(library);
}

// Init of a copy of the driver library: its message, or "ok".
std::string InitOfCopy(const std::filesystem::path& copy, const std::string& plant) {
    std::filesystem::create_directories(copy.parent_path());
    std::filesystem::copy_file(TOVI_DRIVER_LIBRARY, copy, std::filesystem::copy_options::overwrite_existing);
    // The host's driver API library goes beside it, where the driver looks for it.
    const std::filesystem::path host_api = std::filesystem::path(TOVI_DRIVER_LIBRARY).parent_path() / "libqs_dapi.so";
    std::filesystem::copy_file(host_api, copy.parent_path() / host_api.filename(),
                               std::filesystem::copy_options::overwrite_existing);
    char error[256] = {};
    tovi::platform::LibraryHandle library = tovi::platform::OpenLibrary(copy.string().c_str(), 255, error);
    if (library == nullptr) return std::string("cannot load the copy: ") + error;
    const auto make = reinterpret_cast<tovi::exports::MakeDriverFn>(tovi::platform::LibrarySymbol(library, "MakeDriver"));
    const auto init = reinterpret_cast<tovi::exports::InitFn>(tovi::platform::LibrarySymbol(library, "Init"));
    const auto done = reinterpret_cast<tovi::exports::DoneFn>(tovi::platform::LibrarySymbol(library, "Done"));
    const auto dispose =
        reinterpret_cast<tovi::exports::DisposeDriverFn>(tovi::platform::LibrarySymbol(library, "DisposeDriver"));
    DriverInstance* driver = make();
    char message[256] = {};
    const bool started = init(driver, static_cast<std::uint32_t>(plant.size()), plant.c_str(), 255, message, 0, 0,
                              nullptr, nullptr) != 0;
    done(driver);
    dispose(driver);
    tovi::platform::CloseLibrary(library);
    return started ? "ok" : message;
}

// The module-type database is read beside the driver's file; the current directory
// stands in only for a driver loaded under another file name, never for a driver
// whose own path does not fit.
TEST(DriverFile, TheModuleTypeDatabaseIsReadBesideTheDriverOrNowhere) {
#if defined(_WIN32)
    GTEST_SKIP() << "a library cannot be loaded from a path longer than MAX_PATH";
#endif
    tovitest::TempDirectory files;
    // The test runs in the build's output directory, beside the shipped tovi.ini.
    ASSERT_TRUE(std::filesystem::exists("tovi.ini"));
    const std::string plant = files.Write("plant.ini", "[tovi]\n[modules]\nm=ai8, none\n[m]\nai 0=1\n");
    const std::string name = std::filesystem::path(TOVI_DRIVER_LIBRARY).filename().string();

    // Under another name it reads the current directory's, and stops only at binding.
    EXPECT_EQ(InitOfCopy(files.path() / "renamed" / ("x" + name), plant),
              "none : Za\xF8\xEDzen\xED nen\xED nainstalov\xE1no");
    std::filesystem::path deep = files.path();
    while (deep.string().size() < 300) deep /= std::string(60, 'p');
    EXPECT_EQ(InitOfCopy(deep / name, plant), "Nelze otev\xF8\xEDt soubor TOVI.INI");
}

}  // namespace
