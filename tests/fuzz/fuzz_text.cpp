// Fuzz target: bounded text operations and the display number field, with buffers of
// exactly capacity + 1 bytes so that any write or read beyond them is caught.
#include <cstring>
#include <memory>
#include <vector>

#include "device/display_command.h"
#include "host/text.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// The input read as capacities, numbers and texts.
class Input : public tovifuzz::ByteReader {
public:
    using ByteReader::ByteReader;
    std::uint32_t Capacity() { return Byte() % 48; }
    std::int32_t Small() { return static_cast<std::int8_t>(Byte()); }
    double Real() {
        double value = 0;
        std::uint8_t bytes[8];
        for (auto& b : bytes) b = Byte();
        std::memcpy(&value, bytes, 8);
        return value;
    }
    // A source text of exactly capacity + 1 bytes, not necessarily terminated.
    std::unique_ptr<char[]> Text(std::uint32_t capacity) {
        auto text = std::make_unique<char[]>(capacity + 1);
        for (std::uint32_t i = 0; i <= capacity; ++i) {
            const std::uint8_t b = Byte();
            text[i] = static_cast<char>(b % 5 == 0 ? 0 : (b % 3 == 0 ? ',' : b));
        }
        return text;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    const std::uint8_t operation = in.Byte();
    const std::uint32_t dst_cap = in.Capacity();
    const std::uint32_t cap1 = in.Capacity();
    const std::uint32_t cap2 = in.Capacity();
    auto dst = in.Text(dst_cap);
    dst[dst_cap] = '\0';  // destinations are terminated texts
    auto s1 = in.Text(cap1);
    auto s2 = in.Text(cap2);
    host::Flag ok = 0;
    switch (operation % 16) {
        case 0: host::StrCopy(dst_cap, dst.get(), cap1, s1.get()); break;
        case 1: host::StrAppend(dst_cap, dst.get(), cap1, s1.get()); break;
        case 2: host::StrConcat(dst_cap, dst.get(), cap1, s1.get(), cap2, s2.get()); break;
        case 3: host::StrPrepend(dst_cap, dst.get(), cap1, s1.get()); break;
        case 4: host::StrConcat(dst_cap, dst.get(), dst_cap, dst.get(), cap1, s1.get()); break;  // overlapping
        case 5: host::StrPrepend(dst_cap, dst.get(), dst_cap, dst.get()); break;
        case 6: host::StrToken(dst_cap, dst.get(), cap1, s1.get(), cap2, s2.get(), in.Small()); break;
        case 7: host::StrDelete(dst_cap, dst.get(), in.Small(), in.Small()); break;
        case 8: host::StrSub(dst_cap, dst.get(), cap1, s1.get(), in.Small(), in.Small()); break;
        case 9: host::StrFind(cap1, s1.get(), cap2, s2.get()); break;
        case 10: host::StrTrim(dst_cap, dst.get()); host::StrLower(dst_cap, dst.get()); break;
        case 11: host::StrToInt(cap1, s1.get(), in.Byte() % 2 ? 16 : 10, &ok); break;
        case 12: host::StrToReal(cap1, s1.get(), &ok); break;
        case 13: host::RealToStr(in.Small(), dst_cap, in.Real(), dst.get(), &ok); break;
        case 14: {
            std::int32_t value = 0;
            std::memcpy(&value, s1.get(), cap1 >= 3 ? 4 : 0);
            host::IntToStr(value, dst_cap, dst.get(), in.Byte() % 2 ? 16 : 10, &ok);
            break;
        }
        default: {
            // The display field: six characters, seven with a sign, whatever the value and range.
            char field[tovi::kFrameCapacity + 1];
            const double value = in.Real();
            const double minimum = in.Real();
            const double maximum = in.Real();
            tovi::FormatDisplayNumber(value, minimum, maximum, (operation & 0x10) != 0, field);
            const std::size_t length = std::strlen(field);
            if (length != 6 && !((operation & 0x10) != 0 && length == 7)) __builtin_trap();
            return 0;
        }
    }
    if (std::memchr(dst.get(), 0, dst_cap + 1) == nullptr) __builtin_trap();  // still terminated
    return 0;
}
