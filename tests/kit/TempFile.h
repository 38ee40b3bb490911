#pragma once
// Host side of the test kit: files in the system's temporary directory.
#include <string>

namespace kit {

// Path of a new, empty file of its own in the temporary directory.
std::string temporaryPath();

// A temporary file with the given content, removed when the object goes.
class TempFile {
public:
    explicit TempFile(const std::string& content);
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    const std::string& path() const { return path_; }

private:
    std::string path_;
};

}  // namespace kit
