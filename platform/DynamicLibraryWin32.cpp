#include "platform/DynamicLibrary.h"

#include <windows.h>

namespace platform {

OsHandle loadLibrary(const char* name)
{
    return reinterpret_cast<OsHandle>(::LoadLibraryA(name));
}

void libraryErrorText(char* text, std::size_t size)
{
    systemErrorText(::GetLastError(), text, size);
}

ProcAddress findProcAddress(OsHandle library, const char* name)
{
    return reinterpret_cast<ProcAddress>(::GetProcAddress(static_cast<HMODULE>(library), name));
}

void freeLibrary(OsHandle library)
{
    ::FreeLibrary(static_cast<HMODULE>(library));
}

}  // namespace platform
