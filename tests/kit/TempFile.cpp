#include "kit/TempFile.h"

#include <cstdio>
#include <fstream>

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace kit {

std::string temporaryPath()
{
#if defined(_WIN32)
    char directory[MAX_PATH];
    char name[MAX_PATH];
    ::GetTempPathA(MAX_PATH, directory);
    ::GetTempFileNameA(directory, "vtc", 0, name);
    return name;
#else
    char name[] = "/tmp/vantrel-test-XXXXXX";
    const int fd = ::mkstemp(name);
    if (fd >= 0) {
        ::close(fd);
    }
    return name;
#endif
}

TempFile::TempFile(const std::string& content) : path_(temporaryPath())
{
    std::ofstream file(path_, std::ios::binary | std::ios::trunc);
    file << content;
}

TempFile::~TempFile()
{
    std::remove(path_.c_str());
}

}  // namespace kit
