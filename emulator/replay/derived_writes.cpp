// Stand-in until the derivation of the host's writes lands: it derives nothing
// and passes nothing over, so a replay writes only what --write gives.
#include "emulator/replay/derived_writes.h"

namespace tovihost {

bool IsOutputCall(const std::string& function) {
    return function == "DRV_AOVoltageOut" || function == "DRV_DioWritePortByte" || function == "DRV_DioWriteBit" ||
           function == "COMWrite" || function == "DRV_CounterEventStart" || function == "DRV_CounterReset" ||
           function == "DRV_AlarmConfig" || function == "DRV_AlarmEnable" || function == "DRV_AlarmReset";
}

DerivedWrites::DerivedWrites(const Plant& plant, const std::vector<recording::Call>& described) : plant_(plant) {
    for (const recording::Call& call : described) Learn(call);
}

void DerivedWrites::Learn(const recording::Call&) {}

std::vector<ChannelValue> DerivedWrites::For(const recording::Call&, std::string& why) const {
    why.clear();
    return {};
}

std::int64_t DerivedWrites::DeviceOf(const PlantModule&) const { return -1; }

}  // namespace tovihost
