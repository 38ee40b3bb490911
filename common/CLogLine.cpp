#include "common/CLogLine.h"

#include <charconv>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iostream>

#include "common/CLogH.h"
#include "platform/Platform.h"

namespace {

// The printf conversion that standard output uses for a floating-point
// number under these flags (as its number formatting is defined).
void floatConversion(std::ios_base::fmtflags flags, bool& withPrecision, char* conversion)
{
    char* at = conversion;
    *at++ = '%';
    if ((flags & std::ios_base::showpos) != 0) {
        *at++ = '+';
    }
    if ((flags & std::ios_base::showpoint) != 0) {
        *at++ = '#';
    }
    const std::ios_base::fmtflags notation = flags & std::ios_base::floatfield;
    const bool upper = (flags & std::ios_base::uppercase) != 0;
    withPrecision = notation != (std::ios_base::fixed | std::ios_base::scientific);
    if (withPrecision) {
        *at++ = '.';
        *at++ = '*';
    }
    if (notation == std::ios_base::fixed) {
        *at++ = upper ? 'F' : 'f';
    } else if (notation == std::ios_base::scientific) {
        *at++ = upper ? 'E' : 'e';
    } else if (notation == (std::ios_base::fixed | std::ios_base::scientific)) {
        *at++ = upper ? 'A' : 'a';
    } else {
        *at++ = upper ? 'G' : 'g';
    }
    *at = '\0';
}

}  // namespace

CLogLine::CLogLine(const CLogH& log) : log(log) {}

CLogLine::~CLogLine()
{
    end();
}

CLogLine& CLogLine::level(Level level, const char* text, const bool& lineEnd)
{
    end();
    if (log.enabled == 0 || (level == kDebug && !log.isDebugOn())) {
        return *this;
    }
    header();
    field(log.levelWords[level], sizeof log.levelWords[level]);
    *this << ": " << text;
    if (lineEnd) {
        end();
    }
    return *this;
}

CLogLine& CLogLine::info(const char* text, const bool& lineEnd)
{
    return level(kInfo, text, lineEnd);
}

CLogLine& CLogLine::error(const char* text, const bool& lineEnd)
{
    return level(kError, text, lineEnd);
}

CLogLine& CLogLine::warning(const char* text, const bool& lineEnd)
{
    return level(kWarning, text, lineEnd);
}

CLogLine& CLogLine::debug(const char* text, const bool& lineEnd)
{
    return level(kDebug, text, lineEnd);
}

CLogLine& CLogLine::bare(const char* text, const bool& lineEnd)
{
    end();
    if (log.enabled != 0) {
        open = true;
        *this << text;
        if (lineEnd) {
            end();
        }
    }
    return *this;
}

// Optional date and time, the module name, then the thread id in brackets or
// a bare ": ".
CLogLine& CLogLine::header()
{
    open = true;
    if (log.showDate != 0 || log.showTime != 0) {
        char format[16] = "";
        if (log.showDate != 0) {
            std::strcat(format, "%b %d ");
        }
        if (log.showTime != 0) {
            std::strcat(format, "%X ");
        }
        std::tm local{};
        char stamp[100];
        if (platform::localTime(std::time(nullptr), local) &&
            std::strftime(stamp, sizeof stamp, format, &local) > 0) {
            *this << stamp;
        }
    }
    field(log.moduleName, sizeof log.moduleName);
    if (log.showThreadId != 0) {
        *this << '[' << platform::currentThreadId() << "]: ";
    } else {
        *this << ": ";
    }
    return *this;
}

CLogLine& CLogLine::operator<<(const char* text)
{
    if (open && text != nullptr) {
        append(text, std::strlen(text));
    }
    return *this;
}

CLogLine& CLogLine::operator<<(char character)
{
    if (open) {
        append(&character, 1);
    }
    return *this;
}

CLogLine& CLogLine::field(const char* text, std::size_t width)
{
    std::size_t size = 0;
    while (size < width && text[size] != '\0') {
        ++size;
    }
    if (open) {
        append(text, size);
    }
    return *this;
}

CLogLine& CLogLine::signedNumber(long long value)
{
    if (open) {
        char digits[24];
        const std::to_chars_result done = std::to_chars(digits, digits + sizeof digits, value);
        append(digits, static_cast<std::size_t>(done.ptr - digits));
    }
    return *this;
}

CLogLine& CLogLine::unsignedNumber(unsigned long long value)
{
    if (open) {
        char digits[24];
        const std::to_chars_result done = std::to_chars(digits, digits + sizeof digits, value);
        append(digits, static_cast<std::size_t>(done.ptr - digits));
    }
    return *this;
}

// The printf conversion that the flags name, the C library's decimal point
// made the classic locale's, then the fill to the field width: after the
// number when adjusted left, after its sign (and a hexadecimal prefix) when
// adjusted internally, before it otherwise.
CLogLine& CLogLine::number(double value, const LogNumberFormat& format)
{
    if (!open) {
        return *this;
    }
    char conversion[16];
    bool withPrecision = true;
    floatConversion(format.flags, withPrecision, conversion);
    char digits[512];
    const int precision = format.precision < 0 ? 6 : static_cast<int>(format.precision);
    const int written = withPrecision ? std::snprintf(digits, sizeof digits, conversion, precision, value)
                                      : std::snprintf(digits, sizeof digits, conversion, value);
    if (written <= 0) {
        return *this;
    }
    std::size_t size = static_cast<std::size_t>(written) < sizeof digits ? static_cast<std::size_t>(written)
                                                                         : sizeof digits - 1;
    const char point = *std::localeconv()->decimal_point;
    if (point != '.' && point != '\0') {
        for (std::size_t i = 0; i < size; ++i) {
            if (digits[i] == point) {
                digits[i] = '.';
            }
        }
    }
    const std::size_t width = format.width > 0 ? static_cast<std::size_t>(format.width) : 0;
    const std::size_t padding = width > size ? width - size : 0;
    const std::ios_base::fmtflags adjust = format.flags & std::ios_base::adjustfield;
    std::size_t split = 0;  // where the fill goes
    if (adjust == std::ios_base::left) {
        split = size;
    } else if (adjust == std::ios_base::internal) {
        if (size > 0 && (digits[0] == '-' || digits[0] == '+')) {
            split = 1;
        }
        if (size > split + 1 && digits[split] == '0' && (digits[split + 1] == 'x' || digits[split + 1] == 'X')) {
            split += 2;
        }
    }
    append(digits, split);
    for (std::size_t i = 0; i < padding; ++i) {
        append(&format.fill, 1);
    }
    append(digits + split, size - split);
    return *this;
}

void CLogLine::append(const char* text, std::size_t size)
{
    while (size > 0) {
        if (length == sizeof buffer) {
            writeOut();  // a line longer than the buffer: this part now
        }
        const std::size_t room = sizeof buffer - length;
        const std::size_t part = size < room ? size : room;
        std::memcpy(buffer + length, text, part);
        length += part;
        text += part;
        size -= part;
    }
}

void CLogLine::writeOut()
{
    if (length > 0) {
        std::cout.write(buffer, static_cast<std::streamsize>(length));
        length = 0;
    }
}

void CLogLine::end()
{
    if (!open) {
        return;
    }
    append("\n", 1);
    writeOut();
    std::cout.flush();
    open = false;
}

void CLogLine::writeOpen()
{
    if (!open) {
        return;
    }
    writeOut();
    open = false;
}
