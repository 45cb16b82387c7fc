#include "recorder/carried_calls.h"

#include <algorithm>
#include <vector>

namespace recorder {
namespace {

std::string InputOf(const recording::Call& call, std::string_view key) {
    const recording::Field* field = call.Input(key);
    return field == nullptr ? std::string() : field->value;
}

std::string OutputOf(const recording::Call& call, std::string_view key) {
    for (const recording::Field& field : call.outputs) {
        if (field.key == key) return field.value;
    }
    return std::string();
}

}  // namespace

void CarriedCalls::Note(const recording::Call& call) {
    const std::string& f = call.function;
    if (f == "DRV_DeviceGetNumOfList") {
        count_ = call;
    } else if (f == "DRV_DeviceGetList") {
        list_ = call;
    } else if (f == "DRV_DeviceGetSubList") {
        sub_lists_[InputOf(call, "dev")] = call;
    } else if (f == "COMGetConfig") {
        serial_configs_[InputOf(call, "index")] = call;
    } else if (f == "DRV_DeviceOpen" || f == "COMOpen") {
        const std::string handle = OutputOf(call, "handle");
        if (call.status == 0 && !handle.empty() && handle != "0") {
            (f == "COMOpen" ? serials_ : devices_)[handle] = Open{call, std::nullopt};
        }
    } else if (f == "DRV_DeviceGetFeatures" || f == "COMSetConfig") {
        auto& opens = f == "COMSetConfig" ? serials_ : devices_;
        const auto found = opens.find(InputOf(call, "handle"));
        if (found != opens.end()) found->second.latest = call;
    } else if (f == "DRV_DeviceClose" || f == "COMClose") {
        // The driver closes its handles only when it stops: until the last one is
        // closed, a fresh start still asks for every open of this start (a file
        // may begin in the middle of the closing). Once none is open, the next
        // start's calls are a file's own.
        auto& opens = f == "COMClose" ? serials_ : devices_;
        const auto found = opens.find(InputOf(call, "handle"));
        if (found != opens.end()) found->second.closed = true;
        const auto all_closed = [](const std::map<std::string, Open>& handles) {
            return std::all_of(handles.begin(), handles.end(), [](const auto& entry) { return entry.second.closed; });
        };
        if (all_closed(devices_) && all_closed(serials_)) *this = CarriedCalls();
    }
}

std::string CarriedCalls::Text() const {
    std::vector<const recording::Call*> calls;
    if (count_) calls.push_back(&*count_);
    if (list_) calls.push_back(&*list_);
    for (const auto& [key, call] : sub_lists_) calls.push_back(&call);
    for (const auto& [key, call] : serial_configs_) calls.push_back(&call);
    for (const auto* opens : {&devices_, &serials_}) {
        for (const auto& [handle, open] : *opens) {
            calls.push_back(&open.open);
            if (open.latest) calls.push_back(&*open.latest);
        }
    }
    std::stable_sort(calls.begin(), calls.end(),
                     [](const recording::Call* a, const recording::Call* b) { return a->time_us < b->time_us; });
    std::string text;
    for (const recording::Call* call : calls) {
        recording::Call carried = *call;
        carried.carried = true;
        recording::AppendCallLine(carried, text);
    }
    return text;
}

}  // namespace recorder
