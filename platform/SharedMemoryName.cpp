#include <cstdio>
#include <cstring>

#include "platform/SharedMemory.h"

namespace platform {

const char* sharedMemoryNameProblem(const char* name, char* text, std::size_t size)
{
    if (name == nullptr || name[0] == '\0' || (name[0] == '/' && name[1] == '\0')) {
        return "is empty";
    }
    const char* own = name[0] == '/' ? name + 1 : name;
    if (std::strchr(own, '/') != nullptr) {
        return "holds a \"/\" after its first character";
    }
    if (std::strchr(own, '\\') != nullptr) {
        return "holds a \"\\\"";
    }
    if (std::strcmp(own, ".") == 0 || std::strcmp(own, "..") == 0) {
        return "is \".\" or \"..\"";
    }
    if (std::strlen(own) > sharedMemoryNameLimit()) {
        std::snprintf(text, size, "is longer than %lu characters", static_cast<unsigned long>(sharedMemoryNameLimit()));
        return text;
    }
    return nullptr;
}

}  // namespace platform
