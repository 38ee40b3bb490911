#pragma once
// One line of the log, composed in a buffer of its own and written to
// standard output in one write when it ends: the lines of devices whose
// threads log at the same time never run into each other, the shared
// stream's format and locale are neither used nor changed, and nothing is
// allocated.
//
// A line is opened by one of the logger's levels exactly as the logger's own
// operation begins it (header, level word, ": ", text). With lineEnd true it
// is written at once; with lineEnd false it stays open, the caller continues
// it here and ends it. A line that the logger would not write (switched off,
// or a DEBUG line that its filter holds back) takes nothing, and nothing that
// is added to it is written. Only a line longer than the buffer goes out in
// more than one write.
#include <cstddef>
#include <cstdint>
#include <ios>
#include <type_traits>

class CLogH;

// How a floating-point number is written: as standard output writes it with
// these flags (notation, showpoint, showpos, uppercase, adjustment),
// precision, field width and fill, in the classic locale.
struct LogNumberFormat {
    std::ios_base::fmtflags flags;
    std::streamsize precision;
    std::streamsize width;
    char fill;
};

class CLogLine {
public:
    static constexpr std::size_t kCapacity = 4096;

    explicit CLogLine(const CLogH& log);
    // A line still open is ended.
    ~CLogLine();
    CLogLine(const CLogLine&) = delete;
    CLogLine& operator=(const CLogLine&) = delete;

    CLogLine& info(const char* text, const bool& lineEnd = true);
    CLogLine& error(const char* text, const bool& lineEnd = true);
    CLogLine& warning(const char* text, const bool& lineEnd = true);
    CLogLine& debug(const char* text, const bool& lineEnd = true);
    // A line of text alone, without header or level word (the empty lines
    // of the reports), when the logger writes at all.
    CLogLine& bare(const char* text, const bool& lineEnd = true);
    // The header alone, as the line's beginning.
    CLogLine& header();

    // Continues the open line; nothing when no line is open.
    CLogLine& operator<<(const char* text);
    CLogLine& operator<<(char character);
    template <typename Integer,
              typename std::enable_if<std::is_integral<Integer>::value && !std::is_same<Integer, char>::value &&
                                          !std::is_same<Integer, bool>::value,
                                      int>::type = 0>
    CLogLine& operator<<(Integer value)
    {
        return std::is_signed<Integer>::value ? signedNumber(static_cast<long long>(value))
                                              : unsignedNumber(static_cast<unsigned long long>(value));
    }
    CLogLine& number(double value, const LogNumberFormat& format);

    // Ends the open line: the line end, one write, then standard output is
    // flushed.
    void end();
    // Writes the open line as it stands, without a line end (a text that
    // carries its own, or the logger's lineEnd false for a caller that goes
    // on on standard output itself), and closes it here.
    void writeOpen();
    bool isOpen() const { return open; }

    // The logger's level words, by index.
    enum Level { kInfo = 0, kError = 1, kWarning = 2, kDebug = 3 };
    CLogLine& level(Level level, const char* text, const bool& lineEnd);

private:
    CLogLine& signedNumber(long long value);
    CLogLine& unsignedNumber(unsigned long long value);
    // A text field of fixed width, up to its first zero byte.
    CLogLine& field(const char* text, std::size_t width);
    void append(const char* text, std::size_t length);
    void writeOut();

    const CLogH& log;
    bool open = false;
    std::size_t length = 0;
    char buffer[kCapacity];
};
