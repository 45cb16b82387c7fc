#include "emulator/host/host_session.h"

#include <algorithm>
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
    driver_.done(instance_);  // its last callbacks may still ask: mutex_ is free here
    driver_.dispose_driver(instance_);
    std::lock_guard<std::mutex> guard(mutex_);
    instance_ = nullptr;
    awaited_[0].clear();
    awaited_[1].clear();
}

void TOVI_CALL HostSession::OnCompletion(void* context, std::int32_t direction, std::int32_t) {
    auto* session = static_cast<HostSession*>(context);
    {
        std::lock_guard<std::mutex> guard(session->mutex_);
        if (direction == 0 || direction == 1) ++session->callbacks_[direction];
        session->AskUnanswered(true);
    }
    // After the lock is let go, so that the woken host does not wait for it. The
    // session outlives every callback: Stop returns only after the driver's last.
    session->completed_.notify_all();
}

std::uint64_t HostSession::callbacks(int direction) const {
    std::lock_guard<std::mutex> guard(mutex_);
    return callbacks_[direction];
}

tovi::exports::FinalizedFn HostSession::FinalizedOf(int direction) const {
    return direction == 0 ? driver_.input_finalized : driver_.output_finalized;
}

// In a callback every answer is final: the pass that ended a transfer has made its
// report before calling back. Outside one, a failure may still be on its way to the
// error line, so it waits for the next callback (that of the pass that made it: the
// callbacks before it were taken before that pass ran); a good answer is final.
void HostSession::AskUnanswered(bool in_callback) {
    for (int direction = 0; direction < 2; ++direction) {
        for (auto& [channel, awaited] : awaited_[direction]) {
            if (awaited.state == Awaited::State::AnsweredBeforeCallback && in_callback) {
                awaited.state = Awaited::State::Answered;
            }
            if (awaited.state != Awaited::State::Unanswered) continue;
            std::int32_t status = -1;
            if (FinalizedOf(direction)(instance_, channel, &status) == 0) continue;
            awaited.status = status;
            awaited.state = in_callback || status == 0 ? Awaited::State::Answered
                                                       : Awaited::State::AnsweredBeforeCallback;
        }
    }
}

// Each request and its entry in one holding of mutex_: a callback asks only after
// the request is made, and every callback after it asks.
void HostSession::RequestRead(std::int32_t channel, std::int32_t served_by) {
    std::lock_guard<std::mutex> guard(mutex_);
    driver_.input_request(instance_, channel);
    awaited_[0][channel] = Awaited{};
    awaited_[0][served_by] = Awaited{};
}

void HostSession::RequestWrite(const ChannelValue& value) {
    std::uint32_t words[2] = {0, 0};
    if (value.type_code == 10) {
        std::memcpy(words, &value.real, 8);
    } else if (value.type_code == 2) {
        words[0] = value.boolean ? 1 : 0;
    }
    std::lock_guard<std::mutex> guard(mutex_);
    driver_.output_request(instance_, value.channel, value.type_code, words[0], words[1]);
    awaited_[1][value.channel] = Awaited{};
}

void HostSession::CompleteRead() { driver_.input_request_completed(instance_); }
void HostSession::CompleteWrite() { driver_.output_request_completed(instance_); }

bool HostSession::Wait(int direction, std::vector<ChannelOutcome>& outcomes, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::unique_lock<std::mutex> lock(mutex_);
    std::map<std::int32_t, Awaited>& awaited = awaited_[direction];
    for (const ChannelOutcome& outcome : outcomes) awaited.try_emplace(outcome.channel);
    // A request answered without a transfer gets no callback: ask once now.
    AskUnanswered(false);
    const bool all = completed_.wait_until(lock, deadline, [&] {
        return std::all_of(outcomes.begin(), outcomes.end(), [&](const ChannelOutcome& outcome) {
            const auto found = awaited.find(outcome.channel);
            return found == awaited.end() || found->second.state == Awaited::State::Answered;
        });
    });
    for (ChannelOutcome& outcome : outcomes) {
        const Awaited& answer = awaited[outcome.channel];
        outcome.finished = answer.state == Awaited::State::Answered;
        if (outcome.finished) outcome.status = answer.status;
    }
    for (const ChannelOutcome& outcome : outcomes) awaited.erase(outcome.channel);
    return all;
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
