// The per-driver record every export receives first.
#pragma once

#include <atomic>
#include <cstdint>

#include "config/channel.h"
#include "host/driver_api.h"
#include "host/exchange.h"
#include "host/item_list.h"
#include "host/object_list.h"
#include "platform/platform.h"
#include "requests/request_queue.h"

namespace tovi {

// Bits of DriverInstance::settings.
enum DriverSetting : std::uint32_t {
    kSettingDebug = 0x1,     // device errors also go to the error log
    kSettingCheckSum = 0x8,  // display frames carry a checksum
};

// Bits of DriverInstance::run_state.
enum RunState : std::uint32_t {
    kStopping = 0x1,
    kInputBatchOpen = 0x2,
    kOutputBatchOpen = 0x4,
};

constexpr std::uint32_t kPathCapacity = 259;
constexpr std::uint32_t kInfoPagesSize = host::kDialogItemCount * sizeof(host::DialogItem);
static_assert(kInfoPagesSize == 1830);

struct DriverInstance {
    std::uint32_t host_value = 0;
    std::uint8_t host_flag = 0;
    void* host_context = nullptr;
    host::CompletionCallback completion_callback = nullptr;
    platform::Lock lock;            // initialised by Init, deleted by Done
    bool lock_initialised = false;  // Done deletes only a lock that Init initialised
    platform::EventHandle work_event = nullptr;
    platform::EventHandle stop_event = nullptr;
    platform::ThreadHandle worker_thread = nullptr;
    host::DialogItem info_pages[host::kDialogItemCount] = {};
    WindowHandle driver_window = 0;
    std::uint8_t modified = 0;
    char log_path[kPathCapacity + 1] = {};
    host::ObjectList modules;
    ChannelCollection channels;
    RequestQueue input_queue;
    RequestQueue output_queue;
    std::uint32_t settings = 0;
    std::atomic<std::uint32_t> run_state{0};

    bool Stopping() const { return (run_state.load(std::memory_order_acquire) & kStopping) != 0; }
};

}  // namespace tovi
