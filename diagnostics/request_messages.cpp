#include "diagnostics/request_messages.h"

#include "diagnostics/messages.h"
#include "host/driver_api.h"
#include "host/text.h"

namespace tovi {
namespace {

// "MESSAGE (N)" to the host's message log.
void SendWithChannel(host::Cap message_capacity, const char* message, std::int32_t channel_number) {
    constexpr host::Cap kCapacity = 255;
    char text[kCapacity + 1];
    host::IntToStr(channel_number, kCapacity, text, 10, nullptr);
    host::StrPrepend(kCapacity, text, 1, " (");
    host::StrAppend(kCapacity, text, 0, ")");
    host::StrPrepend(kCapacity, text, message_capacity, message);
    qs_dapi::AddLogMessage(1, 1, kCapacity, text);
}

}  // namespace

void ReportTypeMismatch(std::int32_t channel_number) {
    SendWithChannel(messages::kIncompatibleChannelType.capacity(), messages::kIncompatibleChannelType.c_str(),
                    channel_number);
}

void ReportRequestRefused(std::int32_t channel_number) {
    SendWithChannel(messages::kRequestNotQueued.capacity(), messages::kRequestNotQueued.c_str(), channel_number);
}

}  // namespace tovi
