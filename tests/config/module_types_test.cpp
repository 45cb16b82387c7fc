// Channels checked against the module-type database, and the display parameters of
// a type's " PAR" section.
#include <gtest/gtest.h>

#include <string>

#include "tests/config/reader_fixture.h"

namespace {

using namespace tovi;
using tovitest::Msg;
using tovitest::ReaderTest;

// A plant of one module "m" of type t with the given channel lines.
std::string OneModule(const std::string& lines, const std::string& type = "t") {
    return "[tovi]\n[modules]\nm=" + type + ", dev, sub\n[m]\n" + lines;
}

class ModuleTypesTest : public ReaderTest {
protected:
    // Reads lines against a database whose type t has the given lines; returns the
    // message, or "" on success.
    std::string Check(const std::string& type_lines, const std::string& channel_lines) {
        Renew();
        Types("[t]\n" + type_lines);
        return Read(OneModule(channel_lines)) ? "" : message();
    }
};

TEST_F(ModuleTypesTest, ChannelsAreLookedUpUnderTheirPortKey) {
    // Port and bit with a comma and one blank; a port alone as IntToStr writes it.
    EXPECT_EQ(Check("0, 3=di_bit\n", "di_bit 0 3=1\n"), "");
    EXPECT_EQ(Check("12=ai\n", "ai 12=1\n"), "");
    EXPECT_EQ(Check("0,3=di_bit\n", "di_bit 0 3=1\n"), "m: " + Msg(messages::kPortNumberInvalid, "0, 3"));
    EXPECT_EQ(Check("012=ai\n", "ai 12=1\n"), "m: " + Msg(messages::kPortNumberInvalid, "12"));
    EXPECT_EQ(Check("0, 3=di_bit\n", "di_bit 0 4=1\n"), "m: " + Msg(messages::kPortNumberInvalid, "0, 4"));
    // Display channels, and channels whose port was written as -1, use "internal".
    EXPECT_EQ(Check("internal=display_data\n", "display_data=1\n"), "");
    EXPECT_EQ(Check("internal=ai\n", "ai -1=1\n"), "");
    EXPECT_EQ(Check("2=ai\n", "display_select=1\n"), "m: " + Msg(messages::kPortNumberInvalid, "internal"));
    // A negative bit other than -1 is a key of its own, which no type has.
    EXPECT_EQ(Check("0=di_byte\n", "di_bit 0 -2=1\n"), "m: " + Msg(messages::kPortNumberInvalid, "0, -2"));
    EXPECT_EQ(Check("0=di_byte\n", "ai -7=1\n"), "m: " + Msg(messages::kPortNumberInvalid, "-7"));
}

TEST_F(ModuleTypesTest, KeywordListsAreScannedUpToTheFirstMatch) {
    EXPECT_EQ(Check("2=AI, CJC\n", "ai 2=1\ncjc 2=2\n"), "");
    EXPECT_EQ(Check("2 = ai ,  cjc  \n", "cjc 2=2\n"), "");
    EXPECT_EQ(Check("2=ai, xx\n", "ai 2=1\n"), "");
    EXPECT_EQ(Check("2=ai, XX\n", "cjc 2=1\n"), Msg(messages::kUnknownPortTypeInDatabase, "xx"));
    EXPECT_EQ(Check("2=ai,,cjc\n", "cjc 2=1\n"), "");
    EXPECT_EQ(Check("2=ai, cjc\n", "ao 2=1\n"), "m: " + Msg(messages::kPortTypeInvalid, "2"));
    EXPECT_EQ(Check("2=\n", "ai 2=1\n"), "m: " + Msg(messages::kPortTypeInvalid, "2"));
    EXPECT_EQ(Check("0, 1=di_bit\n", "do_bit 0 1=1\n"), "m: " + Msg(messages::kPortTypeInvalid, "0, 1"));
}

TEST_F(ModuleTypesTest, AModuleWhoseTypeIsMissingFailsAtItsFirstChannel) {
    Types("[t]\n2=ai\n");
    EXPECT_TRUE(Read(OneModule("", "dio99")));  // no channel, no check
    Renew();
    EXPECT_FALSE(Read(OneModule("ai 2=1\n", "dio99")));
    EXPECT_EQ(message(), Msg(messages::kModuleWord) + " dio99 " + Msg(messages::kNotFoundInTypeDatabase));
    Renew();
    EXPECT_FALSE(Read("[tovi]\n[modules]\nm\n[m]\nai 2=1\n"));
    EXPECT_EQ(message(), Msg(messages::kModuleWord) + "  " + Msg(messages::kNotFoundInTypeDatabase));
    // Parameter channels are not checked: only the owner's port is.
    Renew();
    EXPECT_TRUE(Read(OneModule("ai 2=1 2\n", "t"))) << message();
}

TEST_F(ModuleTypesTest, DisplayParametersComeFromThePARSection) {
    struct Case {
        std::string par;
        std::int32_t select0, select1;
        double minimum, maximum;
        std::uint8_t sign;
    };
    const Case cases[] = {
        {"display_select=3, 4\ndisplay_data=-50, 150.5, TRUE\n", 3, 4, -50, 150.5, 1},
        {"display_data=1.5, 2e3\n", 0, 0, 1.5, 2000, 0},
        {"display_data=1, 2, yes\n", 0, 0, 1, 2, 0},
        {"display_data=1, 2,  True  , more\n", 0, 0, 1, 2, 1},
        // Later lines overwrite earlier ones; what does not convert reads as 0.
        {"display_data=1, 2, true\ndisplay_data=x, 7\n", 0, 0, 0, 7, 0},
        {"display_select=9, x\ndisplay_select=99999999999, 5\n", 0, 5, 0, 0, 0},
        // Keys are compared as delivered: other spellings are other keys.
        {"Display_Data=1, 2, true\nother=5\n", 0, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.par);
        Renew();
        Types("[t]\ninternal=display_data\n[t PAR]\n" + c.par);
        ASSERT_TRUE(Read("[tovi]\n[modules]\nd1=t\nd2=t\nplain=u\n[d1]\n[d2]\n[plain]\n")) << message();
        for (Module* module : {Modules()[0], Modules()[1]}) {
            EXPECT_EQ(module->display_select[0], c.select0);
            EXPECT_EQ(module->display_select[1], c.select1);
            EXPECT_EQ(module->display_min, c.minimum);
            EXPECT_EQ(module->display_max, c.maximum);
            EXPECT_EQ(module->display_sign, c.sign);
        }
        // A type without a PAR section leaves the parameters zero.
        EXPECT_EQ(Modules()[2]->display_max, 0.0);
        EXPECT_EQ(Modules()[2]->display_sign, 0);
    }
}

}  // namespace
