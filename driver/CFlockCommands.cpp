#include "driver/CFlockCommands.h"

#include <chrono>

#include "common/CLogH.h"
#include "common/CLogLine.h"
#include "platform/Platform.h"
#include "serial/CRS232H.h"
#include "tracker/CTraCommonH.h"

CFlockCommands::CFlockCommands(const CLogH& log, const CDeviceOptions& options) : log(log), options(options) {}

void CFlockCommands::attach(CRS232H* port, const CTraCommonH* trackers)
{
    serialPort = port;
    trackerLayer = trackers;
}

void CFlockCommands::pause(std::uint32_t milliseconds) const
{
    platform::sleepMs(milliseconds / pauseDivisor);
}

bool CFlockCommands::writeCommand(const std::uint8_t* bytes, std::uint32_t count)
{
    if (serialPort == nullptr) {
        return false;
    }
    return serialPort->writeBytes(bytes, count) == static_cast<std::int32_t>(count);
}

// Before a query whose reply is read: whatever waits on the line (a byte left
// over, the records of a flock that streamed until the group-mode change
// stopped it) would be taken for the reply.
bool CFlockCommands::discardInput()
{
    return serialPort != nullptr && serialPort->discardInput();
}

// A flock left streaming stops at the group-mode change, but only once it has
// sent the records of its cycle under way, and the command itself may still
// be leaving the port when the write returns. So after the command's time on
// the line, whatever arrives is dropped until the line has been quiet for
// one record's time at the line's rate (never less than kQuietFloorMs: the
// system and serial adapters hand bytes on in bunches), and for at most
// twice the longest group that the flock sends (every unit of the bus with a
// 14-byte record) beyond that. The line's time, so the test seam does not
// shorten it.
void CFlockCommands::awaitQuietLine() const
{
    constexpr std::uint32_t kQuietFloorMs = 20;
    constexpr std::uint32_t kBitsPerByte = 10;
    const std::uint32_t baud = options.baudRate > 0 ? static_cast<std::uint32_t>(options.baudRate) : 38400u;
    // Milliseconds that a number of bytes take on the line, rounded up.
    auto lineMs = [baud](std::uint32_t bytes) { return (bytes * kBitsPerByte * 1000u + baud - 1) / baud; };
    const std::uint32_t units = options.busDeviceCount > 0 ? options.busDeviceCount : 1;
    const std::uint32_t quietMs = lineMs(14) > kQuietFloorMs ? lineMs(14) : kQuietFloorMs;
    const std::uint32_t limitMs = quietMs + 2 * lineMs(units * 14);
    platform::sleepMs(lineMs(3));
    if (serialPort == nullptr || !serialPort->applyReadTimeout(quietMs)) {
        return;
    }
    using Clock = std::chrono::steady_clock;
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(limitMs);
    std::uint8_t byte = 0;
    // A read that ends without a byte found the line quiet; a failed read
    // ends the wait too (the check that follows reads the line again).
    while (serialPort->readBytes(&byte, 1) == 1 && Clock::now() < end) {
    }
    serialPort->applyWorkingTimeouts();
}

bool CFlockCommands::readByte(std::uint8_t& byte)
{
    if (serialPort == nullptr) {
        return false;
    }
    return serialPort->readBytes(&byte, 1) == 1;
}

bool CFlockCommands::sendSingleCommand(const std::uint8_t* bytes, std::uint32_t count, const char* begin,
                                       const char* done, const char* failed)
{
    log.debug(begin);
    if (!writeCommand(bytes, count)) {
        log.error(failed);
        return false;
    }
    log.debug(done);
    return true;
}

bool CFlockCommands::sendAutoConfig()
{
    log.debug("CVantrel: Sending Auto-Config command..");
    const std::uint8_t command[] = {0x50, 0x32, static_cast<std::uint8_t>(options.busDeviceCount & 0xFF)};
    pause(600);
    if (!writeCommand(command, sizeof command)) {
        log.error("CVantrel: Sending Auto-Config command failed.");
        return false;
    }
    pause(600);
    log.debug("CVantrel: Auto-Config done.");
    return true;
}

// The bus addresses that the addressing mode reaches (never more than the
// status holds).
std::uint32_t CFlockCommands::addressCount() const
{
    const auto count = static_cast<std::uint32_t>(options.maxAddress);
    return count <= CDeviceOptions::kMaxBusAddress ? count : CDeviceOptions::kMaxBusAddress;
}

std::uint32_t CFlockCommands::trackerOutputId(std::uint32_t address) const
{
    const TrackerMap* map = trackerLayer != nullptr ? trackerLayer->getTrackerMap(address) : nullptr;
    return map != nullptr ? map->outputId : 0;
}

bool CFlockCommands::checkSystemStatus()
{
    log.debug("CVantrel: Checking system status.");
    foundErc = 0;
    const std::uint8_t command[] = {0x4F, 0x24};
    if (!discardInput() || !writeCommand(command, sizeof command)) {
        log.error("CVantrel: Checking system status failed.");
        return false;
    }
    log.debug("CVantrel: Receiving system status.");
    const std::uint32_t count = addressCount();
    for (std::uint32_t i = 0; i < count; ++i) {
        if (!readByte(unitStatus[i])) {
            log.error("CVantrel: Receiving system status failed.");
            return false;
        }
    }
    log.debug("CVantrel: Receiving system status done.");
    if (!log.isDebugOn()) {
        return true;
    }
    // What the status says counts whether its lines are written or not.
    bool allRunning = true;
    for (std::uint32_t address = 1; address <= count; ++address) {
        const std::uint8_t status = unitStatus[address - 1];
        if ((status & 0x80) == 0) {
            continue;
        }
        const bool running = (status & 0x40) != 0;
        allRunning = allRunning && running;
        if ((status & 0x11) == 0x11) {
            foundErc = address;
        }
        CLogLine line(log);
        line.debug("CVantrel: Flock device ", false) << address << " (unitID " << trackerOutputId(address) << "):";
        line << (running ? " running" : " not-running");
        if ((status & 0x20) != 0) {
            line << ", Receiver";
        }
        if ((status & 0x11) == 0x11) {
            line << ", ERC-0";
        }
        if ((status & 0x08) != 0) {
            line << ", ERC-3";
        }
        if ((status & 0x04) != 0) {
            line << ", ERC-2";
        }
        if ((status & 0x02) != 0) {
            line << ", ERC-1";
        }
        if ((status & 0x11) == 0x01) {
            line << ", SRT";
        }
        line.end();
    }
    if (!allRunning) {
        log.error("CVantrel: At least one device is not running.");
    }
    log.debug("CVantrel: Checking system status done.");
    return allRunning;
}

bool CFlockCommands::sendNextTransmitter(std::uint32_t address, std::uint32_t transmitter)
{
    if (address == 1) {
        return true;
    }
    if (address == 0 || address > options.busDeviceCount) {
        return false;
    }
    // The command carries the address in four bits: a larger one would
    // select another unit.
    if (address > 15 || transmitter > 3) {
        log.error("CVantrel: Sending Next-Transmitter command failed.");
        return false;
    }
    log.debug("CVantrel: Sending Next-Transmitter command.");
    const std::uint8_t command[] = {0x30, static_cast<std::uint8_t>((address << 4) | transmitter)};
    if (!writeCommand(command, sizeof command)) {
        log.error("CVantrel: Sending Next-Transmitter command failed.");
        return false;
    }
    pause(10);
    log.debug("CVantrel: Sending Next-Transmitter command done.");
    return true;
}

bool CFlockCommands::sendRs232ToFbb(std::uint32_t address)
{
    std::uint8_t prefix[2] = {0, 0};
    std::uint32_t length = 1;
    if (options.maxAddress == 126) {
        prefix[0] = 0xA0;
        prefix[1] = static_cast<std::uint8_t>(address);
        length = 2;
    } else if (options.maxAddress == 30 && address >= 16) {
        prefix[0] = static_cast<std::uint8_t>(0xE0 + (address - 16));
    } else {
        prefix[0] = static_cast<std::uint8_t>(0xF0 + address);
    }
    const bool addressFits = address >= 1 && address <= static_cast<std::uint32_t>(options.maxAddress);
    log.debug("CVantrel: Sending RS232toFBB command.");
    if (!addressFits || !writeCommand(prefix, length)) {
        log.error("CVantrel: Sending RS232toFBB command failed.");
        return false;
    }
    log.debug("CVantrel: Sending RS232toFBB command done.");
    return true;
}

bool CFlockCommands::qualifiesForUnitCommand(std::uint32_t address, bool needAddressInUse, bool needMouse) const
{
    const std::uint8_t status = unitStatus[address - 1];
    if ((status & 0x20) == 0) {
        return false;
    }
    if (needAddressInUse && (status & 0x80) == 0) {
        return false;
    }
    return !needMouse || options.mouseFlags[address - 1] != 0;
}

bool CFlockCommands::sendToUnits(const UnitCommand& command)
{
    log.debug(command.begin);
    if (command.pauseBefore != 0) {
        pause(command.pauseBefore);
    }
    const std::uint32_t lastAddress = addressCount();
    for (std::uint32_t address = 1; address <= lastAddress; ++address) {
        if (!qualifiesForUnitCommand(address, command.needAddressInUse, command.needMouse)) {
            continue;
        }
        sendRs232ToFbb(address);
        {
            CLogLine line(log);
            line.debug(command.unitLine, false) << address << ".";
            line.end();
        }
        if (!writeCommand(command.bytes, command.count)) {
            log.error(command.failed);
            return false;
        }
        log.debug(command.unitDone);
        if (command.pauseAfterUnit != 0) {
            pause(command.pauseAfterUnit);
        }
    }
    log.debug(command.done);
    return true;
}

bool CFlockCommands::setPositionScaling(std::int32_t scaling)
{
    const std::uint8_t bytes[] = {0x50, 0x03, static_cast<std::uint8_t>(scaling == 2 ? 0x01 : 0x00), 0x00};
    return sendToUnits({bytes, sizeof bytes, "CVantrel: Setting Position Scaling.",
                        "CVantrel: Sending Position Scaling to device ", "CVantrel: Sending Position Scaling done.",
                        "CVantrel: Setting Position Scaling done.", "CVantrel: Sending Position Scaling failed.", 600,
                        600, false, false});
}

bool CFlockCommands::setMeasurementRate(std::uint8_t rate)
{
    const std::uint8_t bytes[] = {0x50, 0x07, 0x00, rate};
    return sendToUnits({bytes, sizeof bytes, "CVantrel: Setting Measurement Rate.",
                        "CVantrel: Sending Measurement Rate to device ", "CVantrel: Sending Measurement Rate done.",
                        "CVantrel: Setting Measurement Rate done.", "CVantrel: Sending Measurement Rate failed.", 600,
                        600, false, false});
}

bool CFlockCommands::setHemisphere(std::uint16_t hemisphere)
{
    const std::uint8_t bytes[] = {0x4C, static_cast<std::uint8_t>(hemisphere >> 8),
                                  static_cast<std::uint8_t>(hemisphere & 0xFF)};
    return sendToUnits({bytes, sizeof bytes, "CVantrel: Setting Hemisphere mode.",
                        "CVantrel: Sending Hemisphere command to device ", "CVantrel: Sending Hemisphere command done.",
                        "CVantrel: Setting Hemisphere mode done.", "CVantrel: Sending Hemisphere command failed.", 0, 0,
                        false, false});
}

bool CFlockCommands::setReferenceFrame()
{
    const std::uint8_t bytes[] = {0x72, 0x00, 0xC0, 0x00, 0x40, 0x00, 0x00};
    return sendToUnits({bytes, sizeof bytes, "CVantrel: Setting reference frame.",
                        "CVantrel: Sending reference frame command to device ",
                        "CVantrel: Sending reference frame command done.", "CVantrel: Setting reference frame done.",
                        "CVantrel: Sending reference frame command failed.", 0, 0, false, false});
}

bool CFlockCommands::setPositionAngles()
{
    const std::uint8_t bytes[] = {0x59};
    return sendToUnits({bytes, sizeof bytes, "CVantrel: Setting position/angles mode.",
                        "CVantrel: Sending position/angles command to Flock device ",
                        "CVantrel: Sending position/angles command done.",
                        "CVantrel: Setting position/angles mode done.",
                        "CVantrel: Sending position/angles command failed.", 0, 0, true, false});
}

bool CFlockCommands::setButtonMode(bool on)
{
    const std::uint8_t bytes[] = {0x4D, static_cast<std::uint8_t>(on ? 0x01 : 0x00)};
    return sendToUnits({bytes, sizeof bytes, "CVantrel: Setting Button mode.",
                        "CVantrel: Sending Button mode to device ",
                        "CVantrel: Sending Button mode done.", "CVantrel: Setting Button mode done.",
                        "CVantrel: Sending Button mode failed.", 0, 600, false, true});
}

bool CFlockCommands::setReportRate(char reportRate)
{
    const std::uint8_t bytes[] = {static_cast<std::uint8_t>(reportRate)};
    return sendSingleCommand(bytes, sizeof bytes, "CVantrel: Setting report rate.",
                             "CVantrel: Setting report rate done.", "CVantrel: Setting report rate failed.");
}

bool CFlockCommands::setFilter()
{
    const std::uint8_t bytes[] = {0x50, 0x04, 0x00, 0x00};
    return sendSingleCommand(bytes, sizeof bytes, "CVantrel: Setting filter.", "CVantrel: Setting filter done.",
                             "CVantrel: Setting filter failed.");
}

bool CFlockCommands::setSync(std::int32_t sync)
{
    if (sync < 0 || sync > 3) {
        return false;
    }
    const std::uint8_t bytes[] = {0x41, static_cast<std::uint8_t>(sync)};
    return sendSingleCommand(bytes, sizeof bytes, "CVantrel: Setting Sync.", "CVantrel: Setting Sync done.",
                             "CVantrel: Setting Sync failed.");
}

std::uint8_t CFlockCommands::checkGroupMode()
{
    log.debug("CVantrel: Checking group mode.");
    const std::uint8_t bytes[] = {0x4F, 0x23};
    if (!discardInput() || !writeCommand(bytes, sizeof bytes)) {
        log.error("CVantrel: Checking group mode failed.");
        return 0;
    }
    log.debug("CVantrel: Receiving group mode info.");
    std::uint8_t reply = 0;
    if (!readByte(reply)) {
        log.error("CVantrel: Receiving group mode info failed.");
        return 0;
    }
    log.debug("CVantrel: Checking group mode done.");
    return reply;
}

bool CFlockCommands::startGroupMode()
{
    log.debug("CVantrel: Starting group mode.");
    const std::uint8_t bytes[] = {0x50, 0x23, 0x01};
    if (!writeCommand(bytes, sizeof bytes)) {
        log.error("CVantrel: Starting group mode failed.");
        return false;
    }
    awaitQuietLine();
    if (checkGroupMode() != 1) {
        log.error("CVantrel: Could not start group mode.");
        return false;
    }
    log.debug("CVantrel: Starting group mode done.");
    return true;
}

bool CFlockCommands::sendStream()
{
    const std::uint8_t bytes[] = {0x40};
    return sendSingleCommand(bytes, sizeof bytes, "CVantrel: Sending stream command.",
                             "CVantrel: Sending stream command done.", "CVantrel: Sending stream command failed.");
}

bool CFlockCommands::sendPoint()
{
    log.debug("CVantrel: Sending point command.");
    if (serialPort == nullptr || !serialPort->flushPort()) {
        log.error("CVantrel: Flushing IO failed.");
        return false;
    }
    const std::uint8_t bytes[] = {0x42};
    if (!writeCommand(bytes, sizeof bytes)) {
        log.error("CVantrel: Sending point command failed.");
        return false;
    }
    log.debug("CVantrel: Sending point command done.");
    return true;
}

bool CFlockCommands::sendSleep()
{
    log.debug("CVantrel: Putting system in sleep.");
    if (serialPort == nullptr || !serialPort->flushPort()) {
        log.error("CVantrel: Flushing IO failed.");
        return false;
    }
    const std::uint8_t bytes[] = {0x47};
    if (!writeCommand(bytes, sizeof bytes)) {
        log.error("CVantrel: Putting system in sleep failed.");
        return false;
    }
    log.debug("CVantrel: Putting system in sleep done.");
    return true;
}
