// The host's request interface: reads and writes are queued here and served by the
// worker thread; the host learns each channel's outcome through the Finalized calls.
#include "diagnostics/type_mismatch.h"
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

std::uint8_t Finalized(DriverInstance* driver, std::int32_t number, std::int32_t* status) {
    Channel* channel = Lookup(driver, number);
    if (channel == nullptr) return 0;
    platform::LockGuard guard(driver->lock);
    if ((channel->flags & kErrorPending) != 0) {
        channel->flags &= ~static_cast<std::uint32_t>(kErrorPending);
        if (status != nullptr) *status = 2;
        return 1;
    }
    if ((channel->flags & (kQueued | kBusy)) != 0) return 0;
    if (status != nullptr) *status = 0;
    return 1;
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
    platform::LockGuard guard(driver->lock);
    // The flag word changes under the lock on the worker's side, so even the
    // never-changing parameter bit is read under it.
    if ((channel->flags & kParameterChannel) != 0) {
        channel = channel->owner;  // a parameter channel reads its owner
        if (channel == nullptr) return;
    }
    if ((channel->flags & (kQueued | kBusy)) != 0) return;  // the pending read serves this one too
    RequestItem* item = host::NewObject<RequestItem>(channel);
    if (item == nullptr) return;
    channel->flags |= kQueued;
    driver->input_queue.Append(item);
    driver->run_state.fetch_or(kInputBatchOpen, std::memory_order_acq_rel);
}

void TOVI_CALL InputRequestCompleted(DriverInstance* driver) {
    if (driver == nullptr || driver->work_event == nullptr) return;
    Completed(driver, driver->input_queue, kInputBatchOpen);
}

std::uint8_t TOVI_CALL InputFinalized(DriverInstance* driver, std::int32_t number, std::int32_t* status) {
    return Finalized(driver, number, status);
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
    platform::LockGuard guard(driver->lock);
    StoreValue(*channel, type_code, payload_low, payload_high);
    if ((channel->flags & kQueued) != 0) return;  // the queued write carries the newest value
    if ((channel->flags & kParameterChannel) != 0) {
        channel->flags |= kParameterValuePresent;
        return;
    }
    RequestItem* item = host::NewObject<RequestItem>(channel);
    if (item == nullptr) return;
    channel->flags |= kQueued;
    driver->output_queue.Append(item);
    driver->run_state.fetch_or(kOutputBatchOpen, std::memory_order_acq_rel);
}

void TOVI_CALL OutputRequestCompleted(DriverInstance* driver) {
    if (driver == nullptr || driver->work_event == nullptr) return;
    Completed(driver, driver->output_queue, kOutputBatchOpen);
}

std::uint8_t TOVI_CALL OutputFinalized(DriverInstance* driver, std::int32_t number, std::int32_t* status) {
    return Finalized(driver, number, status);
}

}  // extern "C"
