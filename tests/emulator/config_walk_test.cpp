// The emulator's own reading of the configuration files must come to the driver's
// result: the same fault with the same message, or success with the same modules
// and channels; and it must point at the line the fault comes from.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "emulator/plant/config_walk.h"
#include "tests/config/junk_maker.h"
#include "tests/config/reader_fixture.h"

namespace {

using tovihost::ConfigWalk;
using tovitest::kExamplePlant;
using tovitest::kExampleTypes;

class ConfigWalkTest : public tovitest::ReaderTest {
protected:
    // Reads plant with the driver and with the walk; both must agree.
    void ExpectAgreement(const std::string& plant) {
        Renew();
        if (!std::filesystem::exists(files_.path() / "tovi.ini")) Types(kExampleTypes);
        ExpectAgreementOn(files_.Write("plant.ini", plant));
    }
    // The same with whatever files are there.
    void ExpectAgreementOn(const std::string& path) {
        const bool read = ReadPath(path);
        walk_ = std::make_unique<ConfigWalk>();
        walk_->Run(path, files_.Path("tovi.ini"));
        const auto& fault = walk_->fault();
        ASSERT_EQ(read, !fault.has_value()) << (read ? tovi::text::Utf8FromCp1250(fault->message) : message());
        if (read) {
            EXPECT_EQ(walk_->modules().size(), Modules().size());
            EXPECT_EQ(walk_->channels().size(), driver_->channels.Count());
        } else {
            EXPECT_EQ(fault->message.substr(0, 255), message());
            ASSERT_NE(fault->place.file, nullptr);
        }
    }
    // The line the walk blames, as "file line", file being "plant" or "types".
    std::string Blamed() const {
        const auto& fault = walk_->fault();
        if (!fault) return "none";
        const bool types = fault->place.file == &walk_->types();
        return std::string(types ? "types " : "plant ") + std::to_string(fault->place.line);
    }

    std::unique_ptr<ConfigWalk> walk_;
};

TEST_F(ConfigWalkTest, EveryFaultIsPlacedOnItsLine) {
    Types(kExampleTypes + std::string("[bad]\n2=ai, nonsense\n"));
    const std::string head = "[tovi]\n[modules]\nm1=dio16\nm2=bad\n";  // lines 1 to 4
    struct Case {
        std::string rest;  // from line 5 on
        std::string blamed;
    };
    const Case cases[] = {
        {"[m1]\ndo_byte 1=1\n[m2]\n", "none"},
        {"[m1]\n; c\nxy 1=1\n[m2]\n", "plant 7"},
        {"[m1]\nai x=1\n[m2]\n", "plant 6"},
        {"[m1]\ndi_bit 0=1\n[m2]\n", "plant 6"},
        {"[m1]\ndo_byte 1=one\n[m2]\n", "plant 6"},
        {"[m1]\ndo_byte 9=1\n[m2]\n", "plant 6"},
        {"[m1]\nao 1=1\n[m2]\n", "plant 6"},
        {"[m1]\n[m2]\ncjc 2=1\n", "types 13"},
        {"[m1]\ndo_byte 1=1\n\ncnt_event_start 3=2 1\n[m2]\n", "plant 8"},
        {"[m1]\ncnt_event_start 3=2\n[m2]\n", "plant 6"},
        {"[m1]\nai 2=1 z\n[m2]\n", "plant 6"},
        {"[m1]\n", "plant 4"},      // m2 has no section: its modules line
        {"m1=x\n[m1]\n[m2]\n", "plant 5"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rest);
        ExpectAgreement(head + c.rest);
        EXPECT_EQ(Blamed(), c.blamed);
    }
    // The duplicate points back at the first use; a type missing from the database
    // points at the module's line.
    ExpectAgreement(head + "[m1]\ndo_byte 1=7\nai 2=8 7\n[m2]\n");
    ASSERT_TRUE(walk_->fault().has_value());
    ASSERT_EQ(walk_->fault()->notes.size(), 1u);
    EXPECT_EQ(walk_->fault()->notes[0].place.line, 6u);
    ExpectAgreement("[tovi]\n[modules]\n\nm=nosuchtype\n[m]\nai 2=1\n");
    EXPECT_EQ(Blamed(), "plant 6");
    ASSERT_EQ(walk_->fault()->notes.size(), 1u);
    EXPECT_EQ(walk_->fault()->notes[0].place.line, 4u);
}

TEST_F(ConfigWalkTest, FilesThatCannotBeReadAreBlamedAsAWhole) {
    Renew();
    ExpectAgreementOn(files_.Path("absent.ini"));
    ASSERT_TRUE(walk_->fault().has_value());
    EXPECT_EQ(walk_->fault()->place.file, &walk_->parameters());
    Renew();
    ExpectAgreementOn(files_.Write("plant.ini", kExamplePlant));
    ASSERT_TRUE(walk_->fault().has_value());
    EXPECT_EQ(walk_->fault()->place.file, &walk_->types());
    EXPECT_EQ(walk_->fault()->place.line, 0u);
}

TEST_F(ConfigWalkTest, AgreesWithTheDriverOnGeneratedJunk) {
    tovitest::JunkMaker maker(7);
    for (int round = 0; round < 600; ++round) {
        SCOPED_TRACE(round);
        Types(maker.Types());
        ExpectAgreement(maker.Plant());
        if (HasFailure()) break;
    }
}

}  // namespace
