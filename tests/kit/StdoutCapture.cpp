#include "kit/StdoutCapture.h"

#include "kit/TempFile.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#define DUP _dup
#define DUP2 _dup2
#define CLOSE _close
#else
#include <fcntl.h>
#include <unistd.h>
#define DUP dup
#define DUP2 dup2
#define CLOSE close
#endif

namespace kit {

StdoutCapture::StdoutCapture() : path_(temporaryPath())
{
    std::cout.flush();
    std::fflush(stdout);
    savedFd_ = DUP(1);
#if defined(_WIN32)
    const int fd = ::_open(path_.c_str(), _O_WRONLY | _O_TRUNC | _O_CREAT | _O_BINARY, 0600);
#else
    const int fd = ::open(path_.c_str(), O_WRONLY | O_TRUNC | O_CREAT, 0600);
#endif
    if (savedFd_ < 0 || fd < 0) {
        throw std::runtime_error("cannot capture standard output");
    }
    DUP2(fd, 1);
    CLOSE(fd);
}

StdoutCapture::~StdoutCapture()
{
    finish();
}

void StdoutCapture::finish()
{
    if (finished_) {
        return;
    }
    finished_ = true;
    std::cout.flush();
    std::fflush(stdout);
    DUP2(savedFd_, 1);
    CLOSE(savedFd_);
    std::ifstream input(path_, std::ios::binary);
    std::ostringstream content;
    content << input.rdbuf();
    text_ = content.str();
    input.close();
    std::remove(path_.c_str());
}

std::string StdoutCapture::text()
{
    finish();
    return text_;
}

std::vector<std::string> StdoutCapture::lines()
{
    finish();
    std::vector<std::string> result;
    std::string current;
    for (char c : text_) {
        if (c == '\n') {
            if (!current.empty() && current.back() == '\r') {
                current.pop_back();
            }
            result.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty()) {
        result.push_back(current);
    }
    return result;
}

}  // namespace kit
