// Directories, the file a piece of loaded code came from, and library loading.
#include "tests/platform/test_support.h"

#if defined(_WIN32)
#include <process.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

namespace tovi::platform::test {
namespace {

namespace fs = std::filesystem;

using AnswerFunction = int (*)();

// Code of the test program itself, for locating the program's file.
[[gnu::noinline]] int CodeInThisProgram() { return 1; }

// The test program's own file, with its directory resolved.
std::string ProgramFile() {
#if defined(_WIN32)
    char path[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    return fs::canonical(std::string(path, length)).string();
#else
    return fs::canonical("/proc/self/exe").string();
#endif
}

// A fresh directory for one test, removed with everything in it afterwards.
class ScratchDirectory {
public:
    explicit ScratchDirectory(const std::string& tag)
        : path_(fs::temp_directory_path() / ("tovi_platform_" + tag + "_" + std::to_string(getpid()))) {
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~ScratchDirectory() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

// A directory cut short would name another one: one that does not fit is refused.
TEST(FilesTest, CurrentDirectoryIsWholeOrNone) {
    const std::string expected = fs::current_path().string();
    ASSERT_GT(expected.size(), 3u);

    char whole[4096];
    ASSERT_TRUE(CurrentDirectory(sizeof(whole) - 1, whole));
    EXPECT_EQ(std::string(whole), expected);

    std::string exact(expected.size() + 1, 'x');
    ASSERT_TRUE(CurrentDirectory(static_cast<std::uint32_t>(expected.size()), exact.data()));
    EXPECT_EQ(std::string(exact.c_str()), expected);

    char cut[6];
    std::memset(cut, 'x', sizeof(cut));
    EXPECT_FALSE(CurrentDirectory(3, cut));
    EXPECT_FALSE(CurrentDirectory(static_cast<std::uint32_t>(expected.size() - 1), whole));
    EXPECT_EQ(cut[4], 'x');  // nothing written past capacity + 1
    EXPECT_FALSE(CurrentDirectory(10, nullptr));
}

TEST(FilesTest, CurrentDirectoryLongerThanUsualBuffers) {
#if defined(_WIN32)
    GTEST_SKIP() << "a process that is not long-path aware has no current directory longer than MAX_PATH, "
                    "which the first buffer holds";
#endif
    ScratchDirectory scratch("long");
    fs::path deep = scratch.path();
    for (int i = 0; i < 12; ++i) {
        deep /= std::string(40, static_cast<char>('a' + i));
    }
    fs::create_directories(deep);
    const fs::path before = fs::current_path();
    fs::current_path(deep);
    const std::string expected = fs::current_path().string();
    std::string got(expected.size() + 16, 'x');
    const bool read = CurrentDirectory(static_cast<std::uint32_t>(got.size() - 1), got.data());
    fs::current_path(before);

    ASSERT_TRUE(read);
    EXPECT_EQ(std::string(got.c_str()), expected);
}

TEST(FilesTest, LoadedFilePathFindsTheProgramOnlyUnderItsOwnName) {
    const std::string program = ProgramFile();
    const std::string name = fs::path(program).filename().string();
    const void* code = reinterpret_cast<const void*>(&CodeInThisProgram);
    char buffer[4096];

    ASSERT_TRUE(LoadedFilePath(code, name.c_str(), sizeof(buffer) - 1, buffer));
    EXPECT_EQ(std::string(buffer), program);

    EXPECT_FALSE(LoadedFilePath(code, (name + "x").c_str(), sizeof(buffer) - 1, buffer));
    EXPECT_FALSE(LoadedFilePath(code, name.substr(0, name.size() - 1).c_str(), sizeof(buffer) - 1, buffer));
    EXPECT_FALSE(LoadedFilePath(code, "", sizeof(buffer) - 1, buffer));

    // Exactly fitting is fine; one byte short is not.
    const auto length = static_cast<std::uint32_t>(program.size());
    EXPECT_TRUE(LoadedFilePath(code, name.c_str(), length, buffer));
    EXPECT_FALSE(LoadedFilePath(code, name.c_str(), length - 1, buffer));
}

#if defined(_WIN32)
// A copy of a library loaded under another name is found under that name only.
TEST(FilesTest, LoadedFilePathKeepsTheNameALibraryWasLoadedUnder) {
    ScratchDirectory scratch("copy");
    fs::copy_file(TOVI_TEST_MODULE_PATH, scratch.path() / "copy.dll");

    char error[256] = "";
    LibraryHandle library = OpenLibrary((scratch.path() / "copy.dll").string().c_str(), sizeof(error) - 1, error);
    ASSERT_NE(library, nullptr) << error;
    void* answer = LibrarySymbol(library, "tovi_test_module_answer");
    ASSERT_NE(answer, nullptr);

    char buffer[4096];
    EXPECT_TRUE(LoadedFilePath(answer, "COPY.DLL", sizeof(buffer) - 1, buffer));  // names ignore case
    EXPECT_EQ(std::string(buffer), (fs::canonical(scratch.path()) / "copy.dll").string());
    const std::string original = fs::path(TOVI_TEST_MODULE_PATH).filename().string();
    EXPECT_FALSE(LoadedFilePath(answer, original.c_str(), sizeof(buffer) - 1, buffer));
    CloseLibrary(library);
}
#else
// A library opened through a link in a linked directory: the directory comes
// out resolved, the file keeps the name it was loaded under.
TEST(FilesTest, LoadedFilePathKeepsTheNameALibraryWasLoadedUnder) {
    ScratchDirectory scratch("link");
    const fs::path real = scratch.path() / "real";
    fs::create_directories(real);
    fs::copy_file(TOVI_TEST_MODULE_PATH, real / "libcopy.so");
    fs::create_symlink("libcopy.so", real / "liblink.so");
    fs::create_directory_symlink(real, scratch.path() / "alias");

    char error[256] = "";
    LibraryHandle library =
        OpenLibrary((scratch.path() / "alias" / "liblink.so").c_str(), sizeof(error) - 1, error);
    ASSERT_NE(library, nullptr) << error;
    void* answer = LibrarySymbol(library, "tovi_test_module_answer");
    ASSERT_NE(answer, nullptr);

    char buffer[4096];
    EXPECT_TRUE(LoadedFilePath(answer, "liblink.so", sizeof(buffer) - 1, buffer));
    EXPECT_EQ(std::string(buffer), (fs::canonical(real) / "liblink.so").string());
    EXPECT_FALSE(LoadedFilePath(answer, "libcopy.so", sizeof(buffer) - 1, buffer));
    CloseLibrary(library);
}
#endif

TEST(LibraryTest, OpensLibraryAndFindsOnlyItsSymbols) {
    char error[256] = "";
    LibraryHandle library = OpenLibrary(TOVI_TEST_MODULE_PATH, sizeof(error) - 1, error);
    ASSERT_NE(library, nullptr) << error;
    auto answer = reinterpret_cast<AnswerFunction>(LibrarySymbol(library, "tovi_test_module_answer"));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 42);
    EXPECT_EQ(LibrarySymbol(library, "tovi_test_module_question"), nullptr);
    CloseLibrary(library);

    EXPECT_EQ(LibrarySymbol(nullptr, "tovi_test_module_answer"), nullptr);
    CloseLibrary(nullptr);
}

TEST(LibraryTest, MissingLibraryFailsWithBoundedMessage) {
    const char* missing = "/nonexistent/tovi/libnothing_here.so";
    char error[256] = "";
    EXPECT_EQ(OpenLibrary(missing, sizeof(error) - 1, error), nullptr);
    EXPECT_NE(std::string(error).find("libnothing_here"), std::string::npos) << error;

    char small[12];
    std::memset(small, 'x', sizeof(small));
    EXPECT_EQ(OpenLibrary(missing, 8, small), nullptr);
    EXPECT_EQ(std::strlen(small), 8u);
    EXPECT_EQ(small[9], 'x');

    EXPECT_EQ(OpenLibrary(missing, 0, nullptr), nullptr);
    EXPECT_EQ(OpenLibrary(nullptr, sizeof(error) - 1, error), nullptr);
    EXPECT_NE(error[0], '\0');
}

// A damaged library file is reported to the caller, and on Windows the loader
// shows nothing of its own: the caller's error mode is the same afterwards.
TEST(LibraryTest, AFileThatIsNoLibraryFailsWithItsNameInTheMessage) {
    ScratchDirectory scratch("damaged");
    const fs::path damaged = scratch.path() / "damaged_library.dll";
    {
        std::ofstream out(damaged, std::ios::binary);
        out << std::string(4096, '\x5A');
    }
#if defined(_WIN32)
    const DWORD mode_before = GetThreadErrorMode();
#endif
    char error[512] = "";
    EXPECT_EQ(OpenLibrary(damaged.string().c_str(), sizeof(error) - 1, error), nullptr);
    EXPECT_NE(std::string(error).find("damaged_library.dll"), std::string::npos) << error;
#if defined(_WIN32)
    EXPECT_EQ(GetThreadErrorMode(), mode_before);
#endif
}

}  // namespace
}  // namespace tovi::platform::test
