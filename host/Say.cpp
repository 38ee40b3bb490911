#include "Say.h"

#include <iostream>

namespace host {

void say(const std::string& text)
{
    std::cout.flush();
    std::cerr << "vantrel-host: " << text << std::endl;
}

}  // namespace host
