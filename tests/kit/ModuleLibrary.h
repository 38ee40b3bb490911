#pragma once
// Host side of the test kit: loads the real module (libvantrel.so or
// vantrel.dll) the way the host program does.
#include <string>

#include "host/ModuleLibrary.h"

namespace kit {

using ModuleLibrary = host::ModuleLibrary;

// Path of the module built next to the tests.
std::string modulePath();

}  // namespace kit
