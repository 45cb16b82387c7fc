#include "emulator/host_session.h"

#include <cstring>

namespace tovihost {
namespace {

constexpr std::uint32_t kMessageCapacity = 255;

}  // namespace

bool HostSession::Start(const std::string& param_path, std::string& message) {
    instance_ = driver_.make_driver();
    if (instance_ == nullptr) {
        message = "no memory for a driver instance";
        return false;
    }
    char text[kMessageCapacity + 1] = {};
    const std::uint8_t started = driver_.init(instance_, static_cast<std::uint32_t>(param_path.size()),
                                              param_path.c_str(), kMessageCapacity, text, 0, 0, this, &OnCompletion);
    if (started == 0) {
        message = text;
        Stop();
        return false;
    }
    return true;
}

void HostSession::Stop() {
    if (instance_ == nullptr) return;
    driver_.done(instance_);
    driver_.dispose_driver(instance_);
    instance_ = nullptr;
}

void TOVI_CALL HostSession::OnCompletion(void* context, std::int32_t direction, std::int32_t) {
    auto* session = static_cast<HostSession*>(context);
    std::lock_guard<std::mutex> guard(session->mutex_);
    if (direction == 0 || direction == 1) ++session->callbacks_[direction];
    session->completed_.notify_all();
}

std::uint64_t HostSession::callbacks(int direction) const {
    std::lock_guard<std::mutex> guard(mutex_);
    return callbacks_[direction];
}

// Asks Finalized for every unfinished channel after each completion callback: a
// batch whose channels were all served before its completion gets no callback, and
// one whose channels are shared with another batch may finish with that one.
bool HostSession::Collect(tovi::exports::FinalizedFn finalized, std::vector<ChannelOutcome>& outcomes,
                          std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        bool all = true;
        for (ChannelOutcome& outcome : outcomes) {
            if (outcome.finished) continue;
            std::int32_t status = -1;
            if (finalized(instance_, outcome.channel, &status) != 0) {
                outcome.finished = true;
                outcome.status = status;
            } else {
                all = false;
            }
        }
        if (all) return true;
        if (completed_.wait_until(lock, deadline) == std::cv_status::timeout) {
            // One last look: the answer may have come with the time-out.
            for (ChannelOutcome& outcome : outcomes) {
                std::int32_t status = -1;
                if (!outcome.finished && finalized(instance_, outcome.channel, &status) != 0) {
                    outcome.finished = true;
                    outcome.status = status;
                }
            }
            for (const ChannelOutcome& outcome : outcomes) {
                if (!outcome.finished) return false;
            }
            return true;
        }
    }
}

void HostSession::RequestRead(std::int32_t channel) { driver_.input_request(instance_, channel); }

void HostSession::RequestWrite(const ChannelValue& value) {
    std::uint32_t words[2] = {0, 0};
    if (value.type_code == 10) {
        std::memcpy(words, &value.real, 8);
    } else if (value.type_code == 2) {
        words[0] = value.boolean ? 1 : 0;
    }
    driver_.output_request(instance_, value.channel, value.type_code, words[0], words[1]);
}

void HostSession::CompleteRead() { driver_.input_request_completed(instance_); }
void HostSession::CompleteWrite() { driver_.output_request_completed(instance_); }

bool HostSession::Wait(int direction, std::vector<ChannelOutcome>& outcomes, std::chrono::milliseconds timeout) {
    return Collect(direction == 0 ? driver_.input_finalized : driver_.output_finalized, outcomes, timeout);
}

std::uint8_t HostSession::Finalized(int direction, std::int32_t channel, std::int32_t& status) {
    return (direction == 0 ? driver_.input_finalized : driver_.output_finalized)(instance_, channel, &status);
}

void HostSession::Fetch(ChannelValue& value) {
    host::ValueRecord record{value.type_code, {}};
    driver_.get_input(instance_, value.channel, &record);
    if (record.type_code == 10) std::memcpy(&value.real, record.payload, 8);
    if (record.type_code == 2) value.boolean = record.payload[0] != 0;
}

bool HostSession::Read(const std::vector<ChannelValue>& channels, std::vector<ChannelOutcome>& outcomes,
                       std::chrono::milliseconds timeout) {
    outcomes.clear();
    for (const ChannelValue& channel : channels) {
        RequestRead(channel.channel);
        ChannelOutcome outcome;
        outcome.channel = channel.channel;
        outcome.value = channel;
        outcomes.push_back(outcome);
    }
    CompleteRead();
    const bool finished = Wait(0, outcomes, timeout);
    for (ChannelOutcome& outcome : outcomes) {
        if (outcome.finished) Fetch(outcome.value);
    }
    return finished;
}

bool HostSession::Write(const std::vector<ChannelValue>& values, std::vector<ChannelOutcome>& outcomes,
                        std::chrono::milliseconds timeout) {
    outcomes.clear();
    for (const ChannelValue& value : values) {
        RequestWrite(value);
        ChannelOutcome outcome;
        outcome.channel = value.channel;
        outcome.value = value;
        outcomes.push_back(outcome);
    }
    CompleteWrite();
    return Wait(1, outcomes, timeout);
}

}  // namespace tovihost
