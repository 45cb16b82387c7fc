// Every Czech text the driver produces, provoked through its exports and compared
// with the text as written here in UTF-8, turned into Windows-1250 bytes by this
// test's own table of letters. (The text of a vendor library that cannot be loaded
// is checked where that can happen: tests/windows.)
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "host/memory.h"
#include "tests/device/device_fixture.h"

namespace {

using devicetest::DeviceTest;

// The Czech letters' Windows-1250 codes.
const std::map<char32_t, char> kCzechLetters = {
    {U'á', '\xE1'}, {U'č', '\xE8'}, {U'ď', '\xEF'}, {U'é', '\xE9'}, {U'ě', '\xEC'}, {U'í', '\xED'},
    {U'ň', '\xF2'}, {U'ó', '\xF3'}, {U'ř', '\xF8'}, {U'š', '\x9A'}, {U'ť', '\x9D'}, {U'ú', '\xFA'},
    {U'ů', '\xF9'}, {U'ý', '\xFD'}, {U'ž', '\x9E'}, {U'Á', '\xC1'}, {U'Č', '\xC8'}, {U'Ď', '\xCF'},
    {U'É', '\xC9'}, {U'Ě', '\xCC'}, {U'Í', '\xCD'}, {U'Ň', '\xD2'}, {U'Ó', '\xD3'}, {U'Ř', '\xD8'},
    {U'Š', '\x8A'}, {U'Ť', '\x8D'}, {U'Ú', '\xDA'}, {U'Ů', '\xD9'}, {U'Ý', '\xDD'}, {U'Ž', '\x8E'},
};

std::string Windows1250(const std::string& utf8) {
    std::string bytes;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        if (lead < 0x80) {
            bytes += utf8[i++];
            continue;
        }
        EXPECT_EQ(lead & 0xE0, 0xC0) << "only two-byte letters are expected in " << utf8;
        const char32_t letter = (char32_t{lead & 0x1Fu} << 6) | (static_cast<unsigned char>(utf8[i + 1]) & 0x3Fu);
        const auto found = kCzechLetters.find(letter);
        EXPECT_NE(found, kCzechLetters.end()) << "no Windows-1250 code for U+" << std::hex << static_cast<std::uint32_t>(letter);
        if (found != kCzechLetters.end()) bytes += found->second;
        i += 2;
    }
    return bytes;
}

const char kDevices[] =
    "device 1 \"ai8 Address=1\"\n"
    "  ai 0-8 = 1.5\n"
    "device 2 \"ao4 Address=2\"\n"
    "  ao 0-3 = 0\n";

const char kGoodModules[] =
    "analog=ai8, ai8 Address=1\n"
    "valves=ao4, ao4 Address=2\n"
    "[analog]\nai 0=12\n"
    "[valves]\nao 1=20\n";

std::string Plant(const std::string& modules) { return "[tovi]\nlog_file=errors.log\ndebug=1\n[modules]\n" + modules; }

// Where a text shows: Init's message, the error line, the host's message log or the
// information page.
enum class Shown { InitMessage, ErrorLine, HostMessage, InformationPage };

struct TextCase {
    const char* what;
    std::string parameters;  // the parameter file; empty: none at all
    const char* types;       // nullptr: the shipped tovi.ini; "": no tovi.ini
    std::function<void(DriverInstance*)> provoke;  // after a successful Init
    Shown shown;
    std::string expected_utf8;
    bool out_of_memory;      // Init's first allocation fails
    std::uint32_t item = 0;  // the information page's item
};

class MessageTextsTest : public DeviceTest {
protected:
    void SetUp() override {
        DeviceTest::SetUp();
        LoadDevices(kDevices);
        shipped_directory_ = std::filesystem::current_path();
    }
    void TearDown() override {
        std::filesystem::current_path(shipped_directory_);
        DeviceTest::TearDown();
    }

    // Init with a parameter file (and a tovi.ini of the case's own, read from a
    // directory of the case's own).
    std::uint8_t StartCase(const TextCase& c, const std::string& directory) {
        if (c.out_of_memory) host::testing::FailAllocation(0);
        std::filesystem::current_path(shipped_directory_);
        if (c.types != nullptr) {
            const std::filesystem::path own = files_.path() / directory;
            std::filesystem::create_directories(own);
            if (*c.types != '\0') files_.Write(directory + "/tovi.ini", c.types);
            std::filesystem::current_path(own);
        }
        Stop();
        driver_ = MakeDriver();
        const std::string path =
            c.parameters.empty() ? files_.Path("missing.ini") : files_.Write("plant.ini", c.parameters);
        message_[0] = '\0';
        if (c.out_of_memory) host::testing::FailAllocation(1);
        const std::uint8_t started = Init(driver_, static_cast<std::uint32_t>(path.size()), path.c_str(), sizeof message_ - 1, message_, 1,
                    0, &completions_, &devicetest::Completions::Callback);
        host::testing::FailAllocation(0);
        return started;
    }

    std::filesystem::path shipped_directory_;
};

TEST_F(MessageTextsTest, EveryCzechTextReachesTheHostAsWritten) {
    const std::vector<TextCase> cases = {
        {"unreadable parameter file", "", nullptr, nullptr, Shown::InitMessage, "Nelze otevřít parametrický soubor", false},
        {"no tovi.ini", Plant(kGoodModules), "", nullptr, Shown::InitMessage, "Nelze otevřít soubor TOVI.INI", false},
        {"no settings section", "[modules]\nanalog=ai8, ai8 Address=1\n[analog]\nai 0=12\n", nullptr, nullptr,
         Shown::InitMessage, "Neplatný formát parametrického souboru", false},
        {"no module", Plant(""), nullptr, nullptr, Shown::InitMessage, "Parametrický soubor: Není definován žádný modul", false},
        {"module named twice", Plant("m1=ai8, ai8 Address=1\nm1=ai8, ai8 Address=1\n[m1]\nai 0=12\n"), nullptr,
         nullptr, Shown::InitMessage, "Parametrický soubor: Jméno modulu již existuje (m1)", false},
        {"module without section", Plant("m1=ai8, ai8 Address=1\n"), nullptr, nullptr, Shown::InitMessage,
         "Parametrický soubor: Nejsou definovány parametry modulu", false},
        {"unknown keyword", Plant("m1=ai8, ai8 Address=1\n[m1]\nXy 0=12\n"), nullptr, nullptr, Shown::InitMessage,
         "Parametrický soubor: Neznámý I/O typ (xy)", false},
        {"port no number", Plant("m1=ai8, ai8 Address=1\n[m1]\nai x2=12\n"), nullptr, nullptr, Shown::InitMessage,
         "Parametrický soubor: Neplatné číslo I/O portu (x2)", false},
        {"bit no number", Plant("m1=do16, ai8 Address=1\n[m1]\ndo_bit 0 z=12\n"), nullptr, nullptr,
         Shown::InitMessage, "Parametrický soubor: Neplatné číslo I/O bitu (z)", false},
        {"channel no number", Plant("m1=ai8, ai8 Address=1\n[m1]\nai 0=abc\n"), nullptr, nullptr, Shown::InitMessage,
         "Parametrický soubor: Neplatné číslo kanálu (abc)", false},
        {"channel twice", Plant("m1=ai8, ai8 Address=1\n[m1]\nai 0=12\nai 1=12\n"), nullptr, nullptr,
         Shown::InitMessage, "Parametrický soubor: Duplicitní číslo kanálu (12)", false},
        {"parameter channel missing", Plant("m1=cnt2, ai8 Address=1\n[m1]\ncnt_event_start 0=14\n"), nullptr,
         nullptr, Shown::InitMessage, "Parametrický soubor: Očekáván parametrický kanál (14)", false},
        {"type not in tovi.ini", Plant("m1=dio99, ai8 Address=1\n[m1]\nai 0=12\n"), nullptr, nullptr,
         Shown::InitMessage, "Modul dio99 nebyl nalezen v souboru TOVI.INI", false},
        {"port not in the type", Plant("m1=ai8, ai8 Address=1\n[m1]\nai 99=12\n"), nullptr, nullptr,
         Shown::InitMessage, "m1: Neplatné číslo I/O portu (99)", false},
        {"keyword not on the port", Plant("m1=ai8, ai8 Address=1\n[m1]\nao 0=12\n"), nullptr, nullptr,
         Shown::InitMessage, "m1: Neplatný typ I/O portu (0)", false},
        {"unknown word in tovi.ini", Plant("m1=t, ai8 Address=1\n[m1]\ncjc 0=12\n"), "[t]\n0=ai, XX\n", nullptr,
         Shown::InitMessage, "Neznámý typ I/O portu v souboru TOVI.INI (xx)", false},
        {"no such device", Plant("m1=ai8, nowhere Address=1\n[m1]\nai 0=12\n"), nullptr, nullptr,
         Shown::InitMessage, "nowhere Address=1 : Zařízení není nainstalováno", false},
        {"no memory", Plant(kGoodModules), nullptr, nullptr, Shown::InitMessage, "Vnitřní chyba", true},
        {"failed read", Plant(kGoodModules), nullptr,
         [this](DriverInstance*) {
             InjectFault("DRV_AIVoltageIn status=150 channel=0 once text=\"Input overrange\"");
             ReadBatch({12});
         },
         Shown::ErrorLine, "Čtení z kanálu č. 12 : Input overrange", false},
        {"failed write", Plant(kGoodModules), nullptr,
         [this](DriverInstance*) {
             InjectFault("DRV_AOVoltageOut status=151 channel=1 once text=\"Output fault\"");
             WriteBatch({devicetest::Real(20, 1.0)});
         },
         Shown::ErrorLine, "Zápis do kanálu č. 20 : Output fault", false},
        {"wrong type code", Plant(kGoodModules), nullptr,
         [](DriverInstance* driver) {
             host::ValueRecord record{tovi::kTypeBoolean, {}};
             GetInput(driver, 12, &record);
         },
         Shown::HostMessage, "Nekompatibilní typ kanálu (12)", false},
        {"request without memory", Plant(kGoodModules), nullptr,
         [](DriverInstance* driver) {
             host::testing::FailAllocation(1);
             InputRequest(driver, 12);
             host::testing::FailAllocation(0);
         },
         Shown::HostMessage, "Nedostatek paměti pro požadavek kanálu (12)", false},
        {"information page title", Plant(kGoodModules), nullptr, nullptr, Shown::InformationPage,
         "Ovladač pro moduly TOVI 4000/5000", false, 1},
        {"first notice", Plant(kGoodModules), nullptr, nullptr, Shown::InformationPage,
         "Chyby zařízení se zobrazují na řádku výše.", false, 3},
        {"second notice", Plant(kGoodModules), nullptr, nullptr, Shown::InformationPage,
         "Podrobný záznam chyb zapíná volba debug.", false, 4},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const TextCase& c = cases[i];
        SCOPED_TRACE(c.what);
        hostapi::Reset();
        hostapi::SetWorkingDirectory(files_.path().string());
        const std::uint8_t started = StartCase(c, "case" + std::to_string(i));
        const std::string expected = Windows1250(c.expected_utf8);
        if (c.shown == Shown::InitMessage) {
            EXPECT_EQ(started, 0);
            EXPECT_EQ(message(), expected);
            continue;
        }
        ASSERT_EQ(started, 1) << message();
        if (c.provoke) c.provoke(driver_);
        if (c.shown == Shown::ErrorLine) {
            EXPECT_EQ(Window().error_line, expected);
            EXPECT_EQ(FileText("errors.log"), expected + "\n");
        } else if (c.shown == Shown::HostMessage) {
            const std::vector<hostapi::LogMessage> messages = hostapi::LogMessages();
            ASSERT_EQ(messages.size(), 1u);
            EXPECT_EQ(messages[0].text, expected);
        } else {
            const auto* item = static_cast<const char*>(GetDialogBoxItem(driver_, c.item));
            EXPECT_EQ(std::string(item + 17), expected);
        }
        Stop();
        std::filesystem::remove(files_.path() / "errors.log");
    }
}

}  // namespace
