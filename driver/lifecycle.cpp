// Creation, start, stop and release of a driver instance, the version export and the
// unit initialisers.
#include <atomic>
#include <new>

#include "config/module.h"
#include "config/parameter_file.h"
#include "device/binding.h"
#include "diagnostics/messages.h"
#include "driver/driver_instance.h"
#include "driver/info_pages.h"
#include "driver/tovi.h"
#include "driver/unit_init.h"
#include "host/driver_api.h"
#include "host/memory.h"
#include "requests/request_item.h"
#include "requests/worker_thread.h"

namespace tovi {
namespace {

constexpr std::int32_t kVersion = 0x30000;
constexpr auto kDefaultLogName = "tovi.log";

void ReportInternalError(host::Cap message_capacity, char* message) {
    host::StrCopy(message_capacity, message, messages::kInternalError.capacity(), messages::kInternalError.c_str());
}

// Builds the callbacks record in a host memory block and hands it to the host window.
bool CreateWindow(DriverInstance& driver) {
    void* block = nullptr;
    host::MemAlloc(&block, sizeof(host::DriverCallbacks));
    if (block == nullptr) return false;
    host::MemFill(block, sizeof(host::DriverCallbacks), 0);
    auto* callbacks = static_cast<host::DriverCallbacks*>(block);
    callbacks->driver = &driver;
    callbacks->host_context = driver.host_context;
    callbacks->file_open = &FileOpen;
    callbacks->file_save = &FileSave;
    callbacks->file_save_as = &FileSaveAs;
    callbacks->get_item_number = &GetItemNumber;
    callbacks->get_dialog_box_item = &GetDialogBoxItem;
    callbacks->dialog_data_changed = &DialogDataChanged;
    callbacks->set_page = &SetPage;
    callbacks->data_modified = &DataModified;
    callbacks->get_driver_name = &GetDriverName;
    callbacks->user_proc = &UserProc;
    callbacks->host_value = driver.host_value;
    callbacks->zero = 0;
    callbacks->reserved = 0;
    driver.driver_window = CreateDriverWindow(callbacks);
    host::MemFree(&block);
    return true;
}

void CloseHandles(DriverInstance& driver) {
    if (driver.stop_event != nullptr) {
        platform::SignalEvent(driver.stop_event);
        if (driver.worker_thread != nullptr) {
            platform::JoinThread(driver.worker_thread);
            platform::CloseThread(driver.worker_thread);
            driver.worker_thread = nullptr;
        }
        platform::CloseEvent(driver.stop_event);
        driver.stop_event = nullptr;
    }
    if (driver.work_event != nullptr) {
        platform::CloseEvent(driver.work_event);
        driver.work_event = nullptr;
    }
}

std::atomic<std::int32_t> unit_init_calls{0};
std::atomic<std::int32_t> second_unit_init_calls{0};

}  // namespace
}  // namespace tovi

using namespace tovi;

extern "C" {

DriverInstance* TOVI_CALL MakeDriver() {
    DriverInstance* driver = host::NewObject<DriverInstance>();
    if (driver == nullptr) return nullptr;
    host::StrCopy(kPathCapacity, driver->log_path, kPathCapacity, kDefaultLogName);
    return driver;
}

std::uint8_t TOVI_CALL Init(DriverInstance* driver, std::uint32_t param_capacity, const char* param_path,
                            std::uint32_t message_capacity, char* message, std::uint32_t host_value,
                            std::uint8_t host_flag, void* host_context, host::CompletionCallback completion_callback) {
    if (driver == nullptr) return 0;
    if (!driver->lock_initialised) {
        driver->lock.Initialise();
        driver->lock_initialised = true;
    }
    driver->host_value = host_value;
    driver->host_flag = host_flag;
    driver->host_context = host_context;
    driver->completion_callback = completion_callback;

    if (!ReadParameterFile(*driver, param_capacity, param_path, message_capacity, message)) return 0;

    Module* module = nullptr;
    for (bool more = driver->modules.First(&module); more; more = driver->modules.Next(&module)) {
        if (!BindDevice(*module, message_capacity, message)) return 0;
    }

    FillInfoPages(*driver);
    if (!CreateWindow(*driver)) {
        ReportInternalError(message_capacity, message);
        return 0;
    }
    driver->work_event = platform::CreateManualResetEvent();
    if (driver->work_event == nullptr) {
        ReportInternalError(message_capacity, message);
        return 0;
    }
    driver->stop_event = platform::CreateManualResetEvent();
    if (driver->stop_event == nullptr) {
        ReportInternalError(message_capacity, message);
        return 0;
    }
    driver->worker_thread = platform::StartThread(&WorkerThread, driver);
    if (driver->worker_thread == nullptr) {
        ReportInternalError(message_capacity, message);
        return 0;
    }
    return 1;
}

void TOVI_CALL Done(DriverInstance* driver) {
    if (driver == nullptr) return;
    driver->run_state.fetch_or(kStopping, std::memory_order_acq_rel);
    CloseHandles(*driver);
    if (driver->driver_window != 0) {
        DestroyDriverWindow(driver->driver_window);
        driver->driver_window = 0;
    }
    driver->channels.FreeAll();
    Module* module = nullptr;
    for (bool more = driver->modules.First(&module); more; more = driver->modules.Next(&module)) {
        CloseDevice(*module);
    }
    driver->modules.DeleteAll();
    driver->input_queue.Clear();
    driver->output_queue.Clear();
    if (driver->lock_initialised) {
        driver->lock.Delete();
        driver->lock_initialised = false;
    }
}

void TOVI_CALL DisposeDriver(DriverInstance* driver) {
    if (driver == nullptr) return;
    host::DeleteObject(driver);
}

std::int32_t TOVI_CALL Version() { return kVersion; }

void TOVI_CALL ToviUnitInit() {
    if (unit_init_calls.fetch_add(1) <= 0) {
        qs_dapi::Init_();
        ToviUnderscoreUnitInit();
    }
}

void TOVI_CALL ToviUnderscoreUnitInit() { second_unit_init_calls.fetch_add(1); }

#if !defined(_WIN32)
// The exported names of the unit initialisers hold "::", which no C++ name can: they
// are aliases of the functions above (tovi.def names them on Windows).
__attribute__((visibility("default"), alias("ToviUnitInit"))) void UnitInitExport() __asm__("\"tovi::Init_\"");
__attribute__((visibility("default"), alias("ToviUnderscoreUnitInit"))) void SecondUnitInitExport() __asm__(
    "\"tovi_::Init_\"");
#endif

}  // extern "C"

std::int32_t tovi::UnitInitCount() { return unit_init_calls.load(); }
std::int32_t tovi::SecondUnitInitCount() { return second_unit_init_calls.load(); }
