#pragma once
// The module's logger: a plain record with the LogSettings layout and the
// operations that write log lines to standard output. Every object that
// reports anything owns one, taken as a byte copy of its creator's. With
// enabled 0 nothing at all is written, by it or by a CLogLine of it.
#include <cstdint>

#include "vantrel/LogSettings.h"

class CLogH : public LogSettings {
public:
    // Defaults: date, time and thread id shown, enabled, "MESSAGE", debug off.
    CLogH();
    // Byte copy of a host's record.
    explicit CLogH(const LogSettings& settings);

    // Copies at most 99 characters, so the name always stays terminated.
    void setName(const char* name);
    void setDebugThreshold(std::int32_t threshold) { debugThreshold = threshold; }
    void setDebugCategory(std::uint32_t category) { debugCategory = category; }

    // The DEBUG filter, without writing anything.
    bool isDebugOn() const;
    void writeHeader() const;

    // Each writes its line in one write (see CLogLine). With lineEnd false
    // the line stays open and the caller continues it on std::cout and ends
    // it; the module's own code continues a line on a CLogLine instead, so
    // that the whole line goes out in one write.
    void info(const char* text, const bool& lineEnd = true) const;
    void error(const char* text, const bool& lineEnd = true) const;
    void warning(const char* text, const bool& lineEnd = true) const;
    void debug(const char* text, const bool& lineEnd = true) const;
    // printf-style DEBUG text, at most 255 characters; the format carries its
    // own line end.
    void debugf(const char* format, ...) const
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;

private:
    void write(int level, const char* text, bool lineEnd) const;
};

static_assert(sizeof(CLogH) == sizeof(LogSettings), "CLogH is the bare record");
