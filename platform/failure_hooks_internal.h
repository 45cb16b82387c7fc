// Queries behind the fault-injection switches in platform.h, for the create functions.
#pragma once

namespace tovi::platform::detail {

// True exactly once, on the creation the switch was armed for; disarms it then.
bool EventCreationShouldFail();
bool ThreadCreationShouldFail();

}  // namespace tovi::platform::detail
