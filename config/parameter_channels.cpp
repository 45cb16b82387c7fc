#include "config/parameter_channels.h"

#include "config/channel.h"
#include "config/fault_message.h"
#include "config/io_type.h"
#include "config/reader_context.h"
#include "diagnostics/messages.h"
#include "driver/driver_instance.h"
#include "host/memory.h"

namespace tovi {
namespace {

constexpr host::Cap kNumberCapacity = 31;
// Value tokens are taken whole: a token cut short could read as another number.
constexpr host::Cap kTokenCapacity = 255;

bool FaultQuotingNumber(host::Cap capacity, char* message, const auto& text, std::int32_t number) {
    char digits[kNumberCapacity + 1];
    host::IntToStr(number, kNumberCapacity, digits, 10, nullptr);
    return FaultQuoting(capacity, message, text, kNumberCapacity, digits);
}

struct LinkPlan {
    std::uint32_t count;        // parameter channels of the IoType
    bool required;              // an absent token is a fault
    std::uint32_t type_code;    // of every parameter channel of the IoType
};

// What the IoType's line carries after its channel number; count 0 for none.
LinkPlan PlanFor(std::int32_t io_type) {
    switch (io_type) {
        case kIoAi:
            return {1, false, kTypeReal};
        case kIoCntEventRead:
            return {1, false, kTypeBoolean};
        case kIoCntEventStart:
            return {1, true, kTypeReal};
        case kIoAlarmConfig:
            return {2, true, kTypeReal};
        default:
            return {0, false, kTypeNone};
    }
}

}  // namespace

bool CheckDuplicateNumber(ReaderContext& context, const Channel& channel, host::Cap capacity, char* message) {
    host::CollectionItem* found = nullptr;
    if (!context.driver.channels.Search(channel, &found)) return true;
    return FaultQuotingNumber(capacity, message, messages::kDuplicateChannelNumber, channel.number);
}

bool CreateParameterChannel(ReaderContext& context, Channel& owner, host::Cap value_capacity, const char* value,
                            std::int32_t index, std::uint32_t type_code, Channel** created, bool* present,
                            host::Cap capacity, char* message) {
    *created = nullptr;
    *present = false;
    host::StrCopy(capacity, message, 0, "");

    char token[kTokenCapacity + 1];
    host::StrToken(kTokenCapacity, token, value_capacity, value, 1, " ,", index);
    if (token[0] == '\0') {
        return FaultQuotingNumber(capacity, message, messages::kParameterChannelExpected, owner.number);
    }
    *present = true;
    Channel* channel = host::NewObject<Channel>();
    if (channel == nullptr) return FaultInternal(capacity, message);

    host::Flag ok = 0;
    channel->number = host::StrToInt(kTokenCapacity, token, 10, &ok);
    if (ok == 0) {
        host::DeleteObject(channel);
        return FaultQuoting(capacity, message, messages::kInvalidChannelNumber, kTokenCapacity, token);
    }
    if (!CheckDuplicateNumber(context, *channel, capacity, message)) {
        host::DeleteObject(channel);
        return false;
    }
    channel->module = owner.module;
    channel->io_type = owner.io_type;
    channel->port = owner.port;
    channel->bit = owner.bit;
    channel->expected_type = type_code;
    channel->owner = &owner;
    channel->flags |= kParameterChannel;
    context.driver.channels.Insert(channel);
    *created = channel;
    return true;
}

bool SetUpParameterChannels(ReaderContext& context, Channel& owner, host::Cap value_capacity, const char* value,
                            host::Cap capacity, char* message) {
    const LinkPlan plan = PlanFor(owner.io_type);
    if (plan.count == 0) return true;

    Channel* links[2] = {nullptr, nullptr};
    for (std::uint32_t i = 0; i < plan.count; ++i) {
        bool present = false;
        const auto index = static_cast<std::int32_t>(i + 1);
        if (!CreateParameterChannel(context, owner, value_capacity, value, index, plan.type_code, &links[i], &present,
                                    capacity, message)) {
            // An optional parameter channel that is not named is no fault.
            return !plan.required && !present;
        }
    }
    void* block = nullptr;
    host::MemAlloc(&block, plan.count * static_cast<std::uint32_t>(sizeof(Channel*)));
    if (block == nullptr) return FaultInternal(capacity, message);
    owner.links = static_cast<Channel**>(block);
    for (std::uint32_t i = 0; i < plan.count; ++i) owner.links[i] = links[i];
    owner.link_count = plan.count;
    return true;
}

}  // namespace tovi
