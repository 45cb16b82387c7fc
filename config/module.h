// The module record: one configured I/O module with its definition tokens, display
// parameters and device binding state.
#pragma once

#include <cstdint>

#include "host/item_list.h"
#include "host/object_list.h"

namespace tovi {

struct DriverInstance;

// A device or serial handle that is not open.
constexpr std::uint32_t kClosedHandle = 0x7FFFFFFF;
// Size of the device manager's features block.
constexpr std::uint32_t kFeaturesSize = 486;

#pragma pack(push, 1)
// One 8-bit digital port: packed, because a port read stores its 16-bit result at
// the start of the entry (low byte in data, high byte in the unused mask of input
// entries).
struct PortCacheEntry {
    std::uint8_t data;
    std::uint16_t mask;
    std::uint32_t status;
};
#pragma pack(pop)
static_assert(sizeof(PortCacheEntry) == 7);
constexpr std::uint32_t kPortFilled = 0x1;

class Module final : public host::ListObject {
public:
    Module() = default;
    ~Module() override = default;

    void SetDriver(DriverInstance* owner) { driver = owner; }

    // Configuration, from the parameter file and the module-type database.
    char name[80] = {};
    char type[80] = {};
    char device[80] = {};
    char subdevice[80] = {};
    std::int32_t display_select[2] = {0, 0};
    double display_min = 0.0;
    double display_max = 0.0;
    std::uint8_t display_sign = 0;

    // Device binding.
    std::uint8_t features[kFeaturesSize] = {};
    PortCacheEntry* input_cache = nullptr;
    PortCacheEntry* output_cache = nullptr;
    std::uint32_t input_port_count = 0;
    std::uint32_t output_port_count = 0;
    host::ItemList pending_writes;
    DriverInstance* driver = nullptr;
    std::int32_t device_index = -1;
    std::int32_t subdevice_index = -1;
    std::uint32_t device_handle = kClosedHandle;
    char address[32] = {};
    std::uint32_t serial_handle = kClosedHandle;
};

}  // namespace tovi
