#pragma once
// Host side of the test kit: a folder of a test's own in the system's
// temporary directory.
#include <string>

#include "kit/TempFile.h"

namespace kit {

// A new, empty folder, removed with everything in it when the object goes.
struct TempFolder {
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    TempFile marker;  // its name is the folder's, without ".d"
    std::string path;
};

}  // namespace kit
