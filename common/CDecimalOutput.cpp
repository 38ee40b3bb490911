#include "common/CDecimalOutput.h"

#include <iostream>

CDecimalOutput::CDecimalOutput()
    : flags(std::cout.flags()),
      precision(std::cout.precision()),
      width(std::cout.width()),
      fill(std::cout.fill()),
      locale(std::cout.imbue(std::locale::classic()))
{
    std::cout.setf(std::ios_base::dec, std::ios_base::basefield);
    std::cout.unsetf(std::ios_base::showpos | std::ios_base::showbase);
    std::cout.width(0);
}

CDecimalOutput::~CDecimalOutput()
{
    std::cout.imbue(locale);
    std::cout.flags(flags);
    std::cout.precision(precision);
    std::cout.width(width);
    std::cout.fill(fill);
}
