#include "common/CDecimalOutput.h"

#include <iostream>

CDecimalOutput::CDecimalOutput() : flags(std::cout.flags())
{
    std::cout.setf(std::ios_base::dec, std::ios_base::basefield);
    std::cout.unsetf(std::ios_base::showpos | std::ios_base::showbase);
    std::cout.width(0);
}

CDecimalOutput::~CDecimalOutput()
{
    std::cout.flags(flags);
}
