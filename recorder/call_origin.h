// Which calls into the recorder are the driver's. A vendor library may call
// another one by name: on Windows a serial library that imports ADSAPI32.dll binds
// to the recorder's ADSAPI32, loaded first from the driver's directory, and its
// inner calls arrive here as if the driver had made them. A call whose return
// address lies inside one of the vendor libraries the recorder loaded is such an
// inner call: forwarded as always, kept out of the driver's sequence.
#pragma once

namespace recorder {

class CallOrigins {
public:
    // The library holding the code at address (any function resolved from it)
    // counts as a vendor library from now on.
    void AddVendorLibrary(const void* address);
    // True when return_address lies inside a vendor library.
    bool FromVendor(const void* return_address) const;

private:
    static constexpr int kMaxLibraries = 2;
    const void* libraries_[kMaxLibraries] = {};
    int count_ = 0;
};

}  // namespace recorder
