#pragma once
// The device interface of the module: the abstract device class, the record
// passed to init and the two exported functions. A host loads the module,
// creates a device with createDev, calls the seven operations in slot order
// (init, configure, start, recvData repeatedly, stop; print at any time after
// init) and hands the device back to deleteDev.
#include <cstddef>
#include <cstdint>

#include "vantrel/CDataStorage.h"
#include "vantrel/ConfigBlock.h"
#include "vantrel/DataRecords.h"
#include "vantrel/LogSettings.h"

class CLogH;

struct InitInfo {
    CDataStorage* trackerStorage;     // required
    CDataStorage* controllerStorage;  // required when a mouse is configured
    std::uint32_t reserved[9];        // not read by this device
    std::int32_t* runFlag;            // recvData reads on while it is nonzero; may be cleared from another thread
};

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(InitInfo) == 48, "InitInfo must be 48 bytes");
static_assert(offsetof(InitInfo, runFlag) == 44, "InitInfo layout");
#endif

// Abstract device. The order of the virtual operations is part of the
// interface: hosts call them by slot. There is deliberately no virtual
// destructor; devices are destroyed by deleteDev.
class CBase {
public:
    virtual std::int32_t init(InitInfo* info) = 0;               // 1 or -1
    virtual bool start() = 0;
    virtual std::int32_t configure() = 0;                        // data kind, 0 on failure
    virtual bool stop() = 0;
    virtual bool print() = 0;                                    // always true
    virtual std::int32_t recvData(UpdateMasks* masks, void* unused) = 0;  // 1 or -1
    virtual std::int32_t sendData(void* unused1, void* unused2) = 0;      // always -1

protected:
    // The device's logger: a byte copy of the host's record, or the defaults
    // named "CBase" when there is none.
    explicit CBase(const LogSettings* logSettings);
    ~CBase();
    CBase(const CBase&) = delete;
    CBase& operator=(const CBase&) = delete;

    std::int32_t reserved;
    std::uint8_t ownsLog;
    CLogH* log;
    std::uint8_t layerFlag;
    std::int32_t dataKind;
};

#if !defined(VANTREL_BUILDING_MODULE)
#define VANTREL_EXPORT
#elif defined(_WIN32)
#define VANTREL_EXPORT __declspec(dllexport)
#else
#define VANTREL_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {
// Creates one device. The ConfigBlock must stay alive and unchanged until init
// has returned; the LogSettings record (or null for defaults) is copied.
VANTREL_EXPORT CBase* createDev(ConfigBlock* config, LogSettings* logSettings);
// Destroys a device made by createDev; false for a null pointer.
VANTREL_EXPORT bool deleteDev(CBase* device);
}

using CreateDevFunction = CBase* (*)(ConfigBlock*, LogSettings*);
using DeleteDevFunction = bool (*)(CBase*);
