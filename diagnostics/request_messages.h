// Messages to the host's message log about a host request the driver could not
// take as it was asked.
#pragma once

#include <cstdint>

namespace tovi {

// Sends "Nekompatibilní typ kanálu (N)" to the host's message log.
void ReportTypeMismatch(std::int32_t channel_number);

// Sends "Nedostatek paměti pro požadavek kanálu (N)": the request could not be queued.
void ReportRequestRefused(std::int32_t channel_number);

}  // namespace tovi
