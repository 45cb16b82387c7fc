// The built driver library exports every entry point under its plain name.
#include <gtest/gtest.h>

#include "platform/platform.h"

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

}  // namespace
