#include "platform/DynamicLibrary.h"

#include <cstdio>
#include <dlfcn.h>

namespace platform {

OsHandle loadLibrary(const char* name)
{
    return ::dlopen(name, RTLD_NOW | RTLD_LOCAL);
}

void libraryErrorText(char* text, std::size_t size)
{
    const char* reason = ::dlerror();
    std::snprintf(text, size, "%s", reason != nullptr ? reason : "no reason given");
}

ProcAddress findProcAddress(OsHandle library, const char* name)
{
    // POSIX guarantees that a function's address survives the round trip
    // through void*.
    return reinterpret_cast<ProcAddress>(::dlsym(library, name));
}

void freeLibrary(OsHandle library)
{
    ::dlclose(library);
}

}  // namespace platform
