#pragma once
// A device library (libvantrel.so, vantrel.dll) loaded the way a host loads
// it, with its two exported functions.
#include <string>

#include "vantrel/CBase.h"

namespace host {

class ModuleLibrary {
public:
    explicit ModuleLibrary(const std::string& path);
    ~ModuleLibrary();
    ModuleLibrary(const ModuleLibrary&) = delete;
    ModuleLibrary& operator=(const ModuleLibrary&) = delete;

    bool loaded() const { return handle_ != nullptr; }
    // Why it could not be loaded (the system's words); empty when loaded.
    const std::string& loadError() const { return loadError_; }
    // What keeps it from serving as the module, with what to do: not loaded,
    // or without createDev and deleteDev. Empty when it serves.
    std::string problem() const;
    // Null when the library is not loaded or does not export the name.
    void* symbol(const char* name) const;
    CreateDevFunction createDev() const { return reinterpret_cast<CreateDevFunction>(symbol("createDev")); }
    DeleteDevFunction deleteDev() const { return reinterpret_cast<DeleteDevFunction>(symbol("deleteDev")); }

private:
    std::string path_;
    void* handle_ = nullptr;
    std::string loadError_;
};

}  // namespace host
