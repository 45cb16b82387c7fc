// Fuzz target: the host's request calls in any order, with any value types and
// values, against the example plant whose devices fail at random, and Done at any
// point. Each input byte picks one call; the bytes after it its arguments.
#include <cstring>
#include <string>
#include <vector>

#include "config/channel.h"
#include "device_sim/device_sim.h"
#include "driver/driver_instance.h"
#include "driver/tovi.h"
#include "host/memory.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

void TOVI_CALL Ignore(void*, std::int32_t, std::int32_t) {}

const char* const kFunctions[] = {"DRV_AIVoltageIn",     "DRV_DioReadPortByte", "DRV_DioWritePortByte",
                                  "DRV_DioWriteBit",     "DRV_AOVoltageOut",    "DRV_CounterEventRead",
                                  "DRV_CounterEventStart", "DRV_AlarmConfig",   "COMWrite",
                                  "COMRead",             "DRV_AlarmCheck",      "*"};

using Input = tovifuzz::ByteReader;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tovifuzz::PrepareProcess();
    static bool files_written = false;
    if (!files_written) {
        tovifuzz::WriteFile("plant.ini", tovifuzz::SourceFile("examples/plant.ini"));
        tovifuzz::WriteFile("tovi.ini", tovifuzz::SourceFile("config/tovi.ini"));
        files_written = true;
    }
    devsim_reset();
    devsim_clear_faults();
    const std::int64_t live_before = host::testing::LiveBlocks();
    DriverInstance* driver = MakeDriver();
    char message[256] = {};
    if (Init(driver, 9, "plant.ini", 255, message, 0, 0, nullptr, &Ignore) == 0) __builtin_trap();

    std::vector<std::int32_t> numbers;
    driver->channels.ForEach(
        [&](const host::CollectionItem& item) { numbers.push_back(static_cast<const tovi::Channel&>(item).number); });
    numbers.push_back(-1);  // and a number no channel bears

    Input in(data, size);
    bool stopped = false;
    while (in.More() && !stopped) {
        const std::uint8_t call = in.Byte();
        const std::int32_t channel = numbers[in.Byte() % numbers.size()];
        std::int32_t status = 0;
        switch (call % 11) {
            case 0: InputRequest(driver, channel); break;
            case 1: {
                static const std::uint32_t kTypes[] = {0, 2, 10, 11, 10, 2, 0xFFFFFFFFu};
                const std::uint32_t type = kTypes[in.Byte() % 7];
                OutputRequest(driver, channel, type, in.Word(), in.Word());
                break;
            }
            case 2: InputRequestCompleted(driver); break;
            case 3: OutputRequestCompleted(driver); break;
            case 4: InputFinalized(driver, channel, &status); break;
            case 5: OutputFinalized(driver, channel, in.Byte() % 4 == 0 ? nullptr : &status); break;
            case 6: {
                host::ValueRecord value{in.Byte() % 2 ? 10u : 2u, {}};
                GetInput(driver, channel, &value);
                break;
            }
            case 7: {
                const std::uint8_t which = in.Byte();
                devsim_inject_fault(kFunctions[which % (sizeof kFunctions / sizeof *kFunctions)], 1 + which % 200,
                                    "injected", -1, nullptr, -1, which % 3, 1 + which % 4);
                break;
            }
            case 8: devsim_clear_faults(); break;
            case 9: devsim_advance_clock(static_cast<std::int64_t>(in.Word() % 10000000)); break;
            default: stopped = in.Byte() % 4 == 0; break;  // Done at this point
        }
    }
    devsim_clear_faults();  // a failing close would leave a handle open in the simulator
    Done(driver);
    DisposeDriver(driver);
    if (host::testing::LiveBlocks() != live_before) __builtin_trap();
    if (devsim_open_device_handles(-1) != 0 || devsim_open_serial_handles(-1) != 0) __builtin_trap();
    tovifuzz::ForgetRecords();
    return 0;
}
