// Host threads sending read and write batches through the driver's own passes to
// simulated devices whose calls take random short times and fail at random. A ledger
// kept from the simulator's trace (which transfer failed) and from the error line
// (which failure the driver reported) is checked against every answer the driver
// gives, in each direction, and against what the devices hold at the end. Delays,
// faults and the hosts' choices come from fixed seeds.
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/device/call_gate.h"
#include "tests/device/device_fixture.h"

namespace {

using devicetest::DeviceTest;
using devicetest::kReadPrefix;
using devicetest::kWritePrefix;

constexpr int kThreads = 4;
constexpr int kRounds = 150;

// The channels of host thread t, c counting from 0:
//   100 + 10t + c (c < 4)  read   ai8 Address=1 (t < 2) or =2, analogue channel 4(t % 2) + c
//   200 + 10t + c (c < 2)  write  ao4 Address=3 (t < 2) or =4, analogue channel 2(t % 2) + c
//   300 + 10t + c (c < 4)  write  do16 Address=5, cached ports: port c / 2, bit 2t + c % 2
//   400 + 10t + c (c < 4)  write  do16 narrow Address=6, bit by bit: port c / 2, bit 2t + c % 2
// so that the bits of all four threads share the merged port writes.
std::int32_t InputChannel(int t, int c) { return 100 + 10 * t + c; }
std::int32_t AnalogueOutput(int t, int c) { return 200 + 10 * t + c; }
std::int32_t MergedBit(int t, int c) { return 300 + 10 * t + c; }
std::int32_t DirectBit(int t, int c) { return 400 + 10 * t + c; }
double SourceValue(std::int32_t device, std::int32_t channel) { return device * 10 + channel + 0.25; }

std::string DeviceSet() {
    std::string text;
    for (int device = 1; device <= 2; ++device) {
        text += "device " + std::to_string(device) + " \"ai8 Address=" + std::to_string(device) + "\"\n";
        for (int channel = 0; channel < 8; ++channel) {
            text += "  ai " + std::to_string(channel) + " = " + std::to_string(SourceValue(device, channel)) + "\n";
        }
    }
    text +=
        "device 3 \"ao4 Address=3\"\n  ao 0-3 = 0\n"
        "device 4 \"ao4 Address=4\"\n  ao 0-3 = 0\n"
        "device 5 \"do16 Address=5\"\n  do 16\n"
        "device 6 \"do16 narrow Address=6\"\n  do 0\n  outport 0-1 = 0\n";
    return text;
}

std::string Plant() {
    std::string text =
        "[tovi]\nlog_file=errors.log\n[modules]\n"
        "in1=ai8, ai8 Address=1\nin2=ai8, ai8 Address=2\nout1=ao4, ao4 Address=3\nout2=ao4, ao4 Address=4\n"
        "merged=do16, do16 Address=5\ndirect=do16, do16 narrow Address=6\n";
    std::string sections[6];
    for (int t = 0; t < kThreads; ++t) {
        for (int c = 0; c < 4; ++c) {
            const std::string bit = std::to_string(c / 2) + " " + std::to_string(2 * t + c % 2);
            sections[t / 2] += "ai " + std::to_string(4 * (t % 2) + c) + "=" + std::to_string(InputChannel(t, c)) + "\n";
            sections[4] += "do_bit " + bit + "=" + std::to_string(MergedBit(t, c)) + "\n";
            sections[5] += "do_bit " + bit + "=" + std::to_string(DirectBit(t, c)) + "\n";
        }
        for (int c = 0; c < 2; ++c) {
            sections[2 + t / 2] +=
                "ao " + std::to_string(2 * (t % 2) + c) + "=" + std::to_string(AnalogueOutput(t, c)) + "\n";
        }
    }
    const char* names[6] = {"in1", "in2", "out1", "out2", "merged", "direct"};
    for (int i = 0; i < 6; ++i) text += "[" + std::string(names[i]) + "]\n" + sections[i];
    return text;
}

// What the devices and the driver did, per channel.
struct Ledger {
    std::mutex mutex;
    std::map<std::int32_t, int> failed;           // failed vendor calls, from the trace
    std::map<std::int32_t, int> read_reports;     // error lines naming a failed read
    std::map<std::int32_t, int> write_reports;    // ... a failed write
    std::map<std::int32_t, int> answered_failed;  // Finalized answers with status 2

    // Completion callbacks wake the hosts.
    std::mutex wake_mutex;
    std::condition_variable woken;
    std::uint64_t callbacks = 0;

    static void TOVI_CALL Callback(void* context, std::int32_t, std::int32_t) {
        auto* self = static_cast<Ledger*>(context);
        std::lock_guard<std::mutex> guard(self->wake_mutex);
        ++self->callbacks;
        self->woken.notify_all();
    }

    // Charges a failed vendor call to the channels it served.
    static void OnTrace(void* context, const char* line) {
        auto* self = static_cast<Ledger*>(context);
        devsim::TraceRecord call;
        if (!devsim::ParseTraceLine(line, &call) || call.status == 0) return;
        const int device = std::stoi(call.Argument("dev").empty() ? "0" : call.Argument("dev"));
        std::vector<std::int32_t> channels;
        if (call.function == "DRV_AIVoltageIn") {
            const int k = std::stoi(call.Argument("ch"));
            channels.push_back(InputChannel((device - 1) * 2 + k / 4, k % 4));
        } else if (call.function == "DRV_AOVoltageOut") {
            const int k = std::stoi(call.Argument("ch"));
            channels.push_back(AnalogueOutput((device - 3) * 2 + k / 2, k % 2));
        } else if (call.function == "DRV_DioWritePortByte") {
            const int port = std::stoi(call.Argument("port"));
            const unsigned long mask = std::stoul(call.Argument("mask"), nullptr, 16);
            for (int bit = 0; bit < 8; ++bit) {
                if ((mask >> bit) & 1) channels.push_back(MergedBit(bit / 2, port * 2 + bit % 2));
            }
        } else if (call.function == "DRV_DioWriteBit") {
            const int bit = std::stoi(call.Argument("bit"));
            channels.push_back(DirectBit(bit / 2, std::stoi(call.Argument("port")) * 2 + bit % 2));
        }
        std::lock_guard<std::mutex> guard(self->mutex);
        for (const std::int32_t channel : channels) ++self->failed[channel];
    }

    // Counts the error lines by the channel they name.
    void OnErrorLine(const std::string& text) {
        for (const auto* prefix : {&kReadPrefix, &kWritePrefix}) {
            if (text.rfind(*prefix, 0) != 0) continue;
            const std::int32_t channel = std::stoi(text.substr(prefix->size()));
            std::lock_guard<std::mutex> guard(mutex);
            ++(prefix == &kReadPrefix ? read_reports : write_reports)[channel];
        }
    }
};

struct Request {
    std::int32_t channel;
    bool input;
    double value;  // a write's value
};

class RequestStressTest : public DeviceTest {
protected:
    void SetUp() override {
        DeviceTest::SetUp();
        LoadDevices(DeviceSet());
    }

    // Starts the plant with a fresh ledger, seeded delays and faults.
    void StartPlant(std::uint32_t seed) {
        Stop();
        devsim_trace_set_callback(nullptr, nullptr);
        hostapi::SetDialogItemListener(nullptr);
        devsim_reset();
        ledger_ = std::make_unique<Ledger>();
        ASSERT_EQ(Start(Plant(), ledger_.get(), &Ledger::Callback), 1) << message();
        std::minstd_rand random(seed);
        const char* functions[] = {"DRV_AIVoltageIn", "DRV_AOVoltageOut", "DRV_DioWritePortByte", "DRV_DioWriteBit"};
        for (int i = 0; i < 4; ++i) {
            devsim_inject_fault(functions[i], 150 + i, "Bus error", -1, nullptr, -1, DEVSIM_EVERY, 3 + random() % 5);
        }
        for (int device = 1; device <= 6; ++device) {
            devsim_set_delay("*", device, static_cast<std::uint32_t>(random() % 200));
        }
        devsim_trace_set_callback(&Ledger::OnTrace, ledger_.get());
        Ledger* ledger = ledger_.get();
        hostapi::SetDialogItemListener([ledger](WindowHandle, std::uint32_t item, const std::string& text) {
            if (item == 2) ledger->OnErrorLine(text);
        });
    }
    void TearDown() override {
        Stop();
        DeviceTest::TearDown();
    }

    // One request's answer, once it has one: the status matches the ledger, and a
    // second question finds nothing left to report. A channel's transfers fail in
    // its own direction only (reads of inputs, writes of outputs): a read of an
    // output channel ends with its write, if one runs, and always answers 0.
    bool Answered(const Request& request, std::map<std::int32_t, double>& device_value) {
        auto finalized = request.input ? &InputFinalized : &OutputFinalized;
        std::int32_t status = -1;
        if (finalized(driver_, request.channel, &status) == 0) return false;
        SCOPED_TRACE(request.channel);
        const bool own_direction = request.input == (request.channel < 200);
        std::int32_t again = -1;
        if (own_direction) {
            {
                std::lock_guard<std::mutex> guard(ledger_->mutex);
                int& answered = ledger_->answered_failed[request.channel];
                if (status == 2) ++answered;
                EXPECT_TRUE(status == 0 || status == 2) << status;
                EXPECT_EQ(answered, ledger_->failed[request.channel]) << "status " << status;
            }
            EXPECT_EQ(finalized(driver_, request.channel, &again), 1);
            EXPECT_EQ(again, 0);
        } else {
            EXPECT_EQ(status, 0) << "the other direction's outcome";
            // The channel's write may have begun meanwhile: not finished is an answer too.
            if (finalized(driver_, request.channel, &again) != 0) {
                EXPECT_EQ(again, 0);
            }
        }
        if (status == 0 && !request.input) device_value[request.channel] = request.value;
        if (status == 0 && request.input && own_direction) {
            const int t = (request.channel - 100) / 10, c = request.channel % 10;
            EXPECT_EQ(RealValue(request.channel), static_cast<float>(SourceValue(1 + t / 2, 4 * (t % 2) + c)));
        }
        return true;
    }

    // One host thread: rounds of reads and writes on its own channels, completed in
    // either order; each round waits for every answer before the next.
    void HostRounds(int t, std::map<std::int32_t, double>& device_value) {
        std::minstd_rand random(1000 + t);
        for (int round = 0; round < kRounds; ++round) {
            std::vector<Request> pending;
            // A write, now and then with a read of the same channel before or after it.
            auto add_write = [&](std::int32_t channel, double value) {
                const unsigned read = random() % 4;
                if (read == 1) pending.push_back({channel, true, 0.0});
                pending.push_back({channel, false, value});
                if (read == 2) pending.push_back({channel, true, 0.0});
            };
            for (int c = 0; c < 4; ++c) {
                if (random() % 2) pending.push_back({InputChannel(t, c), true, 0.0});
                if (c < 2 && random() % 2) add_write(AnalogueOutput(t, c), (random() % 40) * 0.25);
                if (random() % 2) add_write(MergedBit(t, c), static_cast<double>(random() % 2));
                if (random() % 2) add_write(DirectBit(t, c), static_cast<double>(random() % 2));
            }
            requests_ += static_cast<int>(pending.size());
            for (const Request& request : pending) {
                if (request.input) {
                    InputRequest(driver_, request.channel);
                } else if (request.channel < 300) {
                    Send(devicetest::Real(request.channel, request.value));
                } else {
                    Send(devicetest::Bool(request.channel, request.value != 0.0));
                }
            }
            if (random() % 2) {
                InputRequestCompleted(driver_);
                OutputRequestCompleted(driver_);
            } else {
                OutputRequestCompleted(driver_);
                InputRequestCompleted(driver_);
            }
            std::unique_lock<std::mutex> lock(ledger_->wake_mutex);
            const bool all = ledger_->woken.wait_for(lock, devicetest::kGuardTime * 3, [&] {
                std::erase_if(pending, [&](const Request& request) { return Answered(request, device_value); });
                return pending.empty();
            });
            ASSERT_TRUE(all) << "requests without an answer in round " << round;
        }
    }

    std::unique_ptr<Ledger> ledger_;
    std::atomic<int> requests_{0};
};

TEST_F(RequestStressTest, EveryRequestIsAnsweredEveryFailureReportedOnceAndTheDevicesHoldTheLastWrites) {
    ASSERT_NO_FATAL_FAILURE(StartPlant(7));
    std::vector<std::map<std::int32_t, double>> device_value(kThreads);
    std::vector<std::thread> hosts;
    for (int t = 0; t < kThreads; ++t) hosts.emplace_back([&, t] { HostRounds(t, device_value[t]); });
    for (auto& host : hosts) host.join();
    Stop();  // every report is made before the worker ends

    int failures = 0;
    std::lock_guard<std::mutex> guard(ledger_->mutex);
    for (const auto& [channel, count] : ledger_->failed) {
        SCOPED_TRACE(channel);
        failures += count;
        const bool input = channel < 200;
        EXPECT_EQ((input ? ledger_->read_reports : ledger_->write_reports)[channel], count);
        EXPECT_EQ((input ? ledger_->write_reports : ledger_->read_reports)[channel], 0);
    }
    EXPECT_GT(failures, 0) << "the faults never struck";
    std::printf("request stress: %d requests, %d failed transfers\n", requests_.load(), failures);
    EXPECT_EQ(ledger_->read_reports.size() + ledger_->write_reports.size(), ledger_->failed.size() * 2)
        << "an error line for a channel that never failed";

    for (int t = 0; t < kThreads; ++t) {
        for (int c = 0; c < 4; ++c) {
            if (c < 2) {
                devsim_analog_output_state output{};
                ASSERT_EQ(devsim_analog_output(3 + t / 2, 2 * (t % 2) + c, &output), 0);
                EXPECT_EQ(output.voltage, static_cast<float>(device_value[t][AnalogueOutput(t, c)]))
                    << "channel " << AnalogueOutput(t, c);
            }
            const int bit = 2 * t + c % 2;
            for (const int device : {5, 6}) {
                const std::int32_t channel = device == 5 ? MergedBit(t, c) : DirectBit(t, c);
                devsim_port_state port{};
                ASSERT_EQ(devsim_port_output(device, c / 2, &port), 0);
                EXPECT_EQ((port.value >> bit) & 1, device_value[t][channel] != 0.0 ? 1 : 0) << "channel " << channel;
            }
        }
    }
}

TEST_F(RequestStressTest, DoneAtARandomMomentStopsTheWorkerAndClosesEveryDevice) {
    for (std::uint32_t seed = 1; seed <= 10; ++seed) {
        SCOPED_TRACE(seed);
        ASSERT_NO_FATAL_FAILURE(StartPlant(seed));
        std::atomic<bool> stop{false};
        std::vector<std::thread> hosts;
        for (int t = 0; t < kThreads; ++t) {
            hosts.emplace_back([&, t] {
                std::minstd_rand random(seed * 31 + t);
                while (!stop.load()) {
                    const int c = random() % 4;
                    switch (random() % 5) {
                        case 0: InputRequest(driver_, InputChannel(t, c)); break;
                        case 1: Send(devicetest::Real(AnalogueOutput(t, c % 2), c)); break;
                        case 2: Send(devicetest::Bool(MergedBit(t, c), c % 2)); break;
                        case 3: InputRequestCompleted(driver_); break;
                        default: OutputRequestCompleted(driver_); break;
                    }
                }
            });
        }
        std::minstd_rand random(seed);
        {
            std::unique_lock<std::mutex> lock(ledger_->wake_mutex);
            const std::uint64_t target = random() % 20;
            ledger_->woken.wait_for(lock, devicetest::kGuardTime, [&] { return ledger_->callbacks >= target; });
        }
        stop = true;
        for (auto& host : hosts) host.join();
        Done(driver_);  // the worker may be anywhere in a cycle
        EXPECT_EQ(driver_->worker_thread, nullptr);
        EXPECT_EQ(devsim_open_device_handles(-1), 0);
    }
}

}  // namespace
