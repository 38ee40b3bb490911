#include "driver/CVantrel.h"

#include <cstdlib>
#include <exception>
#include <cstring>
#include <iostream>
#include <memory>
#include <new>

#include "common/CConfigH.h"
#include "common/CDecimalOutput.h"
#include "common/CLogH.h"
#include "common/CSampleClock.h"
#include "common/DataRecords.h"
#include "common/OptionLine.h"
#include "platform/Platform.h"
#include "controller/CConCommonH.h"
#include "serial/CRS232H.h"
#include "tracker/CCalibH.h"
#include "tracker/CTraCommonH.h"
#include "tracker/SampleTransform.h"

namespace {

const char* const kPrefix = "CVantrel: ";

struct WordValue {
    const char* word;
    int value;
};

const WordValue kAddressingModes[] = {{"normal", 14}, {"expanded", 30}, {"super", 126}};
const WordValue kHemispheres[] = {{"+x", 0x0000}, {"x", 0x0000}, {"-x", 0x0001}, {"+y", 0x0600}, {"y", 0x0600},
                                  {"-y", 0x0601}, {"+z", 0x0C00}, {"z", 0x0C00}, {"-z", 0x0C01}};
const WordValue kFilterWords[] = {{"yes", 1}, {"on", 1}, {"no", 0}, {"off", 0}};
const WordValue kReportRates[] = {{"1", 'Q'}, {"2", 'R'}, {"8", 'S'}, {"32", 'T'}};
const WordValue kSyncWords[] = {{"yes", 1}, {"on", 1}, {"type1", 1}, {"type2", 2},
                                {"type3", 3}, {"no", 0}, {"off", 0}};
const WordValue kScalings[] = {{"36", 1}, {"72", 2}};

template <std::size_t N>
bool matchWord(const char* argument, const WordValue (&table)[N], int& value)
{
    for (const WordValue& entry : table) {
        if (keywordEquals(argument, entry.word) == 0) {
            value = entry.value;
            return true;
        }
    }
    return false;
}

const char* hemisphereName(std::uint16_t code)
{
    switch (code) {
    case 0x0000: return "+X";
    case 0x0001: return "-X";
    case 0x0600: return "+Y";
    case 0x0601: return "-Y";
    case 0x0C00: return "+Z";
    case 0x0C01: return "-Z";
    default: return "Unknown";
    }
}

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

// The new text is copied before the old one is freed: a copy that fails
// leaves the old text in place, to be freed once with the device.
void replaceText(char*& text, const char* source)
{
    char* copy = copyOptionText(source);
    delete[] text;
    text = copy;
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

CVantrel::CVantrel(ConfigBlock* config, const LogSettings* logSettings) : CBase(logSettings)
{
    resetTrackerData(currentTracker);
    resetControllerData(currentController);
    log->debug("CVantrel: \"constructor\" called.");
    if (logSettings == nullptr) {
        log->setName("CVantrel");
    }
    configBlock = config;
    recordFill = 0;
    measurementRate = 0;
    std::memset(mouseFlags, 0, sizeof mouseFlags);
}

CVantrel::~CVantrel()
{
    delete[] deviceName;
    delete[] portName;
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
        log->error("CVantrel: Init failed: ", false);
        if (log->enabled != 0) {
            std::cout << failure.what() << std::endl;
        }
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

    if (!parseDeviceLine()) {
        return -1;
    }
    mouseCount = 0;
    replaceText(portName, "com1");
    baudRate = 38400;
    hemisphereCode = 0x0C00;
    filterOn = 0;
    maxAddress = 14;
    reportRateCode = 'Q';
    syncType = 0;
    scalingCode = 1;
    ercId = 1;
    srtId = 0;
    busDeviceCount = unitCount + 1;
    if (!parseDeviceOptions()) {
        return -1;
    }
    if (!setUpTrackerLayer()) {
        return -1;
    }
    if (mouseCount > 0 && !setUpControllerLayer()) {
        return -1;
    }
    if (!CConfigH::reportUnknownOptions(configBlock, *log)) {
        return -1;
    }
    print();

    std::unique_ptr<TrackerData[]> newTrackerSamples(new TrackerData[busDeviceCount]);
    std::unique_ptr<ControllerData[]> newControllerSamples(new ControllerData[busDeviceCount]);
    for (std::uint32_t i = 0; i < busDeviceCount; ++i) {
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

bool CVantrel::parseDeviceLine()
{
    if (deviceArgCount(*configBlock) == 0 || configBlock->args[0] == nullptr) {
        unitCount = 2;
        return true;
    }
    const auto units = static_cast<std::uint32_t>(parseInteger(configBlock->args[0]));
    if (units < 1 || units > 32) {
        reportOptionProblem(*log, kPrefix, "Invalid arg found for ", "Vantrel at line ", configBlock->lineNumber);
        return false;
    }
    unitCount = units;
    return true;
}

bool CVantrel::parseDeviceOptions()
{
    bool allGood = true;
    const std::uint32_t lineCount = optionLineCount(*configBlock);
    for (std::uint32_t i = 0; i < lineCount; ++i) {
        OptionLine& line = configBlock->lines[i];
        const char* keyword = line.keyword;
        const std::uint32_t argCount = optionArgCount(line);
        const char* argument = optionArg(line, 0);
        const char* displayName = nullptr;
        const char* problem = nullptr;

        auto oneArgument = [&](const char* name) {
            displayName = name;
            if (argCount == 0) {
                problem = "Incomplete option line found for ";
            } else if (argCount > 1) {
                problem = "Too many args found for ";
            }
            return problem == nullptr;
        };
        auto numberIn = [&](std::uint32_t low, std::uint32_t high, std::uint32_t& number) {
            number = static_cast<std::uint32_t>(parseInteger(argument));
            if (number < low || number > high) {
                problem = "Invalid ID found for ";
                return false;
            }
            return true;
        };
        int value = 0;
        std::uint32_t number = 0;

        if (keywordEquals(keyword, "port") == 0 || keywordEquals(keyword, "serialport") == 0) {
            if (oneArgument("SerialPort at line ")) {
                replaceText(portName, argument);
            }
        } else if (keywordEquals(keyword, "baud") == 0 || keywordEquals(keyword, "baudrate") == 0) {
            if (oneArgument("Baud at line ")) {
                baudRate = parseInteger(argument);
            }
        } else if (keywordEquals(keyword, "addressingmode") == 0) {
            if (oneArgument("AddressingMode at line ")) {
                if (matchWord(argument, kAddressingModes, value)) {
                    maxAddress = value;
                } else {
                    problem = "Invalid string found for ";
                }
            }
        } else if (keywordEquals(keyword, "erc") == 0) {
            if (oneArgument("ERC at line ") && numberIn(1, unitCount + 1, number)) {
                ercId = number;
                if (srtId != 0) {
                    srtId = 0;
                    busDeviceCount = unitCount + 1;
                }
            }
        } else if (keywordEquals(keyword, "srt") == 0) {
            if (oneArgument("SRT at line ") && numberIn(1, unitCount, number)) {
                srtId = number;
                if (ercId != 0) {
                    ercId = 0;
                    busDeviceCount = unitCount;
                }
            }
        } else if (keywordEquals(keyword, "hemisphere") == 0) {
            if (oneArgument("Hemisphere at line ")) {
                if (matchWord(argument, kHemispheres, value)) {
                    hemisphereCode = static_cast<std::uint16_t>(value);
                } else {
                    problem = "Invalid string found for ";
                }
            }
        } else if (keywordEquals(keyword, "filter") == 0) {
            if (oneArgument("Filter at line ")) {
                if (matchWord(argument, kFilterWords, value)) {
                    filterOn = static_cast<std::uint8_t>(value);
                } else {
                    problem = "Invalid string found for ";
                }
            }
        } else if (keywordEquals(keyword, "reportrate") == 0) {
            if (oneArgument("ReportRate at line ")) {
                if (matchWord(argument, kReportRates, value)) {
                    reportRateCode = static_cast<char>(value);
                } else {
                    problem = "Invalid string found for ";
                }
            }
        } else if (keywordEquals(keyword, "sync") == 0) {
            if (oneArgument("Sync at line ")) {
                if (matchWord(argument, kSyncWords, value)) {
                    syncType = value;
                } else {
                    problem = "Found Invalid string for ";
                }
            }
        } else if (keywordEquals(keyword, "scaling") == 0) {
            if (oneArgument("Scaling at line ")) {
                if (matchWord(argument, kScalings, value)) {
                    scalingCode = value;
                } else {
                    problem = "Invalid string found for ";
                }
            }
        } else if (keywordEquals(keyword, "measurementrate") == 0) {
            if (oneArgument("MeasurementRate at line ") && numberIn(20, 144, number)) {
                measurementRate = static_cast<std::uint8_t>(number);
            }
        } else if (keywordEquals(keyword, "mouse") == 0) {
            // A line without numbers is taken and changes nothing.
            for (std::uint32_t a = 0; a < argCount; ++a) {
                const auto id = static_cast<std::uint32_t>(parseInteger(optionArg(line, a)));
                if (id < 1 || id > kMaxBusAddress) {
                    reportOptionProblem(*log, kPrefix, "Invalid sensor ID found for ", "Mouse at line ",
                                        line.lineNumber);
                    allGood = false;
                    continue;
                }
                // An address named twice is one mouse.
                if (mouseFlags[id - 1] == 0) {
                    mouseFlags[id - 1] = 1;
                    mouseLines[id - 1] = line.lineNumber;
                    ++mouseCount;
                }
                dataKind = 1;
            }
            line.consumed = 1;
            continue;
        } else {
            continue;  // left for the tracker and controller layers
        }

        if (problem != nullptr) {
            reportOptionProblem(*log, kPrefix, problem, displayName, line.lineNumber);
            allGood = false;
        } else {
            line.consumed = 1;
        }
    }

    // A mouse must sit on a unit that the flock counts and that reports
    // samples: not beyond the bus, not on the ERC.
    for (std::uint32_t address = 1; address <= kMaxBusAddress; ++address) {
        if (mouseFlags[address - 1] != 0 && (address > busDeviceCount || address == ercId)) {
            reportOptionProblem(*log, kPrefix, "Invalid sensor ID found for ", "Mouse at line ",
                                mouseLines[address - 1]);
            allGood = false;
        }
    }
    return allGood;
}

bool CVantrel::setUpTrackerLayer()
{
    CDataStorage* storage = initInfo.trackerStorage;
    if (storage == nullptr) {
        log->error("CVantrel: tracker data storage pointer is empty.");
        return false;
    }
    replaceObject(trackerLayer, new CTraCommonH(log));
    trackerLayer->fixedOrder = layerFlag != 0;
    trackerLayer->maxOutputTrackers = unitCount;
    trackerLayer->caveCoordinates = true;
    trackerLayer->setUp(busDeviceCount);
    std::uint32_t outputId = 1;
    for (std::uint32_t address = 1; address <= busDeviceCount; ++address) {
        if (address != ercId) {
            trackerLayer->setTracker(address, outputId++, nullptr, nullptr, nullptr);
        }
    }
    if (!trackerLayer->parseOptions(configBlock)) {
        return false;
    }
    storage->lock();
    const std::uint32_t offset = storage->trackerDataCount();
    const bool reserved = storage->setTrackerDataCount(rangeEnd(offset, trackerLayer->maxOutputTrackers));
    if (reserved) {
        trackerLayer->outputOffset = offset;
    }
    storage->unlock();
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
    controllerLayer->fixedOrder = layerFlag != 0;
    controllerLayer->maxOutputControllers = mouseCount;
    controllerLayer->setUp(busDeviceCount, true);
    std::uint32_t outputId = 1;
    for (std::uint32_t address = 1; address <= busDeviceCount; ++address) {
        if (mouseFlags[address - 1] != 0) {
            controllerLayer->setController(address, outputId++, 0, 3);
        }
    }
    if (!controllerLayer->parseOptions(configBlock)) {
        return false;
    }
    storage->lock();
    const std::uint32_t offset = storage->controllerDataCount();
    const bool reserved = storage->setControllerDataCount(rangeEnd(offset, controllerLayer->maxOutputControllers));
    if (reserved) {
        controllerLayer->outputOffset = offset;
    }
    storage->unlock();
    return reserved;
}

bool CVantrel::openSerialPort()
{
    replaceObject(serialPort, new CRS232H(log));
    if (!serialPort->openPort(portName)) {
        return false;
    }
    PortAttributes attributes = deviceLineSettings();
    serialPort->setWorkingAttributes(&attributes);
    if (!serialPort->setBaudRate(baudRate)) {
        return false;
    }
    // A device must not report success on a line with the wrong settings.
    return serialPort->setAttributes(nullptr);
}

// ---------------------------------------------------------------------------
// Status report

bool CVantrel::print()
{
    const CDecimalOutput decimal;
    // A label and its value make one line: with the logger off, neither.
    const bool on = log->enabled != 0;
    auto line = [this](const char* label) { log->info(label, false); };
    auto show = [&](const char* label, auto value) {
        line(label);
        if (on) {
            std::cout << value << std::endl;
        }
    };

    show("DEVICE NAME           : ", deviceName != nullptr ? deviceName : "");
    log->info("DEVICE TYPE           : Vantrel(tm)");
    show("VERSION               : ", "5.5");
    log->info("DATA TYPE             : Tracker");
    show("SERIAL PORT           : ", portName != nullptr ? portName : "");
    show("BAUD RATE             : ", baudRate);
    show("ADDRESSING MODE       : ", maxAddress == 14    ? "Normal"
                                     : maxAddress == 30  ? "Expanded"
                                     : maxAddress == 126 ? "Super"
                                                         : "Unknown");
    show("HEMISPEHRE            : ", hemisphereName(hemisphereCode));
    if (srtId != 0) {
        show("POSITION SCALING      : ",
             scalingCode == 1 ? "Max 36 inches" : scalingCode == 2 ? "Max 72 inches" : "Unknown");
    }
    if (measurementRate != 0) {
        show("MEASUREMENT RATE      : ", static_cast<unsigned>(measurementRate));
    }
    show("SYNC TYPE             : ", syncType == 0   ? "Off"
                                     : syncType == 1 ? "Type1"
                                     : syncType == 2 ? "Type2"
                                     : syncType == 3 ? "Type3"
                                                     : "Unknown");
    show("FILTER                : ", filterOn != 0 ? "Used" : "Unused");
    show("REPORT RATE           : ", reportRateCode == 'Q'   ? "Every single sampling"
                                     : reportRateCode == 'R' ? "Every other sampling"
                                     : reportRateCode == 'S' ? "Every 8 samplings"
                                     : reportRateCode == 'T' ? "Every 32 samplings"
                                                             : "Unknown");
    line("TRANSMITTER           : ");
    if (on) {
        if (ercId != 0) {
            std::cout << "ERC on device ID:" << ercId << std::endl;
        }
        if (srtId != 0) {
            std::cout << "SRT on device ID:" << srtId << std::endl;
        }
        if (ercId == 0 && srtId == 0) {
            std::cout << std::endl;
        }
    }
    if (busDeviceCount != 0) {
        show("NUMBER OF DEVICES     : ", busDeviceCount);
    }
    if (unitCount != 0) {
        show("NUMBER OF TRACKERS    : ", unitCount);
    }
    if (mouseCount != 0) {
        show("NUMBER OF MICE        : ", mouseCount);
        line("MOUSE DEVICE IDs      :");
        if (on) {
            for (std::uint32_t address = 1; address <= kMaxBusAddress; ++address) {
                if (mouseFlags[address - 1] != 0) {
                    std::cout << ' ' << address;
                }
            }
            std::cout << std::endl;
        }
    }
    if (trackerLayer != nullptr) {
        trackerLayer->printReport(true);
    }
    if (controllerLayer != nullptr) {
        controllerLayer->printReport();
    }
    log->info("-----------------------");
    std::cout.flush();
    return true;
}

// ---------------------------------------------------------------------------
// Command set

void CVantrel::pause(std::uint32_t milliseconds) const
{
    platform::sleepMs(milliseconds / pauseDivisor);
}

bool CVantrel::writeCommand(const std::uint8_t* bytes, std::uint32_t count)
{
    if (serialPort == nullptr) {
        return false;
    }
    return serialPort->writeBytes(bytes, count) == static_cast<std::int32_t>(count);
}

// Before a query whose reply is read: whatever waits on the line (a byte left
// over, the records of a flock that streamed until the group-mode change
// stopped it) would be taken for the reply.
bool CVantrel::discardInput()
{
    return serialPort != nullptr && serialPort->discardInput();
}

bool CVantrel::readByte(std::uint8_t& byte)
{
    if (serialPort == nullptr) {
        return false;
    }
    return serialPort->readBytes(&byte, 1) == 1;
}

bool CVantrel::sendSingleCommand(const std::uint8_t* bytes, std::uint32_t count, const char* begin, const char* done,
                                 const char* failed)
{
    log->debug(begin);
    if (!writeCommand(bytes, count)) {
        log->error(failed);
        return false;
    }
    log->debug(done);
    return true;
}

bool CVantrel::sendAutoConfig()
{
    log->debug("CVantrel: Sending Auto-Config command..");
    const std::uint8_t command[] = {0x50, 0x32, static_cast<std::uint8_t>(busDeviceCount & 0xFF)};
    pause(600);
    if (!writeCommand(command, sizeof command)) {
        log->error("CVantrel: Sending Auto-Config command failed.");
        return false;
    }
    pause(600);
    log->debug("CVantrel: Auto-Config done.");
    return true;
}

std::uint32_t CVantrel::trackerOutputId(std::uint32_t address) const
{
    const TrackerMap* map = trackerLayer != nullptr ? trackerLayer->getTrackerMap(address) : nullptr;
    return map != nullptr ? map->outputId : 0;
}

std::uint32_t CVantrel::controllerOutputId(std::uint32_t address) const
{
    const ControllerMap* map = controllerLayer != nullptr ? controllerLayer->controllerMap(address) : nullptr;
    return map != nullptr ? map->outputId : 0;
}

bool CVantrel::checkSystemStatus()
{
    log->debug("CVantrel: Checking system status.");
    const std::uint8_t command[] = {0x4F, 0x24};
    if (!discardInput() || !writeCommand(command, sizeof command)) {
        log->error("CVantrel: Checking system status failed.");
        return false;
    }
    log->debug("CVantrel: Receiving system status.");
    const auto count = static_cast<std::uint32_t>(maxAddress) <= kMaxBusAddress ? static_cast<std::uint32_t>(maxAddress)
                                                                                : kMaxBusAddress;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (!readByte(unitStatus[i])) {
            log->error("CVantrel: Receiving system status failed.");
            return false;
        }
    }
    log->debug("CVantrel: Receiving system status done.");
    if (!log->isDebugOn()) {
        return true;
    }
    // A unit's line is written whole or, with the logger off, not at all;
    // what the status says counts either way.
    const bool writeLines = log->enabled != 0;
    bool allRunning = true;
    for (std::uint32_t address = 1; address <= count; ++address) {
        const std::uint8_t status = unitStatus[address - 1];
        if ((status & 0x80) == 0) {
            continue;
        }
        const bool running = (status & 0x40) != 0;
        allRunning = allRunning && running;
        if ((status & 0x11) == 0x11) {
            ercId = address;
        }
        if (!writeLines) {
            continue;
        }
        log->debug("CVantrel: Flock device ", false);
        const CDecimalOutput decimal;
        std::cout << address << " (unitID " << trackerOutputId(address) << "):";
        std::cout << (running ? " running" : " not-running");
        if ((status & 0x20) != 0) {
            std::cout << ", Receiver";
        }
        if ((status & 0x11) == 0x11) {
            std::cout << ", ERC-0";
        }
        if ((status & 0x08) != 0) {
            std::cout << ", ERC-3";
        }
        if ((status & 0x04) != 0) {
            std::cout << ", ERC-2";
        }
        if ((status & 0x02) != 0) {
            std::cout << ", ERC-1";
        }
        if ((status & 0x11) == 0x01) {
            std::cout << ", SRT";
        }
        std::cout << std::endl;
    }
    if (!allRunning) {
        log->error("CVantrel: At least one device is not running.");
    }
    log->debug("CVantrel: Checking system status done.");
    return allRunning;
}

bool CVantrel::sendNextTransmitter(std::uint32_t address, std::uint32_t transmitter)
{
    if (address == 1) {
        return true;
    }
    if (address == 0 || address > busDeviceCount) {
        return false;
    }
    // The command carries the address in four bits: a larger one would
    // select another unit.
    if (address > 15 || transmitter > 3) {
        log->error("CVantrel: Sending Next-Transmitter command failed.");
        return false;
    }
    log->debug("CVantrel: Sending Next-Transmitter command.");
    const std::uint8_t command[] = {0x30, static_cast<std::uint8_t>((address << 4) | transmitter)};
    if (!writeCommand(command, sizeof command)) {
        log->error("CVantrel: Sending Next-Transmitter command failed.");
        return false;
    }
    pause(10);
    log->debug("CVantrel: Sending Next-Transmitter command done.");
    return true;
}

bool CVantrel::sendRs232ToFbb(std::uint32_t address)
{
    std::uint8_t prefix[2] = {0, 0};
    std::uint32_t length = 1;
    if (maxAddress == 126) {
        prefix[0] = 0xA0;
        prefix[1] = static_cast<std::uint8_t>(address);
        length = 2;
    } else if (maxAddress == 30 && address >= 16) {
        prefix[0] = static_cast<std::uint8_t>(0xE0 + (address - 16));
    } else {
        prefix[0] = static_cast<std::uint8_t>(0xF0 + address);
    }
    const bool addressFits = address >= 1 && address <= static_cast<std::uint32_t>(maxAddress);
    log->debug("CVantrel: Sending RS232toFBB command.");
    if (!addressFits || !writeCommand(prefix, length)) {
        log->error("CVantrel: Sending RS232toFBB command failed.");
        return false;
    }
    log->debug("CVantrel: Sending RS232toFBB command done.");
    return true;
}

bool CVantrel::qualifiesForUnitCommand(std::uint32_t address, bool needAddressInUse, bool needMouse) const
{
    const std::uint8_t status = unitStatus[address - 1];
    if ((status & 0x20) == 0) {
        return false;
    }
    if (needAddressInUse && (status & 0x80) == 0) {
        return false;
    }
    return !needMouse || mouseFlags[address - 1] != 0;
}

bool CVantrel::sendToUnits(const UnitCommand& command)
{
    log->debug(command.begin);
    if (command.pauseBefore != 0) {
        pause(command.pauseBefore);
    }
    const auto lastAddress = static_cast<std::uint32_t>(maxAddress) <= kMaxBusAddress
                                 ? static_cast<std::uint32_t>(maxAddress)
                                 : kMaxBusAddress;
    for (std::uint32_t address = 1; address <= lastAddress; ++address) {
        if (!qualifiesForUnitCommand(address, command.needAddressInUse, command.needMouse)) {
            continue;
        }
        sendRs232ToFbb(address);
        if (log->enabled != 0 && log->isDebugOn()) {
            log->debug(command.unitLine, false);
            const CDecimalOutput decimal;
            std::cout << address << "." << std::endl;
        }
        if (!writeCommand(command.bytes, command.count)) {
            log->error(command.failed);
            return false;
        }
        log->debug(command.unitDone);
        if (command.pauseAfterUnit != 0) {
            pause(command.pauseAfterUnit);
        }
    }
    log->debug(command.done);
    return true;
}

bool CVantrel::setPositionScaling(std::int32_t scaling)
{
    const std::uint8_t bytes[] = {0x50, 0x03, static_cast<std::uint8_t>(scaling == 2 ? 0x01 : 0x00), 0x00};
    return sendToUnits({bytes, sizeof bytes, "CVantrel: Setting Position Scaling.",
                        "CVantrel: Sending Position Scaling to device ", "CVantrel: Sending Position Scaling done.",
                        "CVantrel: Setting Position Scaling done.", "CVantrel: Sending Position Scaling failed.", 600,
                        600, false, false});
}

bool CVantrel::setMeasurementRate(std::uint8_t rate)
{
    const std::uint8_t bytes[] = {0x50, 0x07, 0x00, rate};
    return sendToUnits({bytes, sizeof bytes, "CVantrel: Setting Measurement Rate.",
                        "CVantrel: Sending Measurement Rate to device ", "CVantrel: Sending Measurement Rate done.",
                        "CVantrel: Setting Measurement Rate done.", "CVantrel: Sending Measurement Rate failed.", 600,
                        600, false, false});
}

bool CVantrel::setHemisphere(std::uint16_t hemisphere)
{
    const std::uint8_t bytes[] = {0x4C, static_cast<std::uint8_t>(hemisphere >> 8),
                                  static_cast<std::uint8_t>(hemisphere & 0xFF)};
    return sendToUnits({bytes, sizeof bytes, "CVantrel: Setting Hemisphere mode.",
                        "CVantrel: Sending Hemisphere command to device ", "CVantrel: Sending Hemisphere command done.",
                        "CVantrel: Setting Hemisphere mode done.", "CVantrel: Sending Hemisphere command failed.", 0, 0,
                        false, false});
}

bool CVantrel::setReferenceFrame()
{
    const std::uint8_t bytes[] = {0x72, 0x00, 0xC0, 0x00, 0x40, 0x00, 0x00};
    return sendToUnits({bytes, sizeof bytes, "CVantrel: Setting reference frame.",
                        "CVantrel: Sending reference frame command to device ",
                        "CVantrel: Sending reference frame command done.", "CVantrel: Setting reference frame done.",
                        "CVantrel: Sending reference frame command failed.", 0, 0, false, false});
}

bool CVantrel::setPositionAngles()
{
    const std::uint8_t bytes[] = {0x59};
    return sendToUnits({bytes, sizeof bytes, "CVantrel: Setting position/angles mode.",
                        "CVantrel: Sending position/angles command to Flock device ",
                        "CVantrel: Sending position/angles command done.", "CVantrel: Setting position/angles mode done.",
                        "CVantrel: Sending position/angles command failed.", 0, 0, true, false});
}

bool CVantrel::setButtonMode(bool on)
{
    const std::uint8_t bytes[] = {0x4D, static_cast<std::uint8_t>(on ? 0x01 : 0x00)};
    return sendToUnits({bytes, sizeof bytes, "CVantrel: Setting Button mode.", "CVantrel: Sending Button mode to device ",
                        "CVantrel: Sending Button mode done.", "CVantrel: Setting Button mode done.",
                        "CVantrel: Sending Button mode failed.", 0, 600, false, true});
}

bool CVantrel::setReportRate(char reportRate)
{
    const std::uint8_t bytes[] = {static_cast<std::uint8_t>(reportRate)};
    return sendSingleCommand(bytes, sizeof bytes, "CVantrel: Setting report rate.", "CVantrel: Setting report rate done.",
                             "CVantrel: Setting report rate failed.");
}

bool CVantrel::setFilter()
{
    const std::uint8_t bytes[] = {0x50, 0x04, 0x00, 0x00};
    return sendSingleCommand(bytes, sizeof bytes, "CVantrel: Setting filter.", "CVantrel: Setting filter done.",
                             "CVantrel: Setting filter failed.");
}

bool CVantrel::setSync(std::int32_t sync)
{
    if (sync < 0 || sync > 3) {
        return false;
    }
    const std::uint8_t bytes[] = {0x41, static_cast<std::uint8_t>(sync)};
    return sendSingleCommand(bytes, sizeof bytes, "CVantrel: Setting Sync.", "CVantrel: Setting Sync done.",
                             "CVantrel: Setting Sync failed.");
}

std::uint8_t CVantrel::checkGroupMode()
{
    log->debug("CVantrel: Checking group mode.");
    const std::uint8_t bytes[] = {0x4F, 0x23};
    if (!discardInput() || !writeCommand(bytes, sizeof bytes)) {
        log->error("CVantrel: Checking group mode failed.");
        return 0;
    }
    log->debug("CVantrel: Receiving group mode info.");
    std::uint8_t reply = 0;
    if (!readByte(reply)) {
        log->error("CVantrel: Receiving group mode info failed.");
        return 0;
    }
    log->debug("CVantrel: Checking group mode done.");
    return reply;
}

bool CVantrel::startGroupMode()
{
    log->debug("CVantrel: Starting group mode.");
    const std::uint8_t bytes[] = {0x50, 0x23, 0x01};
    if (!writeCommand(bytes, sizeof bytes)) {
        log->error("CVantrel: Starting group mode failed.");
        return false;
    }
    if (checkGroupMode() != 1) {
        log->error("CVantrel: Could not start group mode.");
        return false;
    }
    log->debug("CVantrel: Starting group mode done.");
    return true;
}

bool CVantrel::sendStream()
{
    const std::uint8_t bytes[] = {0x40};
    return sendSingleCommand(bytes, sizeof bytes, "CVantrel: Sending stream command.",
                             "CVantrel: Sending stream command done.", "CVantrel: Sending stream command failed.");
}

bool CVantrel::sendPoint()
{
    log->debug("CVantrel: Sending point command.");
    if (serialPort == nullptr || !serialPort->flushPort()) {
        log->error("CVantrel: Flushing IO failed.");
        return false;
    }
    const std::uint8_t bytes[] = {0x42};
    if (!writeCommand(bytes, sizeof bytes)) {
        log->error("CVantrel: Sending point command failed.");
        return false;
    }
    log->debug("CVantrel: Sending point command done.");
    return true;
}

bool CVantrel::sendSleep()
{
    log->debug("CVantrel: Putting system in sleep.");
    if (serialPort == nullptr || !serialPort->flushPort()) {
        log->error("CVantrel: Flushing IO failed.");
        return false;
    }
    const std::uint8_t bytes[] = {0x47};
    if (!writeCommand(bytes, sizeof bytes)) {
        log->error("CVantrel: Putting system in sleep failed.");
        return false;
    }
    log->debug("CVantrel: Putting system in sleep done.");
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
    if (ercId > 1 && !sendNextTransmitter(ercId, 0)) {
        return 0;
    }
    if (srtId > 1 && !sendNextTransmitter(srtId, 0)) {
        return 0;
    }
    if (syncType != 0 && !setSync(syncType)) {
        return 0;
    }
    if (!startGroupMode() || !sendAutoConfig()) {
        return 0;
    }
    // The units' status decides which of them receive the per-unit commands,
    // scaling and measurement rate included, so it is read right after the
    // flock has configured itself.
    if (!checkSystemStatus()) {
        return 0;
    }
    if (srtId != 0 && !setPositionScaling(scalingCode)) {
        return 0;
    }
    if (measurementRate != 0 && !setMeasurementRate(measurementRate)) {
        return 0;
    }
    if (filterOn != 0 && !setFilter()) {
        return 0;
    }
    if (!setHemisphere(hemisphereCode)) {
        return 0;
    }
    if (trackerLayer->caveCoordinates && !setReferenceFrame()) {
        return 0;
    }
    if (!setPositionAngles() || !setButtonMode(true) || !setReportRate(reportRateCode)) {
        return 0;
    }
    return dataKind;
}

bool CVantrel::start()
{
    log->debug("CVantrel: \"start\" called.");
    return sendStream();
}

bool CVantrel::stop()
{
    log->debug("CVantrel: \"stop\" called.");
    if (!sendPoint()) {
        return false;
    }
    pause(500);
    if (!sendSleep()) {
        return false;
    }
    pause(500);
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

bool CVantrel::recordIsValid(std::uint32_t address) const
{
    if (address > busDeviceCount) {
        return false;
    }
    const std::uint32_t trackerId = trackerOutputId(address);
    if (trackerId == 0 || trackerId > 32) {
        return false;
    }
    if (mouseFlags[address - 1] != 0) {
        const std::uint32_t controllerId = controllerOutputId(address);
        if (controllerId == 0 || controllerId > 32) {
            return false;
        }
    }
    return true;
}

void CVantrel::setRecord(const std::uint8_t* bytes, std::uint32_t count)
{
    recordFill = count < sizeof recordBuffer ? count : static_cast<std::uint32_t>(sizeof recordBuffer);
    std::memcpy(recordBuffer, bytes, recordFill);
    recordBuffer[0] &= 0x7F;
}

void CVantrel::startRecord(std::uint8_t phasingByte)
{
    recordBuffer[0] = static_cast<std::uint8_t>(phasingByte & 0x7F);
    recordFill = 1;
}

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
    std::uint8_t closingByte = 0;
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
        if ((byte & 0x80) == 0) {
            // Bytes before the first phasing byte belong to no record, and a
            // full buffer takes nothing more: that record is dropped at the
            // next phasing byte.
            if (recordFill != 0 && recordFill < sizeof recordBuffer) {
                recordBuffer[recordFill++] = byte;
            }
            continue;
        }
        if (recordFill != 13 && recordFill != 14) {
            startRecord(byte);
            continue;
        }
        address = recordBuffer[recordFill - 1];
        closingByte = byte;
        if (address == 0) {
            startRecord(byte);
            continue;
        }
        if (!recordIsValid(address)) {
            startRecord(byte);
            return 1;
        }
        haveRecord = true;
        break;
    }
    if (!haveRecord || __atomic_load_n(runFlag, __ATOMIC_RELAXED) == 0) {
        if (haveRecord) {
            startRecord(closingByte);
        }
        return -1;
    }
    const bool decoded = decodeRecord(address);
    startRecord(closingByte);
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

std::int32_t toFixedPoint(float value)
{
    const double scaled = static_cast<double>(value) * 100000.0;
    if (scaled != scaled) {
        return 0;  // not a number: a calibration library's or a placement's fault
    }
    if (scaled >= 2147483647.0) {
        return INT32_MAX;
    }
    if (scaled <= -2147483648.0) {
        return INT32_MIN;
    }
    return static_cast<std::int32_t>(scaled);
}

}  // namespace

// Copies a sample into its storage entry under the storage's mutex; false
// when the storage has no entry with that ID.
template <typename Record>
bool CVantrel::writeEntry(CDataStorage* storage, Record* (CDataStorage::*entry)(std::uint32_t) const,
                          std::uint32_t id, const Record& sample, Record*& lastEntry, const char* found,
                          const char* notFound)
{
    storage->lock();
    lastEntry = (storage->*entry)(id);
    bool written = false;
    if (lastEntry != nullptr) {
        log->debug(found);
        std::memcpy(lastEntry, &sample, sizeof sample);
        written = true;
    } else {
        log->error(notFound);
    }
    storage->unlock();
    return written;
}

void CVantrel::publishTracker(std::uint32_t address, UpdateMasks* masks, bool& success)
{
    TrackerData& previous = trackerSamples[address - 1];
    if (trackerLayer == nullptr || sameTrackerSample(currentTracker, previous)) {
        return;
    }
    const std::uint32_t id = trackerOutputId(address) + trackerLayer->outputOffset;
    if (!writeEntry(initInfo.trackerStorage, &CDataStorage::trackerEntry, id, currentTracker, lastTrackerEntry,
                    "CVantrel: TraData storage found", "CVantrel: TraData storage not found")) {
        success = false;
    }
    markUpdated(masks->trackerMask, id);
    previous = currentTracker;
}

void CVantrel::publishController(std::uint32_t address, UpdateMasks* masks, bool& success)
{
    if (mouseFlags[address - 1] == 0 || controllerLayer == nullptr) {
        return;
    }
    ControllerData& previous = controllerSamples[address - 1];
    if (sameControllerSample(currentController, previous)) {
        return;
    }
    const std::uint32_t id = controllerOutputId(address) + controllerLayer->outputOffset;
    if (!writeEntry(initInfo.controllerStorage, &CDataStorage::controllerEntry, id, currentController,
                    lastControllerEntry, "CVantrel: ConData storage found", "CVantrel: ConData storage not found")) {
        success = false;
    }
    markUpdated(masks->controllerMask, id);
    previous = currentController;
}

bool CVantrel::decodeRecord(std::uint32_t address)
{
    const TrackerMap* map = trackerLayer != nullptr ? trackerLayer->getTrackerMap(address) : nullptr;
    if (map == nullptr || address > busDeviceCount) {
        return false;
    }
    TrackerPose pose{};
    float* values = &pose.x;
    for (std::uint32_t i = 0; i < 6; ++i) {
        values[i] = wordToFraction(recordBuffer[2 * i + 1], recordBuffer[2 * i]);
    }
    pose.x *= 12.0f;
    pose.y *= 12.0f;
    pose.z *= 12.0f;
    pose.azimuth *= 180.0f;
    pose.elevation *= 180.0f;
    pose.roll *= 180.0f;
    if (trackerLayer->caveCoordinates) {
        pose.azimuth = -pose.azimuth;
        pose.roll = -pose.roll;
    }
    if (srtId != 0) {
        const float scale = scalingCode == 2 ? 0.5f : 0.25f;
        pose.x *= scale;
        pose.y *= scale;
        pose.z *= scale;
    }

    TimeRecord time{};
    sampleClock.now(time);
    currentTracker.timeRecord = time;
    currentTracker.sampleSeconds = toNetwork32(time.seconds);
    currentTracker.sampleMicroseconds = toNetwork32(std::uint32_t{time.milliseconds} * 1000u);
    const std::uint32_t trackerId = trackerOutputId(address) + trackerLayer->outputOffset;
    if (trackerId >= 1 && trackerId <= 32) {
        currentTracker.storageIndex = toNetwork32(trackerId);
    }

    CCalibH* calibration = trackerLayer->getCalibLibrary();
    if (calibration != nullptr && !calibration->callEvaluate(&pose)) {
        return false;
    }
    trackerLayer->transformPose(*map, pose);
    for (std::uint32_t i = 0; i < 6; ++i) {
        currentTracker.pose[i] = static_cast<std::int32_t>(toNetwork32(static_cast<std::uint32_t>(toFixedPoint(values[i]))));
    }

    if (mouseFlags[address - 1] != 0 && controllerLayer != nullptr) {
        currentController.timeRecord = time;
        currentController.sampleSeconds = currentTracker.sampleSeconds;
        currentController.sampleMicroseconds = currentTracker.sampleMicroseconds;
        const std::uint8_t buttonByte = recordFill == 14 ? recordBuffer[12] : 0;
        // The record is shared by every mouse: no bit of another unit's
        // buttons may stay in it.
        std::memset(currentController.buttonBits, 0, sizeof currentController.buttonBits);
        controllerLayer->fillControllerRecord(address, buttonByte, currentController);
    }
    return true;
}
