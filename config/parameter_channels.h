// Parameter channels: the extra channels of "ai", "cnt_event_read",
// "cnt_event_start" and "alarm_config" channels, created from the value tokens of
// the owner's line and linked to the owner; and the uniqueness check of channel
// numbers that guards every registration.
#pragma once

#include <cstdint>

#include "host/text.h"

namespace tovi {

class Channel;
struct ReaderContext;

// True when no registered channel bears the channel's number; false with the
// duplicate message otherwise.
bool CheckDuplicateNumber(ReaderContext& context, const Channel& channel, host::Cap capacity, char* message);

// Creates, checks and registers the parameter channel named by value token index
// (delimiters space and comma) of the owner's line. *present tells whether the token
// exists; on a false result *created is null, and when *present is false the message
// (the parameter channel is expected) matters only to a caller that requires it.
bool CreateParameterChannel(ReaderContext& context, Channel& owner, host::Cap value_capacity, const char* value,
                            std::int32_t index, std::uint32_t type_code, Channel** created, bool* present,
                            host::Cap capacity, char* message);

// Creates the parameter channels the registered owner's IoType calls for and links
// them in the owner's link array. False with one message at the first fault; the
// owner then keeps no links, and parameter channels registered before the fault stay.
bool SetUpParameterChannels(ReaderContext& context, Channel& owner, host::Cap value_capacity, const char* value,
                            host::Cap capacity, char* message);

}  // namespace tovi
