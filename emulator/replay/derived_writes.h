// The host's writes behind a recorded output call: which channel of the plant's
// parameter file, written with which value, makes the driver make exactly that
// call again. The output pass's mappings taken backwards: an analogue output to
// its "ao" channel, a port write to the port's "do_byte" channel or to the
// "do_bit" channels merged into it, a display frame back to the value the driver
// formatted, counter and alarm calls to their channel and parameter channels.
//
// Which module a recorded call belongs to follows from the device list the driver
// was given when it bound its modules (learnt from the recorded describing calls:
// device lists, sub-device lists and serial configurations), by the driver's own
// rule: the last listed device whose name holds the module's device text, then the
// last of its sub-devices whose name holds the sub-device text.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "emulator/host/host_session.h"
#include "emulator/plant/plant.h"
#include "recording/recording_format.h"

namespace tovihost {

// True for the recorded calls that a host write causes (DRV_AOVoltageOut,
// DRV_DioWritePortByte, DRV_DioWriteBit, DRV_CounterEventStart, DRV_CounterReset,
// DRV_AlarmConfig, DRV_AlarmEnable, DRV_AlarmReset, COMWrite).
bool IsOutputCall(const std::string& function);

class DerivedWrites {
public:
    // The plant must outlive this object and stay as it was loaded.
    explicit DerivedWrites(const Plant& plant) : plant_(plant), bindings_(plant.modules().size()) {}
    DerivedWrites(const Plant& plant, const std::vector<recording::Call>& described);

    // Takes what a describing call tells about the devices: DRV_DeviceGetList,
    // DRV_DeviceGetSubList and COMGetConfig (a later answer replaces an earlier
    // one); other calls are ignored.
    void Learn(const recording::Call& call);

    // The writes, in the order a host sends them in one batch (parameter channels
    // before their owner), that make the driver make the recorded call. Empty with
    // the reason in why when no channel of the parameter file makes it (a module
    // missing from the file, a channel not configured, a call the driver cannot
    // make from any value).
    std::vector<ChannelValue> For(const recording::Call& recorded, std::string& why) const;

    // The device (or sub-device) a module binds to in the learnt device list; -1
    // when it binds to none.
    std::int64_t DeviceOf(const PlantModule& module) const;
    // The listed device that holds a display module's serial line (the last one
    // configured for that port), when no other display module of the parameter
    // file is on the line: the device its serial calls count for. -1 otherwise.
    std::int64_t SerialDeviceOf(const PlantModule& module) const;

private:
    struct Listed {
        std::int64_t number = -1;
        std::int32_t subdevices = 0;
        std::string name;
    };
    struct Binding {
        std::int64_t device = -1;       // the device opened; -1 none
        std::int64_t serial_port = -1;  // from the serial configuration; -1 unknown
    };

    Binding Bind(const PlantModule& module) const;
    void Rebind();
    std::vector<const PlantModule*> ModulesOn(std::int64_t device) const;
    std::string DeviceText(std::int64_t device) const;
    const PlantChannel* ChannelOn(const std::vector<const PlantModule*>& modules, const char* keyword,
                                  std::int64_t port, std::int64_t bit = -1) const;
    const PlantChannel* Parameter(const PlantChannel& owner, std::uint32_t index) const;

    std::vector<ChannelValue> PortWrite(const recording::Call& call, std::string& why) const;
    std::vector<ChannelValue> DisplayFrame(const recording::Call& call, std::string& why) const;

    const Plant& plant_;
    std::vector<Listed> devices_;
    std::map<std::int64_t, std::vector<Listed>> subdevices_;  // by the listed device's number
    std::map<std::int64_t, std::int64_t> serial_ports_;       // by position in the device list
    std::vector<Binding> bindings_;                            // by position in the plant's modules
};

// The data field of a display_data frame as the driver writes it for value: held to
// [minimum, maximum], four decimals cut to six characters (or padded with "0"), a
// sign in front when with_sign.
std::string DisplayDataField(double value, double minimum, double maximum, bool with_sign);

}  // namespace tovihost
