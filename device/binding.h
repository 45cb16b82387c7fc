// Binding of each module to its device and serial port, and the module's port caches.
#pragma once

#include "host/text.h"

namespace tovi {

class Module;

// Binds module to its device and serial port and sizes its port caches. False with
// the reason in message (message_capacity + 1 bytes).
bool BindDevice(Module& module, host::Cap message_capacity, char* message);
// Zero every entry of the module's input or output port cache, when it has one.
void ResetInputCache(Module& module);
void ResetOutputCache(Module& module);
// Closes what the binding opened, frees the port caches and drops pending writes.
// Safe on a module never or partly bound, and when repeated.
void CloseDevice(Module& module);

}  // namespace tovi
