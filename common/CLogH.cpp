#include "common/CLogH.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iostream>

#include "platform/Platform.h"

namespace {

enum Level { kInfo = 0, kError = 1, kWarning = 2, kDebug = 3 };

// Writes a fixed-width text field of the record without reading past it,
// even when the host left it unterminated.
void writeField(const char* field, std::size_t width)
{
    std::size_t length = 0;
    while (length < width && field[length] != '\0') {
        ++length;
    }
    std::cout.write(field, static_cast<std::streamsize>(length));
}

// Unformatted, so that no flag, field width or locale that the host left on
// the stream changes it, and the stream's state is not touched: receiving
// threads of several devices write lines at the same time.
void writeText(const char* text)
{
    std::cout.write(text, static_cast<std::streamsize>(std::strlen(text)));
}

void copyText(char* field, std::size_t width, const char* text)
{
    std::size_t length = text == nullptr ? 0 : std::strlen(text);
    if (length > width - 1) {
        length = width - 1;
    }
    if (length > 0) {
        std::memcpy(field, text, length);
    }
    std::memset(field + length, 0, width - length);
}

}  // namespace

CLogH::CLogH() : LogSettings{}
{
    showDate = 1;
    showTime = 1;
    showThreadId = 1;
    enabled = 1;
    copyText(moduleName, sizeof moduleName, "MESSAGE");
    copyText(levelWords[kInfo], sizeof levelWords[kInfo], "INFO");
    copyText(levelWords[kError], sizeof levelWords[kError], "ERROR");
    copyText(levelWords[kWarning], sizeof levelWords[kWarning], "WARNING");
    copyText(levelWords[kDebug], sizeof levelWords[kDebug], "DEBUG");
    debugThreshold = 1;
    debugLevel = 0;
    debugCategory = 0;
}

CLogH::CLogH(const LogSettings& settings) : LogSettings{}
{
    std::memcpy(static_cast<LogSettings*>(this), &settings, sizeof(LogSettings));
}

void CLogH::setName(const char* name)
{
    copyText(moduleName, sizeof moduleName, name);
}

bool CLogH::isDebugOn() const
{
    if (debugLevel == 0) {
        return false;
    }
    return static_cast<std::uint32_t>(debugLevel) == debugCategory || debugLevel >= debugThreshold;
}

void CLogH::writeHeader() const
{
    if (showDate != 0 || showTime != 0) {
        char format[16] = "";
        if (showDate != 0) {
            std::strcat(format, "%b %d ");
        }
        if (showTime != 0) {
            std::strcat(format, "%X ");
        }
        std::tm local{};
        char stamp[100];
        if (platform::localTime(std::time(nullptr), local) &&
            std::strftime(stamp, sizeof stamp, format, &local) > 0) {
            writeText(stamp);
        }
    }
    writeField(moduleName, sizeof moduleName);
    if (showThreadId != 0) {
        char id[24];
        std::snprintf(id, sizeof id, "[%lu]: ", static_cast<unsigned long>(platform::currentThreadId()));
        writeText(id);
    } else {
        writeText(": ");
    }
}

void CLogH::write(int level, const char* text, bool lineEnd) const
{
    // The thread id is a plain decimal number and the header takes no
    // field width, whatever the host left on the stream (see writeText).
    writeHeader();
    writeField(levelWords[level], sizeof levelWords[level]);
    writeText(": ");
    if (text != nullptr) {
        writeText(text);
    }
    if (lineEnd) {
        std::cout << std::endl;
    }
}

void CLogH::info(const char* text, const bool& lineEnd) const
{
    if (enabled != 0) {
        write(kInfo, text, lineEnd);
    }
}

void CLogH::error(const char* text, const bool& lineEnd) const
{
    if (enabled != 0) {
        write(kError, text, lineEnd);
    }
}

void CLogH::warning(const char* text, const bool& lineEnd) const
{
    if (enabled != 0) {
        write(kWarning, text, lineEnd);
    }
}

void CLogH::debug(const char* text, const bool& lineEnd) const
{
    if (enabled != 0 && isDebugOn()) {
        write(kDebug, text, lineEnd);
    }
}

void CLogH::debugf(const char* format, ...) const
{
    if (enabled == 0 || !isDebugOn()) {
        return;
    }
    char buffer[256];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(buffer, sizeof buffer, format, arguments);
    va_end(arguments);
    write(kDebug, buffer, false);
    std::cout.flush();
}
