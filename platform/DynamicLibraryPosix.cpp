#include "platform/DynamicLibrary.h"

#include <dlfcn.h>

namespace platform {

OsHandle loadLibrary(const char* name)
{
    return ::dlopen(name, RTLD_NOW | RTLD_LOCAL);
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
