#include "serial/CRS232H.h"

#include <cstring>

#include "common/CLogH.h"
#include "common/CLogLine.h"

CRS232H::CRS232H(const CLogH* logger)
    : ownsLog(1), portName{}, portHandle(nullptr), savedAttributes{}, workingAttributes{}, log(nullptr)
{
    if (logger != nullptr) {
        log = new CLogH(*logger);
    } else {
        log = new CLogH();
        log->setName("CRS232H");
        log->setDebugThreshold(4);
    }
    log->setDebugCategory(3);
    log->debug("CRS232H: \"constructor\" called.");
}

CRS232H::~CRS232H()
{
    log->debug("CRS232H: \"destructor\" called.");
    if (portHandle != nullptr) {
        closePort();
    }
    if (ownsLog != 0) {
        delete log;
    }
}

bool CRS232H::openPort(const char* name)
{
    log->debug("CRS232H: \"openPort\" called.");
    if (name == nullptr) {
        name = "";  // the system refuses it with its own text
    }
    const std::size_t length = std::strlen(name);
    if (length > kMaxNameLength) {
        CLogLine line(*log);
        line.error("CRS232H: Port name is too long. ", false) << kMaxNameLength << length;
        line.end();
        return false;
    }
    // A port still open from an earlier call is given back first, so that
    // its exclusive hold does not outlive the handle.
    if (isOpen()) {
        closePort();
    }
    std::memcpy(portName, name, length + 1);
    // As "Opening %s.", but a name of any allowed length keeps its line end.
    {
        CLogLine line(*log);
        line.debug("CRS232H: Opening ", false) << portName << '.';
        line.end();
    }
    portHandle = platform::openSerialPort(portName);
    if (!isOpen()) {
        reportSystemError("CRS232H: Opening port ", platform::lastErrorCode());
        return false;
    }
    getAttributes(&workingAttributes);
    getAttributes(&savedAttributes);
    return true;
}

bool CRS232H::closePort()
{
    if (!isOpen()) {
        return false;
    }
    bool result = setAttributes(&savedAttributes);
    if (!platform::closeSerialPort(portHandle)) {
        reportSystemError("CRS232H: Closing port ", platform::lastErrorCode());
        result = false;
    }
    portHandle = nullptr;
    return result;
}

bool CRS232H::getAttributes(PortAttributes* attributes)
{
    if (attributes == nullptr) {
        return false;
    }
    if (!platform::getSerialControl(portHandle, attributes->control)) {
        reportSystemError("CRS232H: Getting attribute(DCB) from ", platform::lastErrorCode());
        return false;
    }
    if (!platform::getSerialTimeouts(portHandle, attributes->timeouts)) {
        reportSystemError("CRS232H: Getting attribute(COMMTIMEOUTS) from ", platform::lastErrorCode());
        return false;
    }
    return true;
}

bool CRS232H::setAttributes(PortAttributes* attributes)
{
    const PortAttributes& applied = attributes != nullptr ? *attributes : workingAttributes;
    if (!platform::setSerialControl(portHandle, applied.control)) {
        reportSystemError("CRS232H: Setting attribute(DCB) to ", platform::lastErrorCode());
        return false;
    }
    if (!applyTimeouts(applied.timeouts)) {
        return false;
    }
    if (attributes != nullptr && attributes != &workingAttributes) {
        workingAttributes = *attributes;
    }
    return true;
}

bool CRS232H::setWorkingAttributes(PortAttributes* attributes)
{
    if (attributes == nullptr) {
        return false;
    }
    workingAttributes = *attributes;
    return true;
}

bool CRS232H::setBaudRate(std::int32_t rate)
{
    switch (rate) {
    case 1200:
    case 2400:
    case 4800:
    case 9600:
    case 19200:
    case 38400:
    case 57600:
    case 115200:
        workingAttributes.control.BaudRate = static_cast<std::uint32_t>(rate);
        return true;
    default:
        CLogLine line(*log);
        line.error("CRS232H: Could not set the baud rate ", false) << rate;
        line.end();
        return false;
    }
}

bool CRS232H::flushPort()
{
    return true;
}

bool CRS232H::discardInput()
{
    if (!platform::discardInput(portHandle)) {
        reportSystemError("CRS232H: Discarding input from ", platform::lastErrorCode());
        return false;
    }
    return true;
}

bool CRS232H::applyReadTimeout(std::uint32_t milliseconds)
{
    platform::SerialTimeouts timeouts = workingAttributes.timeouts;
    timeouts.ReadTotalTimeoutConstant = milliseconds;
    return applyTimeouts(timeouts);
}

bool CRS232H::applyWorkingTimeouts()
{
    return applyTimeouts(workingAttributes.timeouts);
}

bool CRS232H::applyTimeouts(const platform::SerialTimeouts& timeouts)
{
    if (!platform::setSerialTimeouts(portHandle, timeouts)) {
        reportSystemError("CRS232H: Setting attribute(COMMTIMEOUTS) to ", platform::lastErrorCode());
        return false;
    }
    return true;
}

std::int32_t CRS232H::writeBytes(const void* buffer, std::int32_t count)
{
    if (count < 0) {
        reportSystemError("CRS232H: Writing to ", platform::invalidArgumentError());
        return 0;
    }
    std::uint32_t written = 0;
    if (!platform::writeSerial(portHandle, buffer, static_cast<std::uint32_t>(count), written)) {
        reportSystemError("CRS232H: Writing to ", platform::lastErrorCode());
    }
    return static_cast<std::int32_t>(written);
}

std::int32_t CRS232H::readBytes(void* buffer, std::int32_t count)
{
    if (count < 0) {
        reportSystemError("CRS232H: Reading from ", platform::invalidArgumentError());
        return -1;
    }
    std::uint32_t read = 0;
    if (!platform::readSerial(portHandle, buffer, static_cast<std::uint32_t>(count), read)) {
        reportSystemError("CRS232H: Reading from ", platform::lastErrorCode());
        return -1;
    }
    return static_cast<std::int32_t>(read);
}

void CRS232H::reportSystemError(const char* text, std::uint32_t errorCode) const
{
    // One line, written whole or (logger off) not at all; on the receiving
    // thread too, where nothing may allocate.
    CLogLine line(*log);
    if (line.error(text, false).isOpen()) {
        char message[512];
        platform::systemErrorText(errorCode, message, sizeof message, platform::TextLanguage::Neutral);
        line << portName << ": " << message;
    }
    line.end();
}
