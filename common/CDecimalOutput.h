#pragma once
// For as long as it lives, standard output writes integers in decimal, with
// no sign or base prefix and no pending field width; the host's flags are
// given back afterwards. Lines that carry numbers (line
// numbers, addresses, counts) use it, so that a host's own settings of the
// stream change neither the module's lines nor, afterwards, the host's.
#include <ios>

class CDecimalOutput {
public:
    CDecimalOutput();
    ~CDecimalOutput();
    CDecimalOutput(const CDecimalOutput&) = delete;
    CDecimalOutput& operator=(const CDecimalOutput&) = delete;

private:
    std::ios_base::fmtflags flags;
};
