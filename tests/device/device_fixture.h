// A driver started through its exports against the simulated device manager: the
// test loads a device set, writes a parameter file, starts the driver and sends it
// read and write batches, waiting for the completion callback of each.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "config/channel.h"
#include "config/module.h"
#include "device_sim/device_sim.h"
#include "driver/driver_instance.h"
#include "driver/tovi.h"
#include "host_api_standin/host_api_observer.h"
#include "tests/support/replaceable_passes.h"
#include "tests/support/temp_files.h"

namespace devicetest {

// The driver's texts, spelled out in Windows-1250 bytes.
inline const std::string kReadPrefix = "\xC8ten\xED z kan\xE1lu \xE8. ";
inline const std::string kWritePrefix = "Z\xE1pis do kan\xE1lu \xE8. ";
inline const std::string kNotInstalled = " : Za\xF8\xEDzen\xED nen\xED nainstalov\xE1no";

// Completion callbacks per direction; a test waits for the next one.
class Completions {
public:
    static void TOVI_CALL Callback(void* context, std::int32_t direction, std::int32_t) {
        auto* self = static_cast<Completions*>(context);
        {
            std::lock_guard<std::mutex> guard(self->mutex_);
            ++self->count_[direction == 0 ? 0 : 1];
        }
        self->changed_.notify_all();
    }

    std::uint64_t Count(int direction) {
        std::lock_guard<std::mutex> guard(mutex_);
        return count_[direction];
    }

    // True once the count of direction has gone beyond seen. The time limit only
    // keeps a broken driver from hanging the suite.
    bool WaitBeyond(int direction, std::uint64_t seen) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(30), [&] { return count_[direction] > seen; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::uint64_t count_[2] = {0, 0};
};

// The calls of one function in the trace (all calls when function is empty).
inline std::vector<devsim::TraceRecord> TraceCalls(const std::string& function = "") {
    std::vector<devsim::TraceRecord> records;
    for (const std::string& line : devsim::Trace()) {
        devsim::TraceRecord record;
        EXPECT_TRUE(devsim::ParseTraceLine(line, &record)) << line;
        if (function.empty() || record.function == function) records.push_back(record);
    }
    return records;
}

struct Write {
    std::int32_t channel;
    std::uint32_t type;
    double real;
};
inline Write Bool(std::int32_t channel, bool value) { return {channel, tovi::kTypeBoolean, value ? 1.0 : 0.0}; }
inline Write Real(std::int32_t channel, double value) { return {channel, tovi::kTypeReal, value}; }

class DeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        hostapi::Reset();
        // The error log's bare file name lands in the test's own directory.
        hostapi::SetWorkingDirectory(files_.path().string());
    }
    void TearDown() override {
        Stop();
        tovi::testing::ReplacePasses(nullptr, nullptr);
        devsim_trace_set_callback(nullptr, nullptr);
        devsim_unload();
        hostapi::Reset();
    }

    static void LoadDevices(const std::string& text) { ASSERT_EQ(devsim::LoadText(text), ""); }

    // MakeDriver and Init on a parameter file with this content; Init's result. The
    // completion callback counts in completions_ unless the test brings its own.
    std::uint8_t Start(const std::string& parameters, void* context = nullptr,
                       host::CompletionCallback callback = nullptr) {
        Stop();
        driver_ = MakeDriver();
        const std::string path = files_.Write("plant.ini", parameters);
        message_[0] = '\0';
        if (callback == nullptr) {
            context = &completions_;
            callback = &Completions::Callback;
        }
        return Init(driver_, static_cast<std::uint32_t>(path.size()), path.c_str(), sizeof message_ - 1, message_, 1, 0,
                    context, callback);
    }
    void Stop() {
        if (driver_ == nullptr) return;
        Done(driver_);
        DisposeDriver(driver_);
        driver_ = nullptr;
    }
    std::string message() const { return message_; }

    // A started driver has its worker. A batch sent to a driver whose start failed
    // fails the test at once instead of waiting for a callback that cannot come.
    bool Running() const { return driver_ != nullptr && driver_->worker_thread != nullptr; }

    // One read batch; returns when the worker has called back.
    void ReadBatch(std::initializer_list<std::int32_t> channels) {
        ASSERT_TRUE(Running()) << "the driver did not start: " << message();
        const std::uint64_t seen = completions_.Count(0);
        for (const std::int32_t channel : channels) InputRequest(driver_, channel);
        InputRequestCompleted(driver_);
        ASSERT_TRUE(completions_.WaitBeyond(0, seen)) << "no completion callback for the read batch";
    }
    void WriteBatch(const std::vector<Write>& writes) {
        ASSERT_TRUE(Running()) << "the driver did not start: " << message();
        const std::uint64_t seen = completions_.Count(1);
        for (const Write& write : writes) Send(write);
        OutputRequestCompleted(driver_);
        ASSERT_TRUE(completions_.WaitBeyond(1, seen)) << "no completion callback for the write batch";
    }
    // A parameter channel only stores its value: nothing is queued, nothing called back.
    void SetParameter(std::int32_t channel, double value) { Send(Real(channel, value)); }

    // Finalized answers: the status, or -1 while the request has not finished.
    std::int32_t InputStatus(std::int32_t channel) {
        std::int32_t status = -1;
        return InputFinalized(driver_, channel, &status) != 0 ? status : -1;
    }
    std::int32_t OutputStatus(std::int32_t channel) {
        std::int32_t status = -1;
        return OutputFinalized(driver_, channel, &status) != 0 ? status : -1;
    }

    double RealValue(std::int32_t channel) {
        host::ValueRecord record{tovi::kTypeReal, {}};
        GetInput(driver_, channel, &record);
        double value;
        std::memcpy(&value, record.payload, sizeof value);
        return value;
    }
    bool BooleanValue(std::int32_t channel) {
        host::ValueRecord record{tovi::kTypeBoolean, {}};
        GetInput(driver_, channel, &record);
        return record.payload[0] != 0;
    }

    tovi::Channel* ChannelOf(std::int32_t number) { return driver_->channels.Find(number); }
    tovi::Module* ModuleNamed(const std::string& name) {
        tovi::Module* module = nullptr;
        for (bool more = driver_->modules.First(&module); more; more = driver_->modules.Next(&module)) {
            if (name == module->name) return module;
        }
        ADD_FAILURE() << "no module " << name;
        return nullptr;
    }

    hostapi::WindowState Window() {
        hostapi::WindowState state;
        EXPECT_TRUE(hostapi::FindWindow(driver_->driver_window, &state));
        return state;
    }

    // The file's text with lines ending in "\n" (record files end them with "\r\n" on Windows).
    std::string FileText(const std::string& name) const {
        std::ifstream in(files_.Path(name), std::ios::binary);
        std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
#if defined(_WIN32)
        for (std::size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) {
            text.erase(at, 1);
        }
#endif
        return text;
    }

    static std::vector<devsim::TraceRecord> Calls(const std::string& function = "") { return TraceCalls(function); }
    static std::uint64_t CallCount(const char* function, std::int64_t device = -1) {
        return devsim_call_count(function, device);
    }

    static std::int32_t InjectFault(const std::string& line) {
        char error[256];
        const std::int32_t id = devsim_inject_fault_line(line.c_str(), error, sizeof error);
        EXPECT_GT(id, 0) << error;
        return id;
    }

    tovitest::TempDirectory files_;
    Completions completions_;
    DriverInstance* driver_ = nullptr;
    char message_[256] = {};

    // One OutputRequest, the batch left open.
    void Send(const Write& write) {
        std::uint32_t words[2] = {write.real != 0.0 ? 1u : 0u, 0u};
        if (write.type == tovi::kTypeReal) std::memcpy(words, &write.real, sizeof words);
        OutputRequest(driver_, write.channel, write.type, words[0], words[1]);
    }
};

}  // namespace devicetest
