// The module-type database tovi.ini: which ports (and bits) every module type has
// and which I/O keywords each of them allows, and the display parameters of a type's
// " PAR" section.
#pragma once

#include "host/text.h"

namespace host {
class IniFile;
}

namespace tovi {

class Channel;
class Module;
struct ReaderContext;

// Largest text the database delivers for a key: the keyword list of a port.
constexpr host::Cap kTypeValueCapacity = 255;

// True when the module's type section has the channel's port (and bit) and allows
// the channel's IoType there. False with one message in message otherwise.
bool ValidateChannel(ReaderContext& context, const Module& module, const Channel& channel, host::Cap capacity,
                     char* message);

// Fills the module's display parameters from the section "<type> PAR" of types. A
// type without that section leaves them zero; nothing here fails.
void ReadDisplayParameters(host::IniFile& types, Module& module);

}  // namespace tovi
