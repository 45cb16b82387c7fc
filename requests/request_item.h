// A queued request for one channel.
#pragma once

#include <cstdint>

#include "host/item_list.h"

namespace tovi {

class Channel;

class RequestItem final : public host::ListItem {
public:
    explicit RequestItem(Channel* target) : channel(target) {}

    // Set on the item at the tail of its queue when the host completed the batch.
    std::uint8_t last_in_batch = 0;
    Channel* channel = nullptr;
};

}  // namespace tovi
