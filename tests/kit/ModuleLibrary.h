#pragma once
// Host side of the test kit: loads the real module (libvantrel.so or
// vantrel.dll) the way a host does, and finds its exported functions.
#include <string>

#include "vantrel/CBase.h"

namespace kit {

class ModuleLibrary {
public:
    explicit ModuleLibrary(const std::string& path);
    ~ModuleLibrary();
    ModuleLibrary(const ModuleLibrary&) = delete;
    ModuleLibrary& operator=(const ModuleLibrary&) = delete;

    bool loaded() const { return handle_ != nullptr; }
    void* symbol(const char* name) const;
    CreateDevFunction createDev() const { return reinterpret_cast<CreateDevFunction>(symbol("createDev")); }
    DeleteDevFunction deleteDev() const { return reinterpret_cast<DeleteDevFunction>(symbol("deleteDev")); }

private:
    void* handle_ = nullptr;
};

// Path of the module built next to the tests.
std::string modulePath();

}  // namespace kit
