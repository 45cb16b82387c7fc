// The host's request interface: reads and writes are queued here and served by the
// worker thread; the host learns each channel's outcome through the Finalized calls.
#include "diagnostics/request_messages.h"
#include "driver/driver_instance.h"
#include "driver/tovi.h"
#include "host/memory.h"

using namespace tovi;

namespace {

Channel* Lookup(DriverInstance* driver, std::int32_t number) {
    return driver == nullptr ? nullptr : driver->channels.Find(number);
}

// Payload bytes 0 to 3 come from the low word, 4 to 7 from the high word.
void StoreValue(Channel& channel, std::uint32_t type_code, std::uint32_t low, std::uint32_t high) {
    switch (type_code) {
        case kTypeBoolean:
            channel.value.type_code = kTypeBoolean;
            channel.value.payload[0] = static_cast<std::uint8_t>(low & 0xFF);
            break;
        case kTypeReal:
            channel.value.type_code = kTypeReal;
            for (int i = 0; i < 4; ++i) {
                channel.value.payload[i] = static_cast<std::uint8_t>(low >> (8 * i));
                channel.value.payload[4 + i] = static_cast<std::uint8_t>(high >> (8 * i));
            }
            break;
        default:
            channel.value.type_code = kTypeNone;
            break;
    }
}

// The flags that say one direction's request waits and that its last transfer failed.
struct Direction {
    std::uint32_t queued;
    std::uint32_t error_pending;
};
constexpr Direction kRead{kQueued, kErrorPending};
constexpr Direction kWrite{kWriteQueued, kWriteErrorPending};

std::uint8_t Finalized(DriverInstance* driver, std::int32_t number, std::int32_t* status, Direction direction) {
    Channel* channel = Lookup(driver, number);
    if (channel == nullptr) return 0;
    platform::LockGuard guard(driver->lock);
    if ((channel->flags & direction.error_pending) != 0) {
        channel->flags &= ~direction.error_pending;
        if (status != nullptr) *status = 2;
        return 1;
    }
    if ((channel->flags & (direction.queued | kBusy)) != 0) return 0;
    if (status != nullptr) *status = 0;
    return 1;
}

// Appends a request for channel to queue and opens the direction's batch (caller
// holds the lock); false when there is no memory for the request.
bool Enqueue(DriverInstance& driver, RequestQueue& queue, Channel& channel, Direction direction, RunState batch_open) {
    RequestItem* item = host::NewObject<RequestItem>(&channel);
    if (item == nullptr) return false;
    channel.flags |= direction.queued;
    queue.Append(item);
    driver.run_state.fetch_or(batch_open, std::memory_order_acq_rel);
    return true;
}

void Completed(DriverInstance* driver, RequestQueue& queue, RunState batch_open) {
    platform::LockGuard guard(driver->lock);
    if ((driver->run_state.load(std::memory_order_acquire) & batch_open) == 0) return;
    if (queue.MarkBatchEnd()) platform::SignalEvent(driver->work_event);
    driver->run_state.fetch_and(~static_cast<std::uint32_t>(batch_open), std::memory_order_acq_rel);
}

}  // namespace

extern "C" {

void TOVI_CALL InputRequest(DriverInstance* driver, std::int32_t number) {
    if (driver == nullptr || driver->Stopping()) return;
    Channel* channel = Lookup(driver, number);
    if (channel == nullptr) return;
    {
        platform::LockGuard guard(driver->lock);
        // The flag word changes under the lock on the worker's side, so even the
        // never-changing parameter bit is read under it.
        Channel* requested = channel;
        if ((channel->flags & kParameterChannel) != 0) {
            channel = channel->owner;  // a parameter channel reads its owner
            if (channel == nullptr) return;
        }
        if ((channel->flags & (kQueued | kBusy)) != 0) return;  // the pending read serves this one too
        if (Enqueue(*driver, driver->input_queue, *channel, kRead, kInputBatchOpen)) return;
        // Nothing will read the channel: the host hears of it as of a failed read.
        requested->flags |= kErrorPending;
    }
    ReportRequestRefused(number);
}

void TOVI_CALL InputRequestCompleted(DriverInstance* driver) {
    if (driver == nullptr || driver->work_event == nullptr) return;
    Completed(driver, driver->input_queue, kInputBatchOpen);
}

std::uint8_t TOVI_CALL InputFinalized(DriverInstance* driver, std::int32_t number, std::int32_t* status) {
    return Finalized(driver, number, status, kRead);
}

void TOVI_CALL GetInput(DriverInstance* driver, std::int32_t number, host::ValueRecord* value) {
    Channel* channel = Lookup(driver, number);
    if (channel == nullptr || value == nullptr) return;
    if (value->type_code != channel->expected_type) {
        ReportTypeMismatch(number);
        return;
    }
    platform::LockGuard guard(driver->lock);
    if (value->type_code == kTypeBoolean) {
        value->payload[0] = channel->value.payload[0];
    } else if (value->type_code == kTypeReal) {
        for (int i = 0; i < 8; ++i) value->payload[i] = channel->value.payload[i];
    }
}

void TOVI_CALL OutputRequest(DriverInstance* driver, std::int32_t number, std::uint32_t type_code,
                             std::uint32_t payload_low, std::uint32_t payload_high) {
    if (driver == nullptr || driver->Stopping()) return;
    Channel* channel = Lookup(driver, number);
    if (channel == nullptr) return;
    // The type is tested first in every case, so that a queued write never takes a
    // value of the wrong type.
    if (type_code != channel->expected_type) {
        ReportTypeMismatch(number);
        return;
    }
    {
        platform::LockGuard guard(driver->lock);
        StoreValue(*channel, type_code, payload_low, payload_high);
        if ((channel->flags & kWriteQueued) != 0) return;  // the queued write carries the newest value
        if ((channel->flags & kParameterChannel) != 0) {
            channel->flags |= kParameterValuePresent;
            return;
        }
        if (Enqueue(*driver, driver->output_queue, *channel, kWrite, kOutputBatchOpen)) return;
        // The value stays stored, but no write will carry it: the host hears of it
        // as of a failed write.
        channel->flags |= kWriteErrorPending;
    }
    ReportRequestRefused(number);
}

void TOVI_CALL OutputRequestCompleted(DriverInstance* driver) {
    if (driver == nullptr || driver->work_event == nullptr) return;
    Completed(driver, driver->output_queue, kOutputBatchOpen);
}

std::uint8_t TOVI_CALL OutputFinalized(DriverInstance* driver, std::int32_t number, std::int32_t* status) {
    return Finalized(driver, number, status, kWrite);
}

}  // extern "C"
