// Fuzz target: a parameter file and a module-type database through Init, against the
// simulated devices. The input is the parameter file, optionally followed by a line
// "[[tovi.ini]]" and the database; without it the shipped database is used.
#include <cstring>
#include <string>

#include "driver/tovi.h"
#include "host/memory.h"
#include "platform/platform.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

void TOVI_CALL Ignore(void*, std::int32_t, std::int32_t) {}

const std::string& ShippedDatabase() {
    static const std::string text = tovifuzz::SourceFile("config/tovi.ini");
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tovifuzz::PrepareProcess();
    const std::string input(reinterpret_cast<const char*>(data), size);
    static const char kSeparator[] = "\n[[tovi.ini]]\n";
    const std::size_t split = input.find(kSeparator);
    if (split == std::string::npos) {
        tovifuzz::WriteFile("plant.ini", input);
        tovifuzz::WriteFile("tovi.ini", ShippedDatabase());
    } else {
        tovifuzz::WriteFile("plant.ini", input.substr(0, split));
        tovifuzz::WriteFile("tovi.ini", input.substr(split + sizeof kSeparator - 1));
    }
    const std::int64_t live_before = host::testing::LiveBlocks();
    // The worker thread is all that Init would add after reading and binding: it is
    // left out (Init then ends with its internal-error message), which makes a run
    // several times cheaper.
    tovi::platform::testing::FailThreadCreation(1);
    DriverInstance* driver = MakeDriver();
    char message[256];
    std::memset(message, 0x55, sizeof message);
    const std::uint8_t started = Init(driver, 9, "plant.ini", 255, message, 0, 0, nullptr, &Ignore);
    // Whatever the files hold, a refusal carries a terminated message within the buffer.
    if (started == 0 && std::memchr(message, 0, sizeof message) == nullptr) __builtin_trap();
    tovi::platform::testing::FailThreadCreation(0);
    Done(driver);
    DisposeDriver(driver);
    if (host::testing::LiveBlocks() != live_before) __builtin_trap();  // Done released everything
    tovifuzz::ForgetRecords();
    return 0;
}
