// The host's driver API as this project's host stand-in provides it.
#include <cstring>
#include <mutex>

#include "host/driver_api.h"
#include "host/record_file.h"
#include "host/text.h"
#include "host_api_standin/host_api_observer.h"
#include "platform/platform.h"

namespace hostapi {
namespace {

struct State {
    std::mutex mutex;
    std::vector<WindowCall> calls;
    std::vector<LogMessage> messages;
    std::vector<WindowState> windows;
    std::string working_directory;
    bool fail_next_window = false;
    WindowHandle next_handle = 0x1001;
    std::int32_t init_calls = 0;
    std::function<void(WindowHandle, std::uint32_t, const std::string&)> listener;
};

State& state() {
    static State instance;
    return instance;
}

void Record(WindowCallKind kind, WindowHandle window, std::int32_t a = 0, std::int32_t b = 0, std::int32_t c = 0,
            std::int32_t d = 0) {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.mutex);
    s.calls.push_back({kind, window, {a, b, c, d}});
}

WindowState* FindLocked(State& s, WindowHandle handle) {
    for (WindowState& window : s.windows) {
        if (window.handle == handle) return &window;
    }
    return nullptr;
}

bool HasDirectory(const char* path) {
    for (const char* p = path; *p != '\0'; ++p) {
        if (*p == '/' || *p == '\\' || *p == ':') return true;
    }
    return false;
}

}  // namespace

std::vector<WindowCall> WindowCalls() {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.mutex);
    return s.calls;
}

std::vector<LogMessage> LogMessages() {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.mutex);
    return s.messages;
}

bool FindWindow(WindowHandle handle, WindowState* window) {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.mutex);
    const WindowState* found = FindLocked(s, handle);
    if (found == nullptr) return false;
    *window = *found;
    return true;
}

std::int32_t InitCalls() {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.mutex);
    return s.init_calls;
}

void SetWorkingDirectory(const std::string& directory) {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.mutex);
    s.working_directory = directory;
}

void FailNextWindowCreation() {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.mutex);
    s.fail_next_window = true;
}

void SetDialogItemListener(std::function<void(WindowHandle, std::uint32_t, const std::string&)> listener) {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.mutex);
    s.listener = std::move(listener);
}

void Reset() {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.mutex);
    s.calls.clear();
    s.messages.clear();
    s.windows.clear();
    s.working_directory.clear();
    s.fail_next_window = false;
    s.init_calls = 0;
    s.listener = nullptr;
}

}  // namespace hostapi

using namespace hostapi;

extern "C" {

WindowHandle TOVI_CALL CreateDriverWindow(const host::DriverCallbacks* callbacks) {
    State& s = state();
    WindowHandle handle = 0;
    {
        std::lock_guard<std::mutex> guard(s.mutex);
        if (s.fail_next_window) {
            s.fail_next_window = false;
        } else if (callbacks != nullptr) {
            handle = s.next_handle++;
            WindowState window;
            window.handle = handle;
            window.callbacks = *callbacks;
            // The record lives only during this call: the window takes its page now.
            for (std::uint32_t item = 0; callbacks->get_dialog_box_item != nullptr && item < host::kDialogItemCount;
                 ++item) {
                const void* address = callbacks->get_dialog_box_item(callbacks->driver, item);
                if (address == nullptr) break;
                window.page.push_back(*static_cast<const host::DialogItem*>(address));
            }
            s.windows.push_back(window);
        }
    }
    Record(WindowCallKind::Create, handle);
    return handle;
}

void TOVI_CALL DestroyDriverWindow(WindowHandle window) {
    {
        State& s = state();
        std::lock_guard<std::mutex> guard(s.mutex);
        if (WindowState* found = FindLocked(s, window)) found->destroyed = true;
    }
    Record(WindowCallKind::Destroy, window);
}

void TOVI_CALL HideDriverWindow(WindowHandle window) { Record(WindowCallKind::Hide, window); }
void TOVI_CALL ShowDriverWindow(WindowHandle window) { Record(WindowCallKind::Show, window); }
void TOVI_CALL MinimizeDriverWindow(WindowHandle window) { Record(WindowCallKind::Minimize, window); }
void TOVI_CALL RestoreDriverWindow(WindowHandle window) { Record(WindowCallKind::Restore, window); }
void TOVI_CALL SelectDriverWindow(WindowHandle window) { Record(WindowCallKind::Select, window); }

void TOVI_CALL DriverWindowNewRect(WindowHandle window, std::int32_t first, std::int32_t second, std::int32_t third,
                                   std::int32_t fourth) {
    Record(WindowCallKind::NewRect, window, first, second, third, fourth);
}

void TOVI_CALL SetUserLoginLevel(WindowHandle window, std::int32_t level) {
    Record(WindowCallKind::LoginLevel, window, level);
}

// The host reads the announced item back through the driver's dialog entry, as a
// host window would when it repaints.
void TOVI_CALL MsgSetDialogDataItem(WindowHandle window, std::uint32_t item) {
    Record(WindowCallKind::DialogItemChanged, window, static_cast<std::int32_t>(item));
    State& s = state();
    std::string text;
    std::function<void(WindowHandle, std::uint32_t, const std::string&)> listener;
    {
        std::lock_guard<std::mutex> guard(s.mutex);
        WindowState* found = FindLocked(s, window);
        if (found == nullptr || found->callbacks.get_dialog_box_item == nullptr) return;
        void* address = found->callbacks.get_dialog_box_item(found->callbacks.driver, item);
        if (address == nullptr) return;
        const auto* dialog_item = static_cast<const host::DialogItem*>(address);
        text.assign(dialog_item->text, strnlen(dialog_item->text, sizeof dialog_item->text));
        if (item == 2) {
            found->error_line = text;
            ++found->error_line_updates;
        }
        listener = s.listener;
    }
    if (listener) listener(window, item, text);
}

}  // extern "C"

namespace qs_dapi {

void TOVI_CALL AddLogMessage(std::uint32_t kind, std::uint8_t flag, std::uint32_t capacity, const char* text) {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.mutex);
    s.messages.push_back({kind, flag, std::string(text == nullptr ? "" : text, host::StrLength(capacity, text))});
}

// dst := directory + name when the whole fits; else dst is empty and the result false.
bool ConcatWhole(std::uint32_t dst_cap, char* dst, const std::string& directory, const std::string& name) {
    if (dst == nullptr) return false;
    if (directory.size() + name.size() > dst_cap) {
        dst[0] = '\0';
        return false;
    }
    host::StrConcat(dst_cap, dst, static_cast<std::uint32_t>(directory.size()), directory.c_str(),
                    static_cast<std::uint32_t>(name.size()), name.c_str());
    return true;
}

// A path that does not fit is never cut (it would name another file): the result
// is then empty.
void TOVI_CALL MakePath(void*, std::uint32_t dst_cap, char* dst, std::uint32_t dir_cap, const char* directory,
                        std::uint32_t name_cap, const char* name) {
    ConcatWhole(dst_cap, dst, std::string(directory, host::StrLength(dir_cap, directory)),
                std::string(name, host::StrLength(name_cap, name)));
}

std::uint8_t TOVI_CALL FindNewPath(void*, std::uint32_t name_cap, const char* name, std::uint32_t dst_cap, char* dst) {
    const std::string bounded(name == nullptr ? "" : std::string(name, host::StrLength(name_cap, name)));
    if (HasDirectory(bounded.c_str())) return ConcatWhole(dst_cap, dst, "", bounded) ? 1 : 0;
    std::string directory;
    {
        State& s = state();
        std::lock_guard<std::mutex> guard(s.mutex);
        directory = s.working_directory;
    }
    if (directory.empty()) {
        char current[4096];
        if (!tovi::platform::CurrentDirectory(sizeof current - 1, current)) {
            if (dst != nullptr) dst[0] = '\0';
            return 0;
        }
        directory = current;
    }
    if (!directory.empty() && directory.back() != '/' && directory.back() != '\\') {
        directory += tovi::platform::DirectorySeparator();
    }
    return ConcatWhole(dst_cap, dst, directory, bounded) ? 1 : 0;
}

std::int32_t TOVI_CALL RedCreate(void*, std::uint32_t path_cap, const char* path, std::int32_t) {
    return host::RecCreate(path_cap, path);
}

void TOVI_CALL Init_() {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.mutex);
    ++s.init_calls;
}

}  // namespace qs_dapi
