#include "host/ini_file.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "temp_dir.h"

namespace {

class Ini : public TempDirTest {
protected:
    bool OpenWith(const std::string& text) {
        const std::string path = PathOf("test.ini");
        std::ofstream(path, std::ios::binary) << text;
        return ini_.Open(static_cast<host::Cap>(path.size()), path.c_str());
    }
    std::string Read(const char* key) {
        char value[64] = "untouched";
        if (!ini_.ReadString(60, key, 63, value)) return "<absent>";
        return value;
    }
    std::vector<std::pair<std::string, std::string>> Lines() {
        std::vector<std::pair<std::string, std::string>> lines;
        char key[32], value[32];
        for (bool more = ini_.FirstLine(31, key, 31, value); more; more = ini_.NextLine(31, key, 31, value)) {
            lines.emplace_back(key, value);
        }
        return lines;
    }

    host::IniFile ini_;
};

const char* const kSample =
    "; leading comment\r\n"
    "orphan=1\r\n"
    "[Channels]\r\n"
    "  Speed = 10 \r\n"
    "\r\n"
    "   ; indented comment\r\n"
    "flag\r\n"
    "speed=20\r\n"
    "Path = a=b\r\n"
    "[ other ]\n"
    "x=1\n"
    "[CHANNELS]\n"
    "late=1\n";

TEST_F(Ini, SectionsKeysAndLineOrder) {
    ASSERT_TRUE(OpenWith(kSample));
    EXPECT_EQ(ini_.CurrentLineNumber(), 0u);
    EXPECT_EQ(Read("orphan"), "<absent>");  // no section current
    ASSERT_TRUE(ini_.FindSection(20, "channels"));
    EXPECT_EQ(ini_.CurrentLineNumber(), 3u);
    EXPECT_EQ(Read("SPEED"), "10");  // first of duplicate keys
    EXPECT_EQ(Read("flag"), "");
    EXPECT_EQ(Read("path"), "a=b");
    EXPECT_EQ(Read("late"), "<absent>");  // the repeated section does not count
    EXPECT_EQ(Read("x"), "<absent>");

    const std::vector<std::pair<std::string, std::string>> expected = {
        {"Speed", "10"}, {"flag", ""}, {"speed", "20"}, {"Path", "a=b"}};
    EXPECT_EQ(Lines(), expected);
    EXPECT_EQ(ini_.CurrentLineNumber(), 9u);
    char key[4];
    EXPECT_FALSE(ini_.NextLine(3, key, 3, key));

    ASSERT_TRUE(ini_.FindSection(20, "Other"));
    EXPECT_EQ(ini_.CurrentLineNumber(), 10u);
    EXPECT_EQ(Read("x"), "1");
    EXPECT_FALSE(ini_.FindSection(20, "none"));
    EXPECT_EQ(ini_.CurrentLineNumber(), 0u);
    EXPECT_EQ(Read("x"), "<absent>");
    EXPECT_TRUE(Lines().empty());
}

TEST_F(Ini, BoolTexts) {
    ASSERT_TRUE(OpenWith("[s]\na=1\nb= FALSE \nc=Yes\nd=no\ne=On\nf=off\ng=2\nh=\n"));
    ASSERT_TRUE(ini_.FindSection(1, "s"));
    const std::pair<const char*, host::Flag> known[] = {{"a", 1}, {"b", 0}, {"c", 1}, {"d", 0}, {"e", 1}, {"f", 0}};
    for (const auto& [key, truth] : known) {
        host::Flag flag = 7;
        EXPECT_TRUE(ini_.ReadBool(1, key, &flag)) << key;
        EXPECT_EQ(flag, truth) << key;
    }
    for (const char* key : {"g", "h", "missing"}) {
        host::Flag flag = 7;
        EXPECT_FALSE(ini_.ReadBool(10, key, &flag)) << key;
        EXPECT_EQ(flag, 7) << key;
    }
}

TEST_F(Ini, OddContentAndReopening) {
    std::string text = "[s]\nlong=" + std::string(500, 'v') + "\nnul=ab";
    text += '\0';
    text += "cd\nlast=z";  // no line end at the end of the file
    ASSERT_TRUE(OpenWith(text));
    ASSERT_TRUE(ini_.FindSection(1, "s"));
    char small[5];
    ASSERT_TRUE(ini_.ReadString(4, "long", 4, small));
    EXPECT_STREQ(small, "vvvv");
    EXPECT_EQ(Read("nul"), "ab");
    EXPECT_EQ(Read("last"), "z");

    ASSERT_TRUE(OpenWith("[t]\nk=v\n"));
    EXPECT_FALSE(ini_.FindSection(1, "s"));  // the old content is gone
    const std::string missing = PathOf("missing.ini");
    EXPECT_FALSE(ini_.Open(200, missing.c_str()));
    EXPECT_FALSE(ini_.FindSection(1, "t"));
    ini_.Close();
    ini_.Close();
}

TEST_F(Ini, ManyKeysInOneSection) {
    std::string text = "[big]\n";
    for (int i = 0; i < 10000; ++i) text += "Channel" + std::to_string(i) + "=" + std::to_string(i * 3) + "\n";
    ASSERT_TRUE(OpenWith(text));
    ASSERT_TRUE(ini_.FindSection(3, "BIG"));
    for (int i = 0; i < 10000; ++i) {
        const std::string key = "channel" + std::to_string(i);
        ASSERT_EQ(Read(key.c_str()), std::to_string(i * 3));
    }
    EXPECT_EQ(Lines().size(), 10000u);
    EXPECT_EQ(ini_.CurrentLineNumber(), 10001u);
}

}  // namespace
