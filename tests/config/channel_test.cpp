// The I/O vocabulary, the channel record and its value cell.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "config/channel.h"
#include "config/io_type.h"
#include "diagnostics/cp1250.h"
#include "host/memory.h"

namespace {

using namespace tovi;

IoTypeMatch Lookup(const std::string& word, std::string* lowered = nullptr) {
    char buffer[80] = {};
    std::strncpy(buffer, word.c_str(), 79);
    const IoTypeMatch match = IoTypeFromKeyword(79, buffer);
    if (lowered) *lowered = buffer;
    return match;
}

TEST(IoTypes, KeywordsInAnyCaseAndNothingElse) {
    for (const char* word : {"AI", "Ai", "ai"}) {
        std::string lowered;
        const IoTypeMatch match = Lookup(word, &lowered);
        EXPECT_TRUE(match.found) << word;
        EXPECT_EQ(match.io_type, kIoAi);
        EXPECT_EQ(match.expected_type, kTypeReal);
        EXPECT_EQ(lowered, "ai");
    }
    for (const char* word : {"ai1", "a", "", "display", "DI_BITS"}) {
        const IoTypeMatch match = Lookup(word);
        EXPECT_FALSE(match.found) << word;
        EXPECT_EQ(match.io_type, kIoNone);
        EXPECT_EQ(match.expected_type, kTypeNone);
    }
    // Every keyword maps to its own IoType; 11 is never produced, nor a string type.
    std::vector<int> seen;
    for (const IoTypeInfo& info : kIoTypes) {
        const IoTypeMatch match = Lookup(info.keyword);
        ASSERT_TRUE(match.found);
        EXPECT_NE(match.io_type, 11);
        EXPECT_NE(match.expected_type, kTypeString);
        EXPECT_STREQ(KeywordOfIoType(match.io_type), info.keyword);
        seen.push_back(match.io_type);
    }
    EXPECT_EQ(seen.size(), 17u);
    EXPECT_EQ(Lookup("cnt_event_start").expected_type, kTypeBoolean);
    EXPECT_EQ(Lookup("alarm_enable").expected_type, kTypeReal);
    EXPECT_TRUE(IsDisplayType(Lookup("display_select").io_type));
    EXPECT_TRUE(IsDisplayType(Lookup("Display_Data").io_type));
    EXPECT_FALSE(IsDisplayType(kIoAo));
}

TEST(Channel, FreshChannelAndUnsignedOrder) {
    Channel fresh;
    EXPECT_EQ(fresh.port, -1);
    EXPECT_EQ(fresh.bit, -1);
    EXPECT_EQ(fresh.number, 0);
    EXPECT_EQ(fresh.value.type_code, kTypeNone);
    EXPECT_EQ(fresh.links, nullptr);
    EXPECT_EQ(fresh.owner, nullptr);

    Channel five, seven, minus_one;
    five.number = 5;
    seven.number = 7;
    minus_one.number = -1;
    EXPECT_EQ(five.Compare(seven), -1);
    EXPECT_EQ(seven.Compare(five), 1);
    EXPECT_EQ(minus_one.Compare(five), 1);
    EXPECT_EQ(five.Compare(five), 0);
}

TEST(Channel, CollectionFindsByNumberWithNegativesLast) {
    ChannelCollection channels;
    for (const std::int32_t number : {12, -1, 0, 7, -2147483647 - 1, 2147483647, 3}) {
        Channel* channel = host::NewObject<Channel>();
        channel->number = number;
        channels.Insert(channel);
    }
    std::vector<std::int32_t> order;
    channels.ForEach([&](const host::CollectionItem& item) { order.push_back(static_cast<const Channel&>(item).number); });
    EXPECT_EQ(order, (std::vector<std::int32_t>{0, 3, 7, 12, 2147483647, -2147483647 - 1, -1}));
    ASSERT_NE(channels.Find(-1), nullptr);
    EXPECT_EQ(channels.Find(-1)->number, -1);
    EXPECT_EQ(channels.Find(8), nullptr);
    channels.FreeAll();
    EXPECT_EQ(channels.Find(7), nullptr);
}

std::uint8_t* PayloadWithPointer(std::uint8_t (&payload)[8], const char* text) {
    std::memset(payload, 0, sizeof payload);
    std::memcpy(payload, &text, sizeof text);
    return payload;
}

TEST(ValueCell, StringValuesOwnAPrivateBoundedCopy) {
    const std::int64_t live_before = host::testing::LiveBlocks();
    ValueCell cell;
    std::string long_text(300, 'x');
    long_text[254] = 'y';
    std::uint8_t payload[8];
    cell.AssignValue(kTypeString, PayloadWithPointer(payload, long_text.c_str()));
    char* block = cell.StringBlock();
    ASSERT_NE(block, nullptr);
    EXPECT_NE(block, long_text.c_str());
    EXPECT_EQ(std::strlen(block), 255u);
    EXPECT_EQ(block[254], 'y');
    EXPECT_EQ(host::testing::LiveBlocks(), live_before + 1);

    // The caller's text can go away; a second string reuses the same block.
    long_text.assign(300, 'z');
    const std::string second = "second";
    cell.AssignValue(kTypeString, PayloadWithPointer(payload, second.c_str()));
    EXPECT_EQ(cell.StringBlock(), block);
    EXPECT_STREQ(cell.StringBlock(), "second");

    // A real value frees the block and keeps its 8 bytes.
    const double real = 2.5;
    std::memcpy(payload, &real, 8);
    cell.AssignValue(kTypeReal, payload);
    EXPECT_EQ(host::testing::LiveBlocks(), live_before);
    double back = 0;
    std::memcpy(&back, cell.payload, 8);
    EXPECT_EQ(back, 2.5);

    // A string with no text holds no block, also when one was held before.
    cell.AssignValue(kTypeString, PayloadWithPointer(payload, "abc"));
    cell.AssignValue(kTypeString, PayloadWithPointer(payload, nullptr));
    EXPECT_EQ(cell.StringBlock(), nullptr);
    EXPECT_EQ(host::testing::LiveBlocks(), live_before);
}

TEST(Channel, AssignCopiesValueButNotLinksAndReleaseFreesWhatItOwns) {
    const std::int64_t live_before = host::testing::LiveBlocks();
    Channel source;
    source.io_type = kIoAi;
    source.port = 2;
    source.number = 12;
    source.flags = kQueued;
    source.expected_type = kTypeReal;
    std::uint8_t payload[8];
    source.value.AssignValue(kTypeString, PayloadWithPointer(payload, "text"));

    Channel target;
    Channel owner;
    void* links = nullptr;
    host::MemAlloc(&links, sizeof(Channel*));
    target.links = static_cast<Channel**>(links);
    target.link_count = 1;
    target.owner = &owner;
    target.Assign(source);
    EXPECT_EQ(target.number, 12);
    EXPECT_EQ(target.port, 2);
    EXPECT_EQ(target.flags, kQueued);
    EXPECT_EQ(target.expected_type, kTypeReal);
    EXPECT_STREQ(target.value.StringBlock(), "text");
    EXPECT_NE(target.value.StringBlock(), source.value.StringBlock());
    EXPECT_EQ(target.links, links);
    EXPECT_EQ(target.owner, &owner);

    target.Release();
    source.Release();
    EXPECT_EQ(target.links, nullptr);
    EXPECT_EQ(target.link_count, 1u);
    EXPECT_EQ(target.value.type_code, kTypeNone);
    EXPECT_EQ(host::testing::LiveBlocks(), live_before);
}

// The driver's own messages are checked byte for byte where they are produced
// (message_texts_test); here only the conversion the tools use to show them.
TEST(Texts, Windows1250ConvertsBothWays) {
    EXPECT_EQ(text::Cp1250FromUtf8("Čtení ů ž €"), "\xC8ten\xED \xF9 \x9E \x80");
    EXPECT_EQ(text::Utf8FromCp1250("\xC8ten\xED \xF9 \x9E \x80"), "Čtení ů ž €");
}

}  // namespace
