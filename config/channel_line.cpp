#include "config/channel_line.h"

#include "config/channel.h"
#include "config/fault_message.h"
#include "config/io_type.h"
#include "config/module_types.h"
#include "config/parameter_channels.h"
#include "config/reader_context.h"
#include "diagnostics/messages.h"
#include "driver/driver_instance.h"
#include "host/memory.h"

namespace tovi {
namespace {

// Token index of a key or value, delimiters space and comma; whole, since a token
// can be no longer than its line.
void Token(host::Cap source_capacity, const char* source, std::int32_t index, char* token) {
    host::StrToken(kLineValueCapacity, token, source_capacity, source, 1, " ,", index);
}

// Reads the keyword, port, bit and number of the line into channel.
bool ReadFields(Channel& channel, const char* key, const char* value, host::Cap capacity, char* message) {
    char token[kLineValueCapacity + 1];
    Token(kLineKeyCapacity, key, 0, token);
    const IoTypeMatch match = IoTypeFromKeyword(kLineKeyCapacity, token);
    if (!match.found) return FaultQuoting(capacity, message, messages::kUnknownIoType, kLineKeyCapacity, token);
    channel.io_type = match.io_type;
    channel.expected_type = match.expected_type;

    host::Flag ok = 0;
    if (!IsDisplayType(channel.io_type)) {
        Token(kLineKeyCapacity, key, 1, token);
        channel.port = host::StrToInt(kLineKeyCapacity, token, 10, &ok);
        if (ok == 0) return FaultQuoting(capacity, message, messages::kInvalidPortNumber, kLineKeyCapacity, token);
        if (channel.io_type == kIoDiBit || channel.io_type == kIoDoBit) {
            Token(kLineKeyCapacity, key, 2, token);
            channel.bit = host::StrToInt(kLineKeyCapacity, token, 10, &ok);
            if (ok == 0) return FaultQuoting(capacity, message, messages::kInvalidBitNumber, kLineKeyCapacity, token);
        }
    }
    Token(kLineValueCapacity, value, 0, token);
    channel.number = host::StrToInt(kLineValueCapacity, token, 10, &ok);
    if (ok == 0) return FaultQuoting(capacity, message, messages::kInvalidChannelNumber, kLineValueCapacity, token);
    return true;
}

// Index of the last token of source, which is where a cut ended it; 0 when it has none.
std::int32_t LastTokenIndex(host::Cap source_capacity, const char* source, char* token) {
    std::int32_t last = 0;
    char probe[kLineValueCapacity + 1];
    for (std::int32_t index = 0;; ++index) {
        Token(source_capacity, source, index, probe);
        if (probe[0] == '\0') break;
        last = index;
        host::StrCopy(kLineValueCapacity, token, kLineValueCapacity, probe);
    }
    return last;
}

}  // namespace

bool RefuseCutChannelLine(const char* key, const char* value, bool key_cut, bool cut_between_tokens,
                          host::Cap capacity, char* message) {
    char token[kLineValueCapacity + 1] = {};
    if (!key_cut) {
        LastTokenIndex(kLineValueCapacity, value, token);
        if (cut_between_tokens) token[0] = '\0';
        return FaultQuoting(capacity, message, messages::kInvalidChannelNumber, kLineValueCapacity, token);
    }
    std::int32_t index = LastTokenIndex(kLineKeyCapacity, key, token);
    if (cut_between_tokens) {
        token[0] = '\0';
        ++index;
    }
    if (index == 0) {
        host::StrLower(kLineValueCapacity, token);
        return FaultQuoting(capacity, message, messages::kUnknownIoType, kLineValueCapacity, token);
    }
    char keyword[kLineValueCapacity + 1];
    Token(kLineKeyCapacity, key, 0, keyword);
    const IoTypeMatch match = IoTypeFromKeyword(kLineValueCapacity, keyword);
    const bool bit = index >= 2 && (match.io_type == kIoDiBit || match.io_type == kIoDoBit);
    if (bit) return FaultQuoting(capacity, message, messages::kInvalidBitNumber, kLineValueCapacity, token);
    return FaultQuoting(capacity, message, messages::kInvalidPortNumber, kLineValueCapacity, token);
}

bool ReadChannelLine(ReaderContext& context, Module& module, const char* key, const char* value, host::Cap capacity,
                     char* message) {
    Channel* channel = host::NewObject<Channel>();
    if (channel == nullptr) return FaultInternal(capacity, message);
    channel->module = &module;
    if (!ReadFields(*channel, key, value, capacity, message) ||
        !ValidateChannel(context, module, *channel, capacity, message) ||
        !CheckDuplicateNumber(context, *channel, capacity, message)) {
        host::DeleteObject(channel);
        return false;
    }
    context.driver.channels.Insert(channel);
    return SetUpParameterChannels(context, *channel, kLineValueCapacity, value, capacity, message);
}

}  // namespace tovi
