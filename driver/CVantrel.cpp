#include "driver/CVantrel.h"

#include <cstring>
#include <exception>
#include <memory>
#include <new>

#include "common/CConfigH.h"
#include "common/CLogH.h"
#include "common/CLogLine.h"
#include "common/CStorageLock.h"
#include "common/DataRecords.h"
#include "common/OptionLine.h"
#include "controller/CConCommonH.h"
#include "driver/CDeviceReport.h"
#include "serial/CRS232H.h"
#include "tracker/CCalibH.h"
#include "tracker/CTraCommonH.h"
#include "tracker/SampleTransform.h"

namespace {

// The device's line: binary 8N1, no flow control, DTR and RTS off; a read
// waits at most 1000 ms, writes never time out.
PortAttributes deviceLineSettings()
{
    PortAttributes attributes{};
    attributes.control.fBinary = 1;
    attributes.control.ByteSize = 8;
    attributes.timeouts.ReadTotalTimeoutConstant = 1000;
    return attributes;
}

// The count that a device's range of entries asks of a storage: a count
// already beyond the list is asked as it stands, so that the storage refuses
// it and the sum can never wrap around.
std::uint32_t rangeEnd(std::uint32_t offset, std::uint32_t count)
{
    return offset > kStorageCapacity ? offset : offset + count;
}

template <typename Object>
void replaceObject(Object*& owned, Object* made)
{
    delete owned;
    owned = made;
}

}  // namespace

CVantrel::CVantrel(ConfigBlock* config, const LogSettings* logSettings)
    : CBase(logSettings), commandSet(*log, options), decoder(options)
{
    log->debug("CVantrel: \"constructor\" called.");
    if (logSettings == nullptr) {
        log->setName("CVantrel");
    }
    configBlock = config;
}

CVantrel::~CVantrel()
{
    delete[] deviceName;
    delete trackerLayer;
    delete controllerLayer;
    delete serialPort;
    delete[] trackerSamples;
    delete[] controllerSamples;
    log->debug("CVantrel: \"destructor\" called.");
}

// ---------------------------------------------------------------------------
// Initialisation

std::int32_t CVantrel::init(InitInfo* info)
{
    // Nothing may be thrown across the module's boundary: a failed
    // allocation fails init like any other cause.
    try {
        return initialise(info);
    } catch (const std::bad_alloc&) {
        log->error("CVantrel: Not enough memory.");
    } catch (const std::exception& failure) {
        CLogLine line(*log);
        line.error("CVantrel: Init failed: ", false) << failure.what();
        line.end();
    } catch (...) {
        log->error("CVantrel: Init failed.");
    }
    return -1;
}

std::int32_t CVantrel::initialise(InitInfo* info)
{
    log->debug("CVantrel: \"init\" called.");
    if (info == nullptr) {
        log->error("CVantrel: Init info is empty.");
        return -1;
    }
    std::memcpy(&initInfo, info, sizeof initInfo);
    runFlag = initInfo.runFlag;
    if (runFlag == nullptr) {
        log->error("CVantrel: run flag pointer is empty.");
        return -1;
    }
    if (configBlock == nullptr) {
        log->error("CVantrel: Configuration is empty.");
        return -1;
    }
    replaceText(deviceName, configBlock->deviceName);
    layerFlag = 1;
    dataKind = 2;

    if (!options.parseDeviceLine(*configBlock, *log)) {
        return -1;
    }
    options.setDefaults();
    if (!options.parseOptions(*configBlock, *log, dataKind)) {
        return -1;
    }
    recordLengths.reset(options);
    if (!setUpTrackerLayer()) {
        return -1;
    }
    if (options.mouseCount > 0 && !setUpControllerLayer()) {
        return -1;
    }
    if (!CConfigH::reportUnknownOptions(configBlock, *log)) {
        return -1;
    }
    print();

    std::unique_ptr<TrackerData[]> newTrackerSamples(new TrackerData[options.busDeviceCount]);
    std::unique_ptr<ControllerData[]> newControllerSamples(new ControllerData[options.busDeviceCount]);
    for (std::uint32_t i = 0; i < options.busDeviceCount; ++i) {
        resetTrackerData(newTrackerSamples[i]);
        resetControllerData(newControllerSamples[i]);
    }
    delete[] trackerSamples;
    delete[] controllerSamples;
    trackerSamples = newTrackerSamples.release();
    controllerSamples = newControllerSamples.release();

    CCalibH* calibration = trackerLayer->getCalibLibrary();
    if (calibration != nullptr &&
        !calibration->callInit(trackerLayer->getCalibArguments(),
                               static_cast<std::int32_t>(trackerLayer->getCalibArgCount()))) {
        return -1;
    }
    return openSerialPort() ? 1 : -1;
}

bool CVantrel::setUpTrackerLayer()
{
    CDataStorage* storage = initInfo.trackerStorage;
    if (storage == nullptr) {
        log->error("CVantrel: tracker data storage pointer is empty.");
        return false;
    }
    replaceObject(trackerLayer, new CTraCommonH(log));
    decoder.setLayers(trackerLayer, controllerLayer);
    commandSet.attach(serialPort, trackerLayer);
    trackerLayer->fixedOrder = layerFlag != 0;
    trackerLayer->maxOutputTrackers = options.unitCount;
    trackerLayer->caveCoordinates = true;
    trackerLayer->setUp(options.busDeviceCount);
    std::uint32_t outputId = 1;
    for (std::uint32_t address = 1; address <= options.busDeviceCount; ++address) {
        if (address != options.ercId) {
            trackerLayer->setTracker(address, outputId++, nullptr, nullptr, nullptr);
        }
    }
    if (!trackerLayer->parseOptions(configBlock)) {
        return false;
    }
    const CStorageLock locked(*storage);
    const std::uint32_t offset = storage->trackerDataCount();
    const bool reserved = storage->setTrackerDataCount(rangeEnd(offset, trackerLayer->maxOutputTrackers));
    if (reserved) {
        trackerLayer->outputOffset = offset;
    }
    return reserved;
}

bool CVantrel::setUpControllerLayer()
{
    CDataStorage* storage = initInfo.controllerStorage;
    if (storage == nullptr) {
        log->error("CVantrel: controller data storage pointer is empty.");
        return false;
    }
    replaceObject(controllerLayer, new CConCommonH(log));
    decoder.setLayers(trackerLayer, controllerLayer);
    controllerLayer->fixedOrder = layerFlag != 0;
    controllerLayer->maxOutputControllers = options.mouseCount;
    controllerLayer->setUp(options.busDeviceCount, true);
    std::uint32_t outputId = 1;
    for (std::uint32_t address = 1; address <= options.busDeviceCount; ++address) {
        if (options.mouseFlags[address - 1] != 0) {
            controllerLayer->setController(address, outputId++, 0, 3);
        }
    }
    if (!controllerLayer->parseOptions(configBlock)) {
        return false;
    }
    const CStorageLock locked(*storage);
    const std::uint32_t offset = storage->controllerDataCount();
    const bool reserved = storage->setControllerDataCount(rangeEnd(offset, controllerLayer->maxOutputControllers));
    if (reserved) {
        controllerLayer->outputOffset = offset;
    }
    return reserved;
}

bool CVantrel::openSerialPort()
{
    replaceObject(serialPort, new CRS232H(log));
    commandSet.attach(serialPort, trackerLayer);
    if (!serialPort->openPort(options.portName)) {
        return false;
    }
    PortAttributes attributes = deviceLineSettings();
    serialPort->setWorkingAttributes(&attributes);
    if (!serialPort->setBaudRate(options.baudRate)) {
        return false;
    }
    // A device must not report success on a line with the wrong settings.
    return serialPort->setAttributes(nullptr);
}

// ---------------------------------------------------------------------------
// Status report

bool CVantrel::print()
{
    CDeviceReport::write(*log, deviceName, options, trackerLayer, controllerLayer);
    return true;
}

// ---------------------------------------------------------------------------
// Run sequence

std::int32_t CVantrel::configure()
{
    log->debug("CVantrel: \"configure\" called.");
    if (serialPort == nullptr || trackerLayer == nullptr) {
        return 0;
    }
    if (options.ercId > 1 && !commandSet.sendNextTransmitter(options.ercId, 0)) {
        return 0;
    }
    if (options.srtId > 1 && !commandSet.sendNextTransmitter(options.srtId, 0)) {
        return 0;
    }
    if (options.syncType != 0 && !commandSet.setSync(options.syncType)) {
        return 0;
    }
    if (!commandSet.startGroupMode() || !commandSet.sendAutoConfig()) {
        return 0;
    }
    // The units' status decides which of them receive the per-unit commands,
    // scaling and measurement rate included, so it is read right after the
    // flock has configured itself.
    const bool statusGood = commandSet.checkSystemStatus();
    // The ERC that the status names is the one the report shows.
    if (commandSet.ercFound() != 0) {
        options.ercId = commandSet.ercFound();
    }
    if (!statusGood) {
        return 0;
    }
    if (options.srtId != 0 && !commandSet.setPositionScaling(options.scalingCode)) {
        return 0;
    }
    if (options.measurementRate != 0 && !commandSet.setMeasurementRate(options.measurementRate)) {
        return 0;
    }
    if (options.filterOn != 0 && !commandSet.setFilter()) {
        return 0;
    }
    if (!commandSet.setHemisphere(options.hemisphereCode)) {
        return 0;
    }
    if (trackerLayer->caveCoordinates && !commandSet.setReferenceFrame()) {
        return 0;
    }
    if (!commandSet.setPositionAngles() || !commandSet.setButtonMode(true) ||
        !commandSet.setReportRate(options.reportRateCode)) {
        return 0;
    }
    return dataKind;
}

bool CVantrel::start()
{
    log->debug("CVantrel: \"start\" called.");
    return commandSet.sendStream();
}

bool CVantrel::stop()
{
    log->debug("CVantrel: \"stop\" called.");
    if (!commandSet.sendPoint()) {
        return false;
    }
    commandSet.pause(500);
    if (!commandSet.sendSleep()) {
        return false;
    }
    commandSet.pause(500);
    serialPort->closePort();
    if (trackerLayer != nullptr && trackerLayer->getCalibLibrary() != nullptr &&
        !trackerLayer->getCalibLibrary()->callExit()) {
        return false;
    }
    return true;
}

std::int32_t CVantrel::sendData(void*, void*)
{
    log->warning("CVantrel: Can not send any data.");
    return -1;
}

// ---------------------------------------------------------------------------
// Data reception

std::int32_t CVantrel::recvData(UpdateMasks* masks, void*)
{
    log->debug("CVantrel: \"recvData\" called.");
    if (runFlag == nullptr || serialPort == nullptr || trackerSamples == nullptr) {
        return -1;
    }
    UpdateMasks ignored{};
    if (masks == nullptr) {
        masks = &ignored;
    }
    if (trackerLayer != nullptr) {
        masks->trackerMask = 0;
    }
    if (controllerLayer != nullptr) {
        masks->controllerMask = 0;
    }

    std::uint32_t address = 0;
    bool haveRecord = false;
    while (__atomic_load_n(runFlag, __ATOMIC_RELAXED) != 0) {
        std::uint8_t byte = 0;
        const std::int32_t got = serialPort->readBytes(&byte, 1);
        if (got == 0) {
            return 1;
        }
        if (got < 0) {
            log->error("CVantrel: Reading a byte failed.");
            return -1;
        }
        if (!assembler.add(byte)) {
            continue;
        }
        const CRecordDecoder::Verdict verdict = decoder.screen(assembler, recordLengths);
        if (verdict == CRecordDecoder::Verdict::Skip) {
            return 1;
        }
        if (verdict == CRecordDecoder::Verdict::Publish) {
            address = assembler.address();
            haveRecord = true;
            break;
        }
    }
    if (!haveRecord || __atomic_load_n(runFlag, __ATOMIC_RELAXED) == 0) {
        if (haveRecord) {
            assembler.next();
        }
        return -1;
    }
    const bool decoded = decoder.decodeRecord(address, assembler.record(), assembler.length());
    assembler.next();
    if (!decoded) {
        return -1;
    }

    bool success = true;
    publishTracker(address, masks, success);
    publishController(address, masks, success);
    if (!success) {
        log->error("CVantrel: Receiving data failed.");
        return -1;
    }
    return 1;
}

namespace {

// Sets the bit of an output ID (1..32) in a mask kept in network byte order.
void markUpdated(std::uint32_t& mask, std::uint32_t id)
{
    if (id == 0 || id > 32) {
        return;
    }
    mask = toNetwork32(fromNetwork32(mask) | (1u << (id - 1)));
}

}  // namespace

// Copies a sample into its storage entry under the storage's mutex; false
// when the storage has no entry with that ID.
template <typename Record>
bool CVantrel::writeEntry(CDataStorage* storage, Record* (CDataStorage::*entry)(std::uint32_t) const,
                          std::uint32_t id, const Record& sample, Record*& lastEntry, const char* found,
                          const char* notFound)
{
    const CStorageLock locked(*storage);
    lastEntry = (storage->*entry)(id);
    if (lastEntry == nullptr) {
        log->error(notFound);
        return false;
    }
    log->debug(found);
    std::memcpy(lastEntry, &sample, sizeof sample);
    return true;
}

void CVantrel::publishTracker(std::uint32_t address, UpdateMasks* masks, bool& success)
{
    const TrackerData& currentTracker = decoder.tracker();
    TrackerData& previous = trackerSamples[address - 1];
    if (trackerLayer == nullptr || sameTrackerSample(currentTracker, previous)) {
        return;
    }
    const std::uint32_t id = decoder.trackerOutputId(address) + trackerLayer->outputOffset;
    if (!writeEntry(initInfo.trackerStorage, &CDataStorage::trackerEntry, id, currentTracker, lastTrackerEntry,
                    "CVantrel: TraData storage found", "CVantrel: TraData storage not found")) {
        success = false;
    }
    markUpdated(masks->trackerMask, id);
    previous = currentTracker;
}

void CVantrel::publishController(std::uint32_t address, UpdateMasks* masks, bool& success)
{
    if (options.mouseFlags[address - 1] == 0 || controllerLayer == nullptr) {
        return;
    }
    const ControllerData& currentController = decoder.controller();
    ControllerData& previous = controllerSamples[address - 1];
    if (sameControllerSample(currentController, previous)) {
        return;
    }
    const std::uint32_t id = decoder.controllerOutputId(address) + controllerLayer->outputOffset;
    if (!writeEntry(initInfo.controllerStorage, &CDataStorage::controllerEntry, id, currentController,
                    lastControllerEntry, "CVantrel: ConData storage found", "CVantrel: ConData storage not found")) {
        success = false;
    }
    markUpdated(masks->controllerMask, id);
    previous = currentController;
}
