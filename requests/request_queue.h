// The input and output request queues. Every operation here runs with the
// driver's lock held by the caller.
#pragma once

#include <cstdint>

#include "host/item_list.h"
#include "requests/request_item.h"

namespace tovi {

class RequestQueue : public host::ItemList {
public:
    // The item at the head, which becomes current; null when the queue is empty.
    RequestItem* Head() {
        RequestItem* item = nullptr;
        return First(&item) ? item : nullptr;
    }

    // Marks the tail item as the end of the host's batch. False when the queue is
    // empty (everything was served already).
    bool MarkBatchEnd() {
        RequestItem* item = nullptr;
        if (!Last(&item)) return false;
        if (item->last_in_batch == 0) {
            item->last_in_batch = 1;
            ++marked_batches_;
        }
        return true;
    }

    // Takes a served item off the queue and frees it. True when it ended a batch.
    bool Retire(RequestItem* item);

    // True while a completed batch still waits in the queue.
    bool HasCompletedBatch() const { return marked_batches_ > 0; }

private:
    std::uint32_t marked_batches_ = 0;
};

}  // namespace tovi
