// Parameter channels: which lines create them, how they are linked, and the
// uniqueness of channel numbers across modules and parameter channels.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/config/reader_fixture.h"

namespace {

using namespace tovi;
using tovitest::Msg;
using tovitest::ReaderTest;

const char kTypes[] =
    "[t]\n"
    "0=cnt_event_read, cnt_event_start, ai, ao\n"
    "4=alarm_config\n"
    "internal=display_data\n";

std::string Plant(const std::string& m1, const std::string& m2 = "") {
    return "[tovi]\n[modules]\nm1=t\nm2=t\n[m1]\n" + m1 + "[m2]\n" + m2;
}

class ParameterChannelTest : public ReaderTest {
protected:
    void SetUp() override {
        ReaderTest::SetUp();
        Types(kTypes);
    }
};

TEST_F(ParameterChannelTest, OptionalParameterChannels) {
    ASSERT_TRUE(Read(Plant("ai 0=12\nai 0=20 21\ncnt_event_read 0=5 6\ncnt_event_read 0=7\n"))) << message();
    EXPECT_EQ(Numbers(), (std::vector<std::int32_t>{5, 6, 7, 12, 20, 21}));
    EXPECT_EQ(Find(12)->link_count, 0u);
    EXPECT_EQ(Find(12)->links, nullptr);
    EXPECT_EQ(Find(7)->link_count, 0u);
    EXPECT_EQ(Find(20)->link_count, 1u);
    EXPECT_EQ(Find(21)->expected_type, static_cast<std::uint32_t>(kTypeReal));
    EXPECT_EQ(Find(6)->expected_type, static_cast<std::uint32_t>(kTypeBoolean));
    EXPECT_EQ(Find(6)->owner, Find(5));
    EXPECT_EQ(Find(5)->links[0], Find(6));
}

TEST_F(ParameterChannelTest, RequiredParameterChannels) {
    EXPECT_FALSE(Read(Plant("cnt_event_start 0=14\n")));
    EXPECT_EQ(message(), Msg(messages::kParameterChannelExpected, "14"));
    EXPECT_EQ(Numbers(), std::vector<std::int32_t>{14});

    // The first call's channel stays; the owner gets no links.
    Renew();
    EXPECT_FALSE(Read(Plant("alarm_config 4=16 17\n")));
    EXPECT_EQ(message(), Msg(messages::kParameterChannelExpected, "16"));
    EXPECT_EQ(Numbers(), (std::vector<std::int32_t>{16, 17}));
    EXPECT_EQ(Find(16)->link_count, 0u);
    EXPECT_EQ(Find(16)->links, nullptr);
    EXPECT_EQ(Find(17)->owner, Find(16));

    Renew();
    EXPECT_FALSE(Read(Plant("alarm_config 4=16,,\n")));
    EXPECT_EQ(message(), Msg(messages::kParameterChannelExpected, "16"));
}

TEST_F(ParameterChannelTest, ParameterTokensMustBeNumbers) {
    const std::pair<std::string, std::string> cases[] = {
        {"ai 0=12 x\n", "x"},
        {"cnt_event_start 0=12 1.5\n", "1.5"},
        {"alarm_config 4=12 13 99999999999\n", "99999999999"},
    };
    for (const auto& [line, token] : cases) {
        SCOPED_TRACE(line);
        Renew();
        EXPECT_FALSE(Read(Plant(line)));
        EXPECT_EQ(message(), Msg(messages::kInvalidChannelNumber, token));
        EXPECT_EQ(Find(12)->link_count, 0u);
    }
    // A long token is read whole, not cut into another number.
    Renew();
    ASSERT_TRUE(Read(Plant("ai 0=12 " + std::string(40, '0') + "17\n"))) << message();
    EXPECT_EQ(Find(12)->links[0], Find(17));
}

TEST_F(ParameterChannelTest, NumbersAreUniqueAcrossModulesAndParameterChannels) {
    const std::pair<std::string, std::string> cases[] = {
        // The owner is registered before its parameter channel.
        {Plant("ai 0=12 12\n"), "12"},
        {Plant("ai 0=12 13\nao 0=13\n"), "13"},
        {Plant("ai 0=12 13\n", "alarm_config 4=20 21 12\n"), "12"},
        {Plant("ao 0=5\n", "display_data=5\n"), "5"},
        // Negative numbers are numbers like any other.
        {Plant("ao 0=-1\nai 0=7 -1\n"), "-1"},
    };
    for (const auto& [plant, number] : cases) {
        SCOPED_TRACE(plant);
        Renew();
        EXPECT_FALSE(Read(plant));
        EXPECT_EQ(message(), Msg(messages::kDuplicateChannelNumber, number));
    }
    // The failed owner of the first case stays registered, without links.
    Renew();
    EXPECT_FALSE(Read(Plant("ai 0=12 12\n")));
    EXPECT_EQ(driver_->channels.Count(), 1u);
    EXPECT_EQ(Find(12)->link_count, 0u);
}

TEST_F(ParameterChannelTest, OtherLinesIgnoreExtraValueTokens) {
    ASSERT_TRUE(Read(Plant("ao 0=1 2 3\n", "display_data=4 5\n"))) << message();
    EXPECT_EQ(Numbers(), (std::vector<std::int32_t>{1, 4}));
}

}  // namespace
