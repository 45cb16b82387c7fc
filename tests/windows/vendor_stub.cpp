// Stand-ins for the vendor libraries that only have to be found: every function is
// exported by name and none is ever called. STUB_SERIAL builds the serial library,
// otherwise the device library; STUB_INCOMPLETE leaves out its last function.
#include <cstdint>

#if defined(_WIN32)
#define STUB_EXPORT __declspec(dllexport)
#else
#define STUB_EXPORT __attribute__((visibility("default")))
#endif

#define STUB(name) \
    extern "C" STUB_EXPORT std::int32_t name() { return -1; }

#if defined(STUB_SERIAL)
STUB(COMGetConfig)
STUB(COMOpen)
STUB(COMSetConfig)
STUB(COMWrite)
STUB(COMClose)
#if !defined(STUB_INCOMPLETE)
STUB(COMRead)
#endif
#else
STUB(DRV_DeviceGetNumOfList)
STUB(DRV_DeviceGetList)
STUB(DRV_DeviceGetSubList)
STUB(DRV_DeviceOpen)
STUB(DRV_DeviceClose)
STUB(DRV_DeviceGetFeatures)
STUB(DRV_GetErrorMessage)
STUB(DRV_AIVoltageIn)
STUB(DRV_AOVoltageOut)
STUB(DRV_DioReadPortByte)
STUB(DRV_DioWritePortByte)
STUB(DRV_DioWriteBit)
STUB(DRV_CounterEventRead)
STUB(DRV_CounterEventStart)
STUB(DRV_CounterReset)
STUB(DRV_CounterFreqRead)
STUB(DRV_AlarmConfig)
STUB(DRV_AlarmEnable)
STUB(DRV_AlarmReset)
#if !defined(STUB_INCOMPLETE)
STUB(DRV_AlarmCheck)
#endif
#endif
