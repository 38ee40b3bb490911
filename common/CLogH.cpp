#include "common/CLogH.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "common/CLogLine.h"

namespace {

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
    copyText(levelWords[CLogLine::kInfo], sizeof levelWords[CLogLine::kInfo], "INFO");
    copyText(levelWords[CLogLine::kError], sizeof levelWords[CLogLine::kError], "ERROR");
    copyText(levelWords[CLogLine::kWarning], sizeof levelWords[CLogLine::kWarning], "WARNING");
    copyText(levelWords[CLogLine::kDebug], sizeof levelWords[CLogLine::kDebug], "DEBUG");
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
    CLogLine line(*this);
    line.header().writeOpen();
}

// One line, composed whole and written in one write (CLogLine.h); with
// lineEnd false it is written without its end.
void CLogH::write(int level, const char* text, bool lineEnd) const
{
    CLogLine line(*this);
    line.level(static_cast<CLogLine::Level>(level), text != nullptr ? text : "", lineEnd);
    line.writeOpen();
}

void CLogH::info(const char* text, const bool& lineEnd) const
{
    write(CLogLine::kInfo, text, lineEnd);
}

void CLogH::error(const char* text, const bool& lineEnd) const
{
    write(CLogLine::kError, text, lineEnd);
}

void CLogH::warning(const char* text, const bool& lineEnd) const
{
    write(CLogLine::kWarning, text, lineEnd);
}

void CLogH::debug(const char* text, const bool& lineEnd) const
{
    if (enabled != 0 && isDebugOn()) {
        write(CLogLine::kDebug, text, lineEnd);
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
    write(CLogLine::kDebug, buffer, false);
    std::cout.flush();
}
