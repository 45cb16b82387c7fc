// Record files of the host run-time: text files that grow one line at a time.
// A handle is a small non-negative number; -1 means none.
#pragma once

#include <cstdint>

#include "host/text.h"

namespace host {

// Opens an existing record file to add lines at its end; -1 when missing or not openable.
std::int32_t RecOpen(Cap path_cap, const char* path, std::int32_t mode);
// Creates (or opens) the record file for adding lines; -1 when it cannot be created.
// The host driver API's RedCreate is built on it.
std::int32_t RecCreate(Cap path_cap, const char* path);
// Adds text as one line.
void RecAddLine(std::int32_t handle, Cap text_cap, const char* text);
void RecFlush(std::int32_t handle);
void RecClose(std::int32_t handle);

}  // namespace host
