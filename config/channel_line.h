// One channel line of a module's section in the parameter file:
// "keyword [port [bit]] = number [parameter channels]".
#pragma once

#include "host/text.h"

namespace tovi {

class Module;
struct ReaderContext;

// Capacities of the texts a parameter file line delivers.
constexpr host::Cap kLineKeyCapacity = 80;
constexpr host::Cap kLineValueCapacity = 255;

// Creates the channel of the line (key trimmed, not a comment), checks it against
// the module-type database and the registered numbers, registers it and its
// parameter channels. False with one message at the first fault; a channel not yet
// registered is freed.
bool ReadChannelLine(ReaderContext& context, Module& module, const char* key, const char* value, host::Cap capacity,
                     char* message);

// Refuses a channel line whose key (key_cut) or else value did not fit its buffer:
// what is left could read as another keyword, port, bit or channel number. The
// message is the one of the token the cut ended, quoting what is left of it (nothing
// when the cut fell between two tokens). False.
bool RefuseCutChannelLine(const char* key, const char* value, bool key_cut, bool cut_between_tokens,
                          host::Cap capacity, char* message);

}  // namespace tovi
