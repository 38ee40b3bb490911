#pragma once
// Captures everything written to the process's standard output (file
// descriptor 1) while it lives, including what a loaded module writes through
// its own copy of the C++ runtime.
#include <string>
#include <vector>

namespace kit {

class StdoutCapture {
public:
    StdoutCapture();
    ~StdoutCapture();
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;

    // Stops capturing (once) and returns everything captured.
    std::string text();
    // The captured text split at line ends (a last unterminated line counts).
    std::vector<std::string> lines();

private:
    void finish();

    int savedFd_ = -1;
    std::string path_;
    std::string text_;
    bool finished_ = false;
};

}  // namespace kit
