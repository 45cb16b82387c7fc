// Observation side of the host driver API stand-in: what the driver asked of the
// host (window calls, log messages, the error line it reported), and switches that
// make the host misbehave. Used by the host emulator and the tests.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host/driver_api.h"
#include "host/exchange.h"

namespace hostapi {

enum class WindowCallKind {
    Create,
    Destroy,
    Hide,
    Show,
    Minimize,
    Restore,
    Select,
    NewRect,
    LoginLevel,
    DialogItemChanged,
};

struct WindowCall {
    WindowCallKind kind;
    WindowHandle window;
    std::int32_t values[4];
};

struct LogMessage {
    std::uint32_t kind;
    std::uint8_t flag;
    std::string text;  // as the driver sent it (Windows-1250)
};

struct WindowState {
    WindowHandle handle = 0;
    host::DriverCallbacks callbacks{};  // the copy taken while the window was created
    // The information page's items as the window copied them, through the record's
    // GetDialogBoxItem, while it was created.
    std::vector<host::DialogItem> page;
    bool destroyed = false;
    std::string error_line;  // item 2 as last announced by MsgSetDialogDataItem (Windows-1250)
    std::uint32_t error_line_updates = 0;
};

// Every window call in order.
HOST_API std::vector<WindowCall> WindowCalls();
// Every message added to the host's message log, in order.
HOST_API std::vector<LogMessage> LogMessages();
// The window with that handle; false when none was created.
HOST_API bool FindWindow(WindowHandle handle, WindowState* state);
// How often the library's initialiser ran.
HOST_API std::int32_t InitCalls();

// Directory in which FindNewPath places a bare file name; default: the current directory.
HOST_API void SetWorkingDirectory(const std::string& directory);
// The next CreateDriverWindow returns 0.
HOST_API void FailNextWindowCreation();
// Called after each MsgSetDialogDataItem, with the item's new text (Windows-1250),
// from the thread that called it. Empty function: none.
HOST_API void SetDialogItemListener(std::function<void(WindowHandle, std::uint32_t, const std::string&)> listener);
// Forgets every recorded call, window and message, and the switches.
HOST_API void Reset();

}  // namespace hostapi
