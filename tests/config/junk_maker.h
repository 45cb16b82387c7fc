// Parameter files and module-type databases made of a random mix of sensible lines,
// broken lines and binary junk, from a fixed seed.
#pragma once

#include <cstdint>
#include <random>
#include <string>

#include "tests/config/reader_fixture.h"

namespace tovitest {

class JunkMaker {
public:
    explicit JunkMaker(std::uint32_t seed) : random_(seed) {}

    std::string Plant() {
        std::string text;
        if (Chance(3)) {
            // Line soup.
            const int lines = Pick(1, 40);
            for (int i = 0; i < lines; ++i) text += Line(kPlantParts) + LineEnd();
            return text;
        }
        // A plant of the example's shape with broken and foreign lines mixed in.
        text = "[tovi]" + LineEnd() + "[modules]" + LineEnd() + "m1=dio16, dev1, sub1" + LineEnd() + "disp=disp6" +
               LineEnd();
        if (Chance(4)) text += Line(kPlantParts) + LineEnd();
        for (const char* section : {"[m1]", "[disp]"}) {
            text += std::string(section) + LineEnd();
            const int lines = Pick(0, 12);
            for (int i = 0; i < lines; ++i) {
                text += (Chance(6) ? Line(kPlantParts) : Channel(section[1] == 'd')) + LineEnd();
            }
        }
        if (Chance(8)) text.resize(static_cast<std::size_t>(Pick(0, static_cast<int>(text.size()))));
        return text;
    }
    std::string Types() {
        std::string text = Chance(5) ? std::string() : std::string(tovitest::kExampleTypes);
        if (Chance(2)) return text;
        const int lines = Pick(0, 20);
        for (int i = 0; i < lines; ++i) text += Line(kTypeParts) + LineEnd();
        return text;
    }

private:
    static constexpr const char* kPlantParts[] = {
        "[tovi]", "[modules]", "[m1]", "[M2]", "[disp]", "m1=dio16, dev1, sub1", "M2=dio16", "disp=disp6",
        "m1=disp6", "x=", "debug=on", "log_file=", "; comment", "ai 2=", "AI 2=", "di_bit 0 3=", "do_bit 0,3=",
        "do_byte 1=", "cnt_event_start 3=", "alarm_config 4=", "cnt_event_read 3=", "display_data=",
        "display_select 9=", "cjc 2=", "ao 2=", "alarm_reset 4="};
    static constexpr const char* kTypeParts[] = {
        "[dio16]", "[disp6]", "[disp6 PAR]", "[dio16 PAR]", "0, 3=", "1=", "2=", "3=", "4=", "internal=",
        "display_data=", "display_select=", "ai", "cjc, ", "di_bit, do_bit", "AI,XX", ",,", "true", "-1e400"};

    int Pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }
    bool Chance(int one_in) { return Pick(1, one_in) == 1; }

    std::string Number() {
        switch (Pick(0, 7)) {
            case 0: return std::to_string(Pick(-3, 30));
            case 1: return std::to_string(Pick(10, 20));
            case 2: return "99999999999";
            case 3: return "-2147483648";
            case 4: return "0x1F";
            case 5: return std::string(Pick(1, 400), '1');
            case 6: return "";
            default: return std::to_string(Pick(0, 4));
        }
    }
    std::string Junk() {
        std::string junk;
        const int length = Chance(10) ? Pick(1000, 6000) : Pick(0, 12);
        const char filler = static_cast<char>(Pick(0, 255));
        for (int i = 0; i < length; ++i) junk += Chance(4) ? static_cast<char>(Pick(0, 255)) : filler;
        return junk;
    }
    // A channel line that the example database mostly accepts.
    std::string Channel(bool display) {
        static const char* const kM1[] = {"di_bit 0 3", "DO_BIT 0,3", "do_byte 1", "di_byte 1", "ai 2",
                                          "cjc 2", "cnt_event_start 3", "cnt_event_read 3", "alarm_config 4"};
        std::string line = display ? (Chance(2) ? "display_data" : "display_select") : kM1[Pick(0, 8)];
        if (Chance(10)) line += " " + Number();
        line += "=" + std::to_string(Pick(-2, 60));
        const int extras = Pick(0, 3);
        for (int i = 0; i < extras; ++i) line += (Chance(2) ? " " : ", ") + (Chance(8) ? Number() : std::to_string(Pick(0, 80)));
        return line;
    }
    template <std::size_t N>
    std::string Line(const char* const (&parts)[N]) {
        std::string line = parts[Pick(0, static_cast<int>(N) - 1)];
        const int extras = Pick(0, 3);
        for (int i = 0; i < extras; ++i) {
            switch (Pick(0, 4)) {
                case 0: line += " " + Number(); break;
                case 1: line += "," + Number(); break;
                case 2: line += Junk(); break;
                case 3: line += parts[Pick(0, static_cast<int>(N) - 1)]; break;
                default: line += std::string(Pick(1, 4), Chance(2) ? ' ' : ','); break;
            }
        }
        if (Chance(20)) line = Junk();
        return line;
    }
    std::string LineEnd() {
        switch (Pick(0, 9)) {
            case 0: return "\r\n";
            case 1: return "";
            case 2: return "\r";
            default: return "\n";
        }
    }

    std::mt19937 random_;
};

}  // namespace tovitest
