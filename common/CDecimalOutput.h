#pragma once
// For as long as it lives, standard output writes integers in plain decimal:
// the classic locale (no digit grouping), no sign or base prefix and no
// pending field width; the host's locale and format (flags, precision, width
// and fill) are given back afterwards. The logger writes its own parts
// unformatted and leaves the stream's state alone; a caller that continues a
// line with numbers holds one from before the logger's part to the line end,
// so that a host's own settings of the stream change neither the module's
// lines nor, afterwards, the host's.
#include <ios>
#include <locale>

class CDecimalOutput {
public:
    CDecimalOutput();
    ~CDecimalOutput();
    CDecimalOutput(const CDecimalOutput&) = delete;
    CDecimalOutput& operator=(const CDecimalOutput&) = delete;

private:
    std::ios_base::fmtflags flags;
    std::streamsize precision;
    std::streamsize width;
    char fill;
    std::locale locale;
};
