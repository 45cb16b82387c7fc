#include "recorder/call_origin.h"

#include "platform/platform.h"

namespace recorder {

void CallOrigins::AddVendorLibrary(const void* address) {
    const void* library = tovi::platform::ModuleOf(address);
    if (library == nullptr || FromVendor(address) || count_ == kMaxLibraries) return;
    libraries_[count_++] = library;
}

bool CallOrigins::FromVendor(const void* return_address) const {
    if (count_ == 0 || return_address == nullptr) return false;
    const void* library = tovi::platform::ModuleOf(return_address);
    for (int i = 0; i < count_; ++i) {
        if (library != nullptr && library == libraries_[i]) return true;
    }
    return false;
}

}  // namespace recorder
