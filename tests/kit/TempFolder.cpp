#include "kit/TempFolder.h"

#include <filesystem>
#include <system_error>

namespace kit {

TempFolder::TempFolder() : marker(""), path(marker.path() + ".d")
{
    std::filesystem::create_directory(path);
}

TempFolder::~TempFolder()
{
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

}  // namespace kit
