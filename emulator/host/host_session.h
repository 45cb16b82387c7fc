// The host's side of the request protocol: one driver instance, read and write
// batches, the wait for the completion callback (with a time-out that reveals a
// hung driver) and the collection of statuses and values.
//
// An outcome counts from the completion callback that follows the transfer on: the
// driver reports a failed transfer (error line, error log) after it has flagged the
// channel and before its callback, so an answer taken earlier may come before its
// report. Every callback therefore asks Finalized for each channel still awaited,
// whatever batch it belongs to; a batch whose channels were served by an earlier
// cycle (its own completion then gets no callback) is already answered when it is
// completed. A request the driver answers without a transfer (a parameter
// channel's value) is answered by Finalized at once; a failure seen that way waits
// for the callback of the pass that made it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "emulator/host/driver_library.h"

namespace tovihost {

struct ChannelValue {
    std::int32_t channel = 0;
    std::uint32_t type_code = 0;  // 2 boolean, 10 real
    double real = 0.0;
    bool boolean = false;
};

struct ChannelOutcome {
    std::int32_t channel = 0;
    bool finished = false;  // Finalized answered within the time-out
    std::int32_t status = -1;  // 0 good, 2 failed
    ChannelValue value;        // reads: the value GetInput returned
};

class HostSession {
public:
    explicit HostSession(const DriverExports& driver) : driver_(driver) {}
    ~HostSession() { Stop(); }
    HostSession(const HostSession&) = delete;
    HostSession& operator=(const HostSession&) = delete;

    // MakeDriver and Init; false with the driver's message (Windows-1250) in message.
    bool Start(const std::string& param_path, std::string& message);
    // Done and DisposeDriver; nothing when not started.
    void Stop();

    // One read batch over channels (channel numbers and type codes); false when
    // the driver did not finish it within timeout (outcomes then say which).
    bool Read(const std::vector<ChannelValue>& channels, std::vector<ChannelOutcome>& outcomes,
              std::chrono::milliseconds timeout);
    // One write batch of the given values.
    bool Write(const std::vector<ChannelValue>& values, std::vector<ChannelOutcome>& outcomes,
               std::chrono::milliseconds timeout);

    // The steps of a batch one by one: requests, the completion, the wait for every
    // outcome (direction 0 read, 1 write), a single Finalized and GetInput.
    // served_by: the channel whose transfer serves the request (a parameter
    // channel's owner), awaited as well.
    void RequestRead(std::int32_t channel, std::int32_t served_by);
    void RequestRead(std::int32_t channel) { RequestRead(channel, channel); }
    void RequestWrite(const ChannelValue& value);
    void CompleteRead();
    void CompleteWrite();
    bool Wait(int direction, std::vector<ChannelOutcome>& outcomes, std::chrono::milliseconds timeout);
    // 1 finished (status written), 0 not finished or no such channel.
    std::uint8_t Finalized(int direction, std::int32_t channel, std::int32_t& status);
    // GetInput with the record's type code taken from value.type_code.
    void Fetch(ChannelValue& value);

    DriverInstance* instance() const { return instance_; }
    std::uint64_t callbacks(int direction) const;

private:
    // A channel awaited in one direction, from its request until a Wait takes it.
    struct Awaited {
        enum class State { Unanswered, AnsweredBeforeCallback, Answered } state = State::Unanswered;
        std::int32_t status = -1;
    };

    static void TOVI_CALL OnCompletion(void* context, std::int32_t direction, std::int32_t zero);
    tovi::exports::FinalizedFn FinalizedOf(int direction) const;
    // Asks Finalized for every unanswered channel; caller holds mutex_.
    void AskUnanswered(bool in_callback);

    const DriverExports& driver_;
    DriverInstance* instance_ = nullptr;
    mutable std::mutex mutex_;
    std::condition_variable completed_;
    std::uint64_t callbacks_[2] = {0, 0};
    std::map<std::int32_t, Awaited> awaited_[2];
};

}  // namespace tovihost
