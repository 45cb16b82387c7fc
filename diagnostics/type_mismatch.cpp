#include "diagnostics/type_mismatch.h"

#include "diagnostics/messages.h"
#include "host/driver_api.h"
#include "host/text.h"

namespace tovi {

void ReportTypeMismatch(std::int32_t channel_number) {
    constexpr host::Cap kCapacity = 255;
    char text[kCapacity + 1];
    host::IntToStr(channel_number, kCapacity, text, 10, nullptr);
    host::StrPrepend(kCapacity, text, 1, " (");
    host::StrAppend(kCapacity, text, 0, ")");
    host::StrPrepend(kCapacity, text, messages::kIncompatibleChannelType.capacity(),
                     messages::kIncompatibleChannelType.c_str());
    qs_dapi::AddLogMessage(1, 1, kCapacity, text);
}

}  // namespace tovi
