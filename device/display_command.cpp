#include "device/display_command.h"

#include <cmath>
#include <cstring>

#include "config/module.h"
#include "device/channel_values.h"
#include "device/vendor_library.h"
#include "driver/driver_instance.h"

namespace tovi {
namespace {

constexpr std::uint32_t kReplySize = 80;
constexpr std::uint32_t kReplyTimeout = 100;
constexpr std::uint32_t kCarriageReturn = 13;
constexpr std::uint32_t kDataWidth = 6;

double TakeValue(DriverInstance& driver, Channel& channel) {
    platform::LockGuard guard(driver.lock);
    channel.flags = (channel.flags & ~static_cast<std::uint32_t>(kWriteQueued)) | kBusy;
    return RealOf(channel.value);
}

}  // namespace

void FormatDisplayNumber(double value, double minimum, double maximum, bool with_sign, char* text) {
    if (std::isnan(value)) value = 0.0;
    if (value > maximum) {
        value = maximum;
    } else if (value < minimum) {
        value = minimum;
    }
    if (!std::isfinite(value)) value = 0.0;  // a range bound that is itself not finite
    host::RealToStr(4, kFrameCapacity, std::fabs(value), text, nullptr);
    if (text[0] == '-') host::StrDelete(kFrameCapacity, text, 0, 1);
    if (host::StrLength(kFrameCapacity, text) > kDataWidth) {
        host::StrDelete(kFrameCapacity, text, kDataWidth, -1);
    } else {
        while (host::StrLength(kFrameCapacity, text) < kDataWidth) host::StrPrepend(kFrameCapacity, text, 0, "0");
    }
    if (with_sign) host::StrPrepend(kFrameCapacity, text, 0, value < 0 ? "-" : "+");
}

void AppendChecksum(char* frame) {
    unsigned sum = 0;
    const std::uint32_t length = host::StrLength(kFrameCapacity, frame);
    for (std::uint32_t i = 0; i < length; ++i) sum += static_cast<unsigned char>(frame[i]);
    sum &= 0xFF;
    static constexpr char kDigits[] = "0123456789ABCDEF";
    const char checksum[3] = {kDigits[sum >> 4], kDigits[sum & 0xF], '\0'};
    host::StrAppend(kFrameCapacity, frame, 1, checksum);
}

std::int32_t SendDisplayCommand(DriverInstance& driver, Channel& channel, Module& module) {
    char frame[kFrameCapacity + 1];
    char number[kFrameCapacity + 1];
    std::memset(frame, 0, sizeof frame);
    host::StrConcat(kFrameCapacity, frame, 0, "$", 31, module.address);
    if (channel.io_type == kIoDisplaySelect) {
        host::StrAppend(kFrameCapacity, frame, 0, "8");
        host::IntToStr(TruncateToInt32(TakeValue(driver, channel)), kFrameCapacity, number, 10, nullptr);
    } else {
        host::StrAppend(kFrameCapacity, frame, 0, "9");
        FormatDisplayNumber(TakeValue(driver, channel), module.display_min, module.display_max,
                            module.display_sign != 0, number);
    }
    host::StrAppend(kFrameCapacity, frame, kFrameCapacity, number);
    if ((driver.settings & kSettingCheckSum) != 0) AppendChecksum(frame);
    const char end[2] = {static_cast<char>(kCarriageReturn), '\0'};
    host::StrAppend(kFrameCapacity, frame, 0, end);

    const VendorFunctions& vendor = Vendor();
    const std::int32_t written = vendor.COMWrite(module.serial_handle, frame, host::StrLength(kFrameCapacity, frame));
    if (written != 0) return written;
    std::uint32_t received = 0;
    // The reply overwrites the frame and is not examined further.
    return vendor.COMRead(module.serial_handle, frame, kReplySize, kReplyTimeout, kCarriageReturn, &received);
}

}  // namespace tovi
