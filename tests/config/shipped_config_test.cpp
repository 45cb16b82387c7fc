// The shipped module-type database and the example plant: the plant reads whole
// against the database and shows every part of the format.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "tests/config/reader_fixture.h"

namespace {

using namespace tovi;
using tovitest::ReaderTest;

std::string Load(const std::string& relative) {
    std::ifstream file(std::string(TOVI_SOURCE_DIR) + "/" + relative, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

TEST_F(ReaderTest, ExamplePlantReadsAgainstTheShippedDatabase) {
    const std::string types = Load("config/tovi.ini");
    const std::string plant = Load("examples/plant.ini");
    ASSERT_FALSE(types.empty());
    ASSERT_FALSE(plant.empty());
    Types(types);
    ASSERT_TRUE(Read(plant)) << message();

    std::set<std::int32_t> io_types;
    bool optional_parameter = false;
    bool required_parameter = false;
    driver_->channels.ForEach([&](const host::CollectionItem& item) {
        const auto& c = static_cast<const Channel&>(item);
        io_types.insert(c.io_type);
        if ((c.flags & kParameterChannel) == 0) return;
        optional_parameter |= c.io_type == kIoAi || c.io_type == kIoCntEventRead;
        required_parameter |= c.io_type == kIoCntEventStart || c.io_type == kIoAlarmConfig;
    });
    // Every keyword once at least.
    EXPECT_EQ(io_types.size(), std::size(kIoTypes));
    EXPECT_TRUE(optional_parameter);
    EXPECT_TRUE(required_parameter);

    bool display = false;
    for (const Module* module : Modules()) {
        const std::string where = std::string(module->device) + " " + module->subdevice;
        EXPECT_NE(where.find("Address="), std::string::npos) << module->name;
        if (module->display_max != 0.0) display = true;
    }
    EXPECT_TRUE(display) << "a display module with display parameters";
}

TEST_F(ReaderTest, ShippedDatabaseAllowsWhatItListsAndCoversEveryKeyword) {
    // Each port line of each type section: a channel of every keyword it lists is
    // accepted (an unknown word in a list would fail the check).
    const std::string types = Load("config/tovi.ini");
    Types(types);
    std::istringstream lines(types);
    std::string section;
    std::set<std::string> covered;
    for (std::string raw; std::getline(lines, raw);) {
        if (raw.empty() || raw[0] == ';') continue;
        if (raw[0] == '[') {
            section = raw.substr(1, raw.find(']') - 1);
            continue;
        }
        if (section.ends_with(" PAR")) continue;
        std::string port = raw.substr(0, raw.find('='));
        if (port == "internal") port.clear();
        if (const auto comma = port.find(','); comma != std::string::npos) port.erase(comma, 1);
        std::istringstream list(raw.substr(raw.find('=') + 1));
        for (std::string word; std::getline(list >> std::ws, word, ',');) {
            covered.insert(word);
            SCOPED_TRACE(section + ": " + word + " " + port);
            Renew();
            EXPECT_TRUE(Read("[tovi]\n[modules]\nm=" + section + "\n[m]\n" + word + " " + port + "=1 2 3\n"))
                << message();
        }
    }
    EXPECT_EQ(covered.size(), std::size(kIoTypes));
}

}  // namespace
