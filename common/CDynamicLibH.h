#pragma once
// Handle for one dynamic library that a driver loads by name at run time. It
// loads and unloads the library and finds entry points by name, with a small
// cache addressed by slot numbers through which each entry point is looked up
// at most once per loaded library.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/DynamicLibrary.h"

class CLogH;

class CDynamicLibH {
public:
    using ProcAddress = platform::ProcAddress;

    // One cache entry: the entry point (null when missing or not looked up
    // yet) and whether it has been looked up.
    struct ProcSlot {
        ProcAddress address;
        std::uint32_t lookedUp;
    };

    // Highest slot number plus one that the cache accepts.
    static constexpr std::uint32_t kMaxSlots = 32;

    // Loads the library when a name is given (a failure shows later on every
    // look-up). The logger is a copy of log, or one named "CDynamicLibH".
    CDynamicLibH(const char* libraryName, const CLogH* log);
    virtual ~CDynamicLibH();
    CDynamicLibH(const CDynamicLibH&) = delete;
    CDynamicLibH& operator=(const CDynamicLibH&) = delete;

    // False with an ERROR for a missing name or an unloadable library; false
    // without a message while a library is loaded.
    bool load(const char* name);
    // The named entry point of the loaded library, null when it is missing.
    ProcAddress getProcAddr(const char* name);
    // As getProcAddr, looked up once per slot; the same slot must always be
    // used with the same name.
    ProcAddress getProcAddrCached(const char* name, std::uint32_t slot);
    // Unloads the library, if any, and forgets every slot. Always true.
    bool unload();

    bool isLoaded() const { return libraryHandle != nullptr; }
    std::size_t procCacheSize() const { return procCache.size(); }
    // Entry slot of the cache; slot must be below procCacheSize().
    const ProcSlot& procSlot(std::size_t slot) const { return procCache[slot]; }

protected:
    platform::OsHandle libraryHandle;
    bool ownsLog;
    std::vector<ProcSlot> procCache;
    CLogH* log;
};
