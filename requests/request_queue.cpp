#include "requests/request_queue.h"

#include "host/memory.h"

namespace tovi {

bool RequestQueue::Retire(RequestItem* item) {
    const bool last = item->last_in_batch != 0;
    if (Find(item)) {
        RemoveCurrent();
        if (last && marked_batches_ > 0) --marked_batches_;
        host::DeleteObject(item);
    }
    return last;
}

}  // namespace tovi
