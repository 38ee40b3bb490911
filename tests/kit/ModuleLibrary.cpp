#include "kit/ModuleLibrary.h"

namespace kit {

std::string modulePath()
{
    return VANTREL_MODULE_PATH;
}

}  // namespace kit
