#include "ModuleLibrary.h"

#include "platform/DynamicLibrary.h"

namespace host {

ModuleLibrary::ModuleLibrary(const std::string& path) : path_(path), handle_(platform::loadLibrary(path.c_str()))
{
    if (handle_ == nullptr) {
        char reason[512];
        platform::libraryErrorText(reason, sizeof reason);
        loadError_ = reason;
    }
}

ModuleLibrary::~ModuleLibrary()
{
    if (handle_ != nullptr) {
        platform::freeLibrary(handle_);
    }
}

void* ModuleLibrary::symbol(const char* name) const
{
    if (handle_ == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<void*>(platform::findProcAddress(handle_, name));
}

std::string ModuleLibrary::problem() const
{
    if (!loaded()) {
        return "cannot load library \"" + path_ + "\" (" + loadError_ +
               "): give the module's path, absolute or from the file's folder";
    }
    if (createDev() == nullptr || deleteDev() == nullptr) {
        return "library \"" + path_ + "\" does not export createDev and deleteDev: give the path of the vantrel module";
    }
    return std::string();
}

}  // namespace host
