#include "ModuleLibrary.h"

#include "platform/DynamicLibrary.h"

namespace host {

ModuleLibrary::ModuleLibrary(const std::string& path) : handle_(platform::loadLibrary(path.c_str()))
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

}  // namespace host
