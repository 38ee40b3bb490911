#pragma once
// For as long as it lives, standard output writes integers in decimal, with
// no sign or base prefix and no pending field width; the host's format
// (flags, precision, width and fill) is given back afterwards. Everything
// that writes numbers after a log header uses it, so that a host's own
// settings of the stream change neither the module's lines nor, afterwards,
// the host's.
#include <ios>

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
};
