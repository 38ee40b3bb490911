#include "common/CDynamicLibH.h"

#include "common/CLogH.h"
#include "common/CLogLine.h"

CDynamicLibH::CDynamicLibH(const char* libraryName, const CLogH* givenLog)
    : libraryHandle(nullptr), ownsLog(true), procCache(), log(nullptr)
{
    if (givenLog != nullptr) {
        log = new CLogH(*givenLog);
    } else {
        log = new CLogH();
        log->setName("CDynamicLibH");
    }
    log->setDebugCategory(3);
    log->debug("CDynamicLibH: \"constructor\" called.");
    log->debug("CDynamicLibH: \"init\" called.");
    if (libraryName != nullptr) {
        load(libraryName);
    }
}

CDynamicLibH::~CDynamicLibH()
{
    log->debug("CDynamicLibH: \"destructor\" called.");
    unload();
    if (ownsLog) {
        delete log;
    }
}

bool CDynamicLibH::load(const char* name)
{
    log->debug("CDynamicLibH: \"load\" called.");
    if (name == nullptr || name[0] == '\0') {
        log->error("CDynamicLibH: Library name is empty.");
        return false;
    }
    if (libraryHandle != nullptr) {
        return false;
    }
    libraryHandle = platform::loadLibrary(name);
    if (libraryHandle == nullptr) {
        CLogLine line(*log);
        line.error("CDynamicLibH: Can not load the library ", false) << name;
        line.end();
        return false;
    }
    CLogLine line(*log);
    line.debug("CDynamicLibH: ", false) << name << " library loaded.";
    line.end();
    return true;
}

CDynamicLibH::ProcAddress CDynamicLibH::getProcAddr(const char* name)
{
    log->debug("CDynamicLibH: \"getProcAddr\" called.");
    if (libraryHandle == nullptr) {
        log->error("CDynamicLibH: Library has not been loaded.");
        return nullptr;
    }
    return platform::findProcAddress(libraryHandle, name);
}

CDynamicLibH::ProcAddress CDynamicLibH::getProcAddrCached(const char* name, std::uint32_t slot)
{
    log->debug("CDynamicLibH: \"getProcAddrCached\" called.");
    if (libraryHandle == nullptr) {
        log->error("CDynamicLibH: Library has not been loaded.");
        return nullptr;
    }
    if (slot >= kMaxSlots) {
        // A slot number is the caller's constant; a wild one would make the
        // cache grow without bound (or wrap around at the top of the range).
        log->error("CDynamicLibH: Slot number out of range.");
        return nullptr;
    }
    if (procCache.size() < slot + 1u) {
        procCache.resize(slot + 1u, ProcSlot{nullptr, 0});
    }
    ProcSlot& entry = procCache[slot];
    if (entry.address == nullptr && entry.lookedUp == 0) {
        entry.lookedUp = 1;
        entry.address = getProcAddr(name);
    }
    return entry.address;
}

bool CDynamicLibH::unload()
{
    log->debug("CDynamicLibH: \"unload\" called.");
    if (libraryHandle != nullptr) {
        platform::freeLibrary(libraryHandle);
        libraryHandle = nullptr;
    }
    std::vector<ProcSlot>().swap(procCache);
    return true;
}
