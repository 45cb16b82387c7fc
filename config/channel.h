// The channel record: one numbered channel of the host, its configuration, its
// current value and its status flags; and the collection of all channels.
#pragma once

#include <cstdint>

#include "config/io_type.h"
#include "host/sorted_collection.h"

namespace tovi {

class Module;

// Status bits of a channel.
enum ChannelFlag : std::uint32_t {
    kQueued = 0x1,                    // a read of the channel waits in the input queue or runs
    kBusy = 0x2,                      // a device operation on the channel runs
    kErrorPending = 0x4,              // the last read failed, not yet reported
    kWriteQueued = 0x8,               // a write of the channel waits in the output queue
    kWriteErrorPending = 0x10,        // the last write failed, not yet reported
    kParameterChannel = 0x10000,      // a parameter channel of its owner
    kParameterValuePresent = 0x20000, // the host has written the parameter channel
};

// Size of the text block a string value owns: 255 characters and a terminator.
constexpr std::uint32_t kStringBlockSize = 256;

// A channel's current value: TypeCode, then 8 payload bytes.
struct ValueCell {
    std::uint32_t type_code = kTypeNone;
    std::uint8_t payload[8] = {};

    // The text block of a string value (first payload bytes), or null.
    char* StringBlock() const;
    // Sets type and payload. A string value gets a private copy of the text the
    // payload points at (at most 255 characters) in a block the cell owns and reuses;
    // any other type releases a block the cell held.
    void AssignValue(std::uint32_t new_type, const std::uint8_t* new_payload);
    // Releases a string block, leaving the cell with TypeCode 0.
    void ReleaseString();
};

class Channel final : public host::CollectionItem {
public:
    Channel() = default;
    ~Channel() override = default;

    // Ordering by channel number compared as unsigned.
    std::int32_t Compare(const host::CollectionItem& other) const override;
    // Copies configuration and value; links and owner stay as they are.
    void Assign(const host::CollectionItem& other) override;
    // Releases a string block and the link array.
    void Release() override;

    Module* module = nullptr;
    std::int32_t io_type = kIoNone;
    std::int32_t port = -1;
    std::int32_t bit = -1;
    std::int32_t number = 0;
    std::uint32_t flags = 0;
    ValueCell value;
    std::uint32_t expected_type = kTypeNone;
    std::uint32_t link_count = 0;
    Channel** links = nullptr;
    Channel* owner = nullptr;
};

// All channels, configured and parameter channels alike, keyed by number.
class ChannelCollection : public host::SortedCollection {
public:
    // The channel bearing number, or null.
    Channel* Find(std::int32_t number) const;
};

}  // namespace tovi
