#pragma once
// Loading of dynamic libraries at run time and finding their entry points:
// LoadLibraryA / GetProcAddress / FreeLibrary on Windows, dlopen / dlsym /
// dlclose elsewhere.
#include <cstddef>

#include "platform/Platform.h"

namespace platform {

// An entry point of a loaded library, to be cast to its real type.
using ProcAddress = void (*)();

// Loads the library by name (the system's search rules apply); null when it
// cannot be loaded.
OsHandle loadLibrary(const char* name);

// Why the calling thread's last loadLibrary failed, as the loader says it,
// into text (zero-terminated, cut to size).
void libraryErrorText(char* text, std::size_t size);

// The named entry point of a loaded library; null when it is not exported.
ProcAddress findProcAddress(OsHandle library, const char* name);

// Unloads a library that loadLibrary returned.
void freeLibrary(OsHandle library);

}  // namespace platform
