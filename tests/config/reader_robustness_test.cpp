// Failed allocations and bad input: every reading ends in success or in one of the
// reader's messages, and Done releases whatever it built.
#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "tests/config/junk_maker.h"
#include "tests/config/reader_fixture.h"

namespace {

using namespace tovi;
using tovitest::kExamplePlant;
using tovitest::JunkMaker;
using tovitest::kExampleTypes;
using tovitest::Msg;
using tovitest::ReaderTest;

bool StartsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }
bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// A message of the reader, or of the module-type check, whatever it quotes.
bool IsReaderMessage(const std::string& m) {
    for (const std::string& prefix :
         {Msg(messages::kCannotOpenParameterFile), Msg(messages::kCannotOpenTypeDatabase),
          Msg(messages::kInvalidParameterFile), Msg(messages::kNoModuleDefined),
          Msg(messages::kModuleNameExists) + " (", Msg(messages::kModuleSectionMissing),
          Msg(messages::kUnknownIoType) + " (", Msg(messages::kInvalidPortNumber) + " (",
          Msg(messages::kInvalidBitNumber) + " (", Msg(messages::kInvalidChannelNumber) + " (",
          Msg(messages::kDuplicateChannelNumber) + " (", Msg(messages::kParameterChannelExpected) + " (",
          Msg(messages::kUnknownPortTypeInDatabase) + " ("}) {
        if (StartsWith(m, prefix)) return true;
    }
    if (StartsWith(m, Msg(messages::kModuleWord) + " ") && Contains(m, Msg(messages::kNotFoundInTypeDatabase))) {
        return true;
    }
    return Contains(m, ": " + Msg(messages::kPortNumberInvalid) + " (") ||
           Contains(m, ": " + Msg(messages::kPortTypeInvalid) + " (");
}

class RobustnessTest : public ReaderTest {
protected:
    // What a reading built must hang together, whether it succeeded or not.
    void ExpectConsistent() {
        const auto modules = Modules();
        const std::set<const Module*> known(modules.begin(), modules.end());
        std::set<std::uint32_t> numbers;
        driver_->channels.ForEach([&](const host::CollectionItem& item) {
            const auto& c = static_cast<const Channel&>(item);
            EXPECT_TRUE(numbers.insert(static_cast<std::uint32_t>(c.number)).second) << "number twice: " << c.number;
            EXPECT_EQ(known.count(c.module), 1u) << c.number;
            EXPECT_NE(c.io_type, kIoNone);
            EXPECT_LE(c.link_count, 2u);
            EXPECT_EQ(c.links == nullptr, c.link_count == 0);
            for (std::uint32_t i = 0; i < c.link_count; ++i) EXPECT_EQ(c.links[i]->owner, &c);
            if ((c.flags & kParameterChannel) != 0) {
                ASSERT_NE(c.owner, nullptr);
                EXPECT_EQ(Find(c.owner->number), c.owner);
            } else {
                EXPECT_EQ(c.owner, nullptr);
            }
        });
    }
};

TEST_F(RobustnessTest, EveryFailedAllocationOfAReadingIsAnInternalErrorAndLeaksNothing) {
    Types(kExampleTypes);
    const std::string path = files_.Write("plant.ini", kExamplePlant);
    const std::int64_t start = host::testing::LiveBlocks();
    std::uint64_t reading_allocations = 0;
    for (std::uint64_t n = 1;; ++n) {
        SCOPED_TRACE(n);
        Renew();
        const std::uint64_t before = host::testing::AllocationCount();
        host::testing::FailAllocation(n);
        const bool read = ReadPath(path);
        host::testing::FailAllocation(0);
        if (host::testing::AllocationCount() - before < n) {
            ASSERT_TRUE(read) << message();
            reading_allocations = n - 1;
            break;
        }
        EXPECT_FALSE(read);
        EXPECT_EQ(message(), Msg(messages::kInternalError));
        ExpectConsistent();
        Release();
        EXPECT_EQ(host::testing::LiveBlocks(), start - 1);  // the instance itself went with DisposeDriver
        ASSERT_LT(n, 1000u);
    }
    // Two modules, ten channels and three link arrays.
    EXPECT_EQ(reading_allocations, 15u);

    // The same through Init, up to the first Init that does not reach the failure.
    for (std::uint64_t n = 1;; ++n) {
        SCOPED_TRACE(n);
        Renew();
        const std::uint64_t before = host::testing::AllocationCount();
        host::testing::FailAllocation(n);
        char message[256] = {};
        const std::uint8_t started = Init(driver_, static_cast<std::uint32_t>(path.size()), path.c_str(), 255,
                                          message, 0, 0, nullptr, nullptr);
        host::testing::FailAllocation(0);
        const bool reached = host::testing::AllocationCount() - before >= n;
        Release();
        EXPECT_EQ(host::testing::LiveBlocks(), start - 1);
        if (!reached) break;
        EXPECT_EQ(started, 0);
        EXPECT_EQ(std::string(message), Msg(messages::kInternalError));
        ASSERT_LT(n, 1000u);
    }
}

TEST_F(RobustnessTest, HandWrittenBadInput) {
    Types(kExampleTypes);
    const std::string head = "[tovi]\n[modules]\nm1=dio16, dev1, sub1\n[m1]\n";
    const std::string long_run(5000, '7');
    const std::vector<std::string> plants = {
        head + "ai 2=" + long_run + "\n",
        head + "ai " + long_run + "=1\n",
        head + std::string(5000, ' ') + "ai 2=1 " + std::string(5000, ',') + "2\n",
        head + std::string(3000, ';') + "\n" + std::string(70000, 'x') + "\ndo_byte 1=11",
        head + "ai 2=1\0 2\n" + std::string("di_bit 0 3=\0 10\n", 16),
        head + "ai\n=\n==\n=ai 2\n ai 2 = 3 = 4\n",
        head + "ai -2147483648=1\nai 2147483648=2\n",
        head + "ai 2=-2147483648\ndo_byte 1=2147483647\nai 2=2147483648\n",
        head + "di_bit -1 -1=1\n",
        head + "ai 2=12 13\r\n\r\ndo_byte 1=14\r",
        "[tovi]\n[modules]\n" + std::string(100, 'n') + "=dio16\n[" + std::string(100, 'n') + "]\nai 2=1\n",
        "[tovi]\n[modules]\n[[m1]]\n[m1\nai 2=1\n",
        "\xEF\xBB\xBF[tovi]\n[modules]\nm1=dio16\n[m1]\n",
        std::string("\0\0\0[tovi]\n", 10),
        "",
        "[",
        "]\n=\n[tovi]\n[modules]\n[modules]\nm1=x\n",
    };
    for (const std::string& plant : plants) {
        SCOPED_TRACE(plant.substr(0, 80));
        Renew();
        if (!Read(plant)) {
            EXPECT_TRUE(IsReaderMessage(message())) << message();
        }
        ExpectConsistent();
    }
}

TEST_F(RobustnessTest, GeneratedJunkEndsInSuccessOrAReaderMessage) {
    JunkMaker maker(20261208);
    int accepted = 0;
    std::set<std::string> kinds;
    for (int round = 0; round < 600; ++round) {
        const std::string types = maker.Types();
        const std::string plant = maker.Plant();
        SCOPED_TRACE(round);
        Renew();
        Types(types);
        if (Read(plant)) {
            ++accepted;
        } else {
            EXPECT_TRUE(IsReaderMessage(message())) << message();
            kinds.insert(message().substr(0, 30));
        }
        ExpectConsistent();
        if (HasFatalFailure() || HasFailure()) break;
    }
    // The mix reaches both outcomes and several different faults.
    EXPECT_GT(accepted, 30);
    EXPECT_GE(kinds.size(), 10u);
}

}  // namespace
