// Report of a host request whose value type does not fit the channel.
#pragma once

#include <cstdint>

namespace tovi {

// Sends "Nekompatibilní typ kanálu (N)" to the host's message log.
void ReportTypeMismatch(std::int32_t channel_number);

}  // namespace tovi
