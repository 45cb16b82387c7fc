// The parameter file reader: settings, sections, module lines, channel lines, and
// what a fault leaves behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/config/reader_fixture.h"

namespace {

using namespace tovi;
using tovitest::kExamplePlant;
using tovitest::Msg;
using tovitest::ReaderTest;

std::string Plant(const std::string& modules, const std::string& sections) {
    return "[tovi]\n[modules]\n" + modules + sections;
}

// A plant with module m1 of the example type dio16 and the given channel lines.
std::string M1(const std::string& lines) { return Plant("m1=dio16, dev1, sub1\n", "[m1]\n" + lines); }

TEST_F(ReaderTest, WorkedExampleBuildsModulesAndChannels) {
    ASSERT_TRUE(Read(kExamplePlant)) << message();
    EXPECT_STREQ(driver_->log_path, "plant.log");
    EXPECT_EQ(driver_->settings, 0u);

    const auto modules = Modules();
    ASSERT_EQ(modules.size(), 2u);
    Module& m1 = *modules[0];
    Module& disp = *modules[1];
    EXPECT_STREQ(m1.name, "m1");
    EXPECT_STREQ(m1.type, "dio16");
    EXPECT_STREQ(m1.device, "dev1");
    EXPECT_STREQ(m1.subdevice, "sub1");
    EXPECT_EQ(m1.driver, driver_);
    EXPECT_EQ(m1.display_min, 0.0);
    EXPECT_EQ(m1.display_max, 0.0);
    EXPECT_EQ(m1.display_sign, 0);
    EXPECT_STREQ(disp.name, "disp");
    EXPECT_STREQ(disp.subdevice, "sub2");
    EXPECT_EQ(disp.display_select[0], 1);
    EXPECT_EQ(disp.display_select[1], 2);
    EXPECT_EQ(disp.display_min, -50.0);
    EXPECT_EQ(disp.display_max, 150.5);
    EXPECT_EQ(disp.display_sign, 1);

    EXPECT_EQ(Numbers(), (std::vector<std::int32_t>{10, 11, 12, 13, 14, 15, 16, 17, 18, 20}));
    struct Expected {
        std::int32_t number, io_type, port, bit;
        std::uint32_t expected_type, link_count;
        Module* module;
    };
    const Expected owners[] = {
        {10, kIoDiBit, 0, 3, kTypeBoolean, 0, &m1},  {11, kIoDoByte, 1, -1, kTypeReal, 0, &m1},
        {12, kIoAi, 2, -1, kTypeReal, 1, &m1},       {14, kIoCntEventStart, 3, -1, kTypeBoolean, 1, &m1},
        {16, kIoAlarmConfig, 4, -1, kTypeBoolean, 2, &m1}, {20, kIoDisplayData, -1, -1, kTypeReal, 0, &disp},
    };
    for (const Expected& e : owners) {
        SCOPED_TRACE(e.number);
        const Channel* c = Find(e.number);
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(c->io_type, e.io_type);
        EXPECT_EQ(c->port, e.port);
        EXPECT_EQ(c->bit, e.bit);
        EXPECT_EQ(c->expected_type, e.expected_type);
        EXPECT_EQ(c->link_count, e.link_count);
        EXPECT_EQ(c->module, e.module);
        EXPECT_EQ(c->flags, 0u);
        EXPECT_EQ(c->owner, nullptr);
        EXPECT_EQ(c->value.type_code, kTypeNone);
    }
    // Parameter channels, in token order behind their owners.
    const std::pair<std::int32_t, std::int32_t> links[] = {{12, 13}, {14, 15}, {16, 17}, {16, 18}};
    for (std::size_t i = 0; i < std::size(links); ++i) {
        const auto [owner_number, number] = links[i];
        SCOPED_TRACE(number);
        Channel* owner = Find(owner_number);
        Channel* p = Find(number);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p->owner, owner);
        EXPECT_EQ(owner->links[number == 18 ? 1 : 0], p);
        EXPECT_EQ(p->flags, static_cast<std::uint32_t>(kParameterChannel));
        EXPECT_EQ(p->module, owner->module);
        EXPECT_EQ(p->io_type, owner->io_type);
        EXPECT_EQ(p->port, owner->port);
        EXPECT_EQ(p->bit, owner->bit);
        EXPECT_EQ(p->expected_type, static_cast<std::uint32_t>(kTypeReal));
        EXPECT_EQ(p->link_count, 0u);
        EXPECT_EQ(p->links, nullptr);
    }
}

TEST_F(ReaderTest, WorkedExampleThroughInitKeepsTheConfigurationForDone) {
    files_.Write("tovi.ini", tovitest::kExampleTypes);
    const std::string path = files_.Write("plant.ini", kExamplePlant);
    char message[256] = {};
    int context = 0;
    const std::uint8_t started =
        Init(driver_, static_cast<std::uint32_t>(path.size()), path.c_str(), 255, message, 0, 0, &context, nullptr);
    // Whether the devices dev1 and sub2 exist here is the binding's business; the
    // configuration is read whole either way.
    const std::string said = message;
    if (started == 0) {
        EXPECT_EQ(said.find("Parametrick"), std::string::npos) << said;
        EXPECT_EQ(said.find("TOVI.INI"), std::string::npos) << said;
    }
    EXPECT_EQ(Modules().size(), 2u);
    EXPECT_EQ(driver_->channels.Count(), 10u);
    EXPECT_STREQ(driver_->log_path, "plant.log");
}

TEST_F(ReaderTest, SettingsSectionDefaultsAndSwitches) {
    ASSERT_TRUE(Read("[tovi]\n[modules]\n;\n"));
    EXPECT_STREQ(driver_->log_path, "tovi.log");
    EXPECT_EQ(driver_->settings, 0u);

    const std::pair<std::string, std::uint32_t> cases[] = {
        {"debug=yes\ncheck_sum=ON\n", kSettingDebug | kSettingCheckSum},
        {"debug=1\ncheck_sum=0\n", kSettingDebug},
        {"debug=false\ncheck_sum=true\n", kSettingCheckSum},
        {"debug=maybe\ncheck_sum=\n", 0},
    };
    for (const auto& [settings, bits] : cases) {
        SCOPED_TRACE(settings);
        Renew();
        ASSERT_TRUE(Read("[tovi]\n" + settings + "[modules]\n; none\n")) << message();
        EXPECT_EQ(driver_->settings, bits);
    }

    // An empty name keeps the default; a name that does not fit is refused, since
    // cut it would name another file.
    Renew();
    ASSERT_TRUE(Read("[tovi]\nlog_file =  \ndebug=on\n[modules]\n; none\n")) << message();
    EXPECT_STREQ(driver_->log_path, "tovi.log");
    Renew();
    const std::string fitting(259, 'l');
    ASSERT_TRUE(Read("[tovi]\nlog_file=" + fitting + "\n[modules]\n; none\n")) << message();
    EXPECT_EQ(std::string(driver_->log_path), fitting);
    Renew();
    EXPECT_FALSE(Read("[tovi]\nlog_file=" + fitting + "x\n[modules]\n; none\n"));
    EXPECT_EQ(message(), "Neplatn\xFD form\xE1t parametrick\xE9ho souboru");
}

TEST_F(ReaderTest, FilesAndSectionsThatMustExist) {
    EXPECT_FALSE(ReadPath(files_.Path("absent.ini")));
    EXPECT_EQ(message(), Msg(messages::kCannotOpenParameterFile));

    // tovi.ini is looked for only once the parameter file could be opened.
    const std::string plant = files_.Write("plant.ini", "[tovi]\n[modules]\n; none\n");
    EXPECT_FALSE(ReadPath(plant));
    EXPECT_EQ(message(), Msg(messages::kCannotOpenTypeDatabase));

    Types(tovitest::kExampleTypes);
    const std::pair<std::string, std::string> cases[] = {
        {"[modules]\nm1=dio16, a, b\n[m1]\n", Msg(messages::kInvalidParameterFile)},
        {"[tovi]\ndebug=1\n", Msg(messages::kInvalidParameterFile)},
        {"[tovi]\n[modules]\n", Msg(messages::kNoModuleDefined)},
        {"[tovi]\n[modules]\n\n   \n[m1]\n", Msg(messages::kNoModuleDefined)},
        {"[tovi]\n[modules]\nm1=dio16, a, b\nm2=dio16, a, b\n[m1]\ndo_byte 1=1\n",
         Msg(messages::kModuleSectionMissing)},
    };
    for (const auto& [plant_text, expected] : cases) {
        SCOPED_TRACE(plant_text);
        Renew();
        EXPECT_FALSE(Read(plant_text));
        EXPECT_EQ(message(), expected);
    }
    // m1 was read before m2's section was found missing.
    EXPECT_EQ(Numbers(), std::vector<std::int32_t>{1});
    EXPECT_EQ(Modules().size(), 2u);
}

TEST_F(ReaderTest, ModulesSectionOfCommentsOnlyIsAPlantWithoutModules) {
    ASSERT_TRUE(Read("[tovi]\r\n[modules]\r\n; no modules yet\r\n")) << message();
    EXPECT_TRUE(Modules().empty());
    EXPECT_EQ(driver_->channels.Count(), 0u);

    // Init goes on to start the driver with nothing to serve.
    Renew();
    const std::string path = files_.Path("plant.ini");
    char message[256] = {};
    ASSERT_EQ(Init(driver_, static_cast<std::uint32_t>(path.size()), path.c_str(), 255, message, 0, 0, nullptr,
                   nullptr),
              1)
        << message;
}

TEST_F(ReaderTest, ModuleLinesAreTrimmedCutAndUnique) {
    const std::string long_token(100, 't');
    ASSERT_TRUE(Read(Plant("  first  =  dio16 ,  COM1 Address=3  ,sub one , extra\n"
                           "  ;  commented=dio16\n"
                           "second=dio16\n"
                           "third=dio16,," + long_token + "\n"
                           "fourth\n",
                           "[first]\n[second]\n[third]\n[fourth]\n")))
        << message();
    const auto modules = Modules();
    ASSERT_EQ(modules.size(), 4u);
    EXPECT_STREQ(modules[0]->name, "first");
    EXPECT_STREQ(modules[0]->type, "dio16");
    EXPECT_STREQ(modules[0]->device, "COM1 Address=3");
    EXPECT_STREQ(modules[0]->subdevice, "sub one");
    EXPECT_STREQ(modules[1]->device, "");
    EXPECT_STREQ(modules[1]->subdevice, "");
    // A run of commas separates once: the long token is the device.
    EXPECT_EQ(std::string(modules[2]->device), long_token.substr(0, 79));
    EXPECT_STREQ(modules[3]->type, "");

    Renew();
    EXPECT_FALSE(Read(Plant("m1=dio16\nm2=dio16\nm1=disp6\n", "[m1]\n[m2]\n")));
    EXPECT_EQ(message(), Msg(messages::kModuleNameExists, "m1"));
    ASSERT_EQ(Modules().size(), 2u);
    EXPECT_STREQ(Modules()[0]->type, "dio16");
}

TEST_F(ReaderTest, ChannelKeysAndValuesFollowTheTokenRules) {
    ASSERT_TRUE(Read(M1("AI 2=12\n"
                        "  Di_Bit ,, 0 ,3 , 9 =  10,,99\n"
                        "do_byte 1=11\n"
                        "=13\n"
                        "cnt_event_start 3=-5, 14\n"
                        "; di_bit 0 3=77\n")))
        << message();
    EXPECT_EQ(Numbers(), (std::vector<std::int32_t>{10, 11, 12, 14, -5}));
    EXPECT_EQ(Find(12)->io_type, kIoAi);
    EXPECT_EQ(Find(12)->port, 2);
    EXPECT_EQ(Find(12)->link_count, 0u);
    EXPECT_EQ(Find(10)->port, 0);
    EXPECT_EQ(Find(10)->bit, 3);
    EXPECT_EQ(Find(99), nullptr);  // extra tokens of a line without parameter channels
    EXPECT_EQ(Find(13), nullptr);  // a line with an empty key is skipped
    EXPECT_EQ(Find(-5)->link_count, 1u);
    EXPECT_EQ(Find(-5)->links[0], Find(14));

    // A display type reads no port: the 5 is ignored.
    Renew();
    ASSERT_TRUE(Read(Plant("disp=disp6\n", "[disp]\ndisplay_data 5=20\nDISPLAY_SELECT=21\n"))) << message();
    EXPECT_EQ(Find(20)->port, -1);
    EXPECT_EQ(Find(21)->io_type, kIoDisplaySelect);
}

TEST_F(ReaderTest, EachChannelLineMessageQuotesItsToken) {
    const std::pair<std::string, std::string> cases[] = {
        {"xy 2=1\n", Msg(messages::kUnknownIoType, "xy")},
        {"Ai_Out 2=1\n", Msg(messages::kUnknownIoType, "ai_out")},
        // Only blanks and commas separate tokens.
        {"do_byte\t1=1\n", Msg(messages::kUnknownIoType, "do_byte\t1")},
        {"ai x2=1\n", Msg(messages::kInvalidPortNumber, "x2")},
        {"ai=1\n", Msg(messages::kInvalidPortNumber, "")},
        {"ai 99999999999=1\n", Msg(messages::kInvalidPortNumber, "99999999999")},
        {"di_bit 0=1\n", Msg(messages::kInvalidBitNumber, "")},
        {"do_bit 0 3.0=1\n", Msg(messages::kInvalidBitNumber, "3.0")},
        {"ai 2=abc\n", Msg(messages::kInvalidChannelNumber, "abc")},
        {"ai 2\n", Msg(messages::kInvalidChannelNumber, "")},
        {"ai 2=4294967296\n", Msg(messages::kInvalidChannelNumber, "4294967296")},
    };
    for (const auto& [line, expected] : cases) {
        SCOPED_TRACE(line);
        Renew();
        EXPECT_FALSE(Read(M1(line)));
        EXPECT_EQ(message(), expected);
        EXPECT_EQ(driver_->channels.Count(), 0u);
    }
    // The texts are Windows-1250 bytes: "Neznámý" carries 0xE1 and 0xFD.
    EXPECT_EQ(Msg(messages::kUnknownIoType).substr(0, 32), "Parametrick\xFD soubor: Nezn\xE1m\xFD I/O");
}

// A line too long for the reader's buffers is refused, never read as what is left of
// it after the cut: the message is the one of the token the cut ended.
TEST_F(ReaderTest, ALineThatDoesNotFitIsRefusedWithTheMessageOfItsCutToken) {
    const std::string port = "Parametrick\xFD soubor: Neplatn\xE9 \xE8\xEDslo I/O portu (";
    const std::string bit = "Parametrick\xFD soubor: Neplatn\xE9 \xE8\xEDslo I/O bitu (";
    const std::string number = "Parametrick\xFD soubor: Neplatn\xE9 \xE8\xEDslo kan\xE1lu (";
    const std::string zeros(254, '0');
    const std::pair<std::string, std::string> cases[] = {
        {"ai 2=" + zeros + "17\n", number + "0000"},                      // would be channel 1
        {"ai 2=1 " + std::string(260, ' ') + "17\n", number + ")"},      // the parameter channel lost
        {"ai " + zeros.substr(0, 90) + "3=1\n", port + "0000"},           // would be port 0
        {"di_bit 0 " + zeros.substr(0, 80) + "3=1\n", bit + "0000"},      // would be bit 0
        {"di_bit 0 3" + std::string(80, ' ') + "x=1\n", bit + ")"},
    };
    for (const auto& [line, expected] : cases) {
        SCOPED_TRACE(line);
        Renew();
        EXPECT_FALSE(Read(M1(line)));
        EXPECT_EQ(message().substr(0, expected.size()), expected);
        EXPECT_EQ(driver_->channels.Count(), 0u);
    }
    // A line that fits to the last character is read as it stands.
    Renew();
    ASSERT_TRUE(Read(M1("ai 2=" + std::string(248, '0') + "17\n"))) << message();
    EXPECT_NE(Find(17), nullptr);
    // A module line cut short could name another device.
    Renew();
    EXPECT_FALSE(Read(Plant("m1=dio16, " + std::string(250, 'd') + ", sub\n", "[m1]\n")));
    EXPECT_EQ(message(), "Neplatn\xFD form\xE1t parametrick\xE9ho souboru");
}

TEST_F(ReaderTest, AFaultKeepsWhatCameBeforeIt) {
    const std::string plant = Plant("m1=dio16\nm2=dio16\nm3=dio16\n",
                                    "[m1]\nai 2=1 2\ndo_byte 1=3\n"
                                    "[m2]\ndo_byte 1=4\nai 9=5\ndo_byte 1=6\n"
                                    "[m3]\ndo_byte 1=7\n");
    EXPECT_FALSE(Read(plant));
    EXPECT_EQ(message(), "m2: " + Msg(messages::kPortNumberInvalid, "9"));
    EXPECT_EQ(Numbers(), (std::vector<std::int32_t>{1, 2, 3, 4}));
    EXPECT_EQ(Modules().size(), 3u);
}

TEST_F(ReaderTest, MessagesAreCutAtTheCallersCapacity) {
    EXPECT_FALSE(Read(M1("unknown_keyword 2=1\n"), 40));
    EXPECT_EQ(message(), Msg(messages::kUnknownIoType, "unknown_keyword").substr(0, 40));
    Renew();
    EXPECT_FALSE(Read(M1("ai 2=1\nai 2=1\n"), 0));
    EXPECT_EQ(message(), "");
}

}  // namespace
