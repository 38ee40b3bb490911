#include "ConfigFile.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "vantrel/SharedStorages.h"

namespace host {

namespace {

// What the host reads as a configuration file at most: a longer file or line
// is something else (or endless, such as /dev/zero).
constexpr std::size_t kMaxFileSize = 1024 * 1024;
constexpr std::size_t kMaxLineSize = 64 * 1024;
// Device names as the shared storages' device table keeps them.
constexpr std::size_t kMaxDeviceName = kSharedDeviceNameSize - 1;

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r';
}

// Splits a line into words; false when a quote is left open.
bool splitWords(const std::string& row, std::vector<std::string>& words)
{
    std::size_t i = 0;
    while (i < row.size()) {
        while (i < row.size() && isBlank(row[i])) {
            ++i;
        }
        if (i == row.size() || row[i] == '#') {
            return true;
        }
        std::string word;
        while (i < row.size() && !isBlank(row[i]) && row[i] != '#') {
            if (row[i] == '"') {
                const std::size_t close = row.find('"', i + 1);
                if (close == std::string::npos) {
                    return false;
                }
                word.append(row, i + 1, close - i - 1);
                i = close + 1;
            } else {
                word += row[i++];
            }
        }
        words.push_back(word);
    }
    return true;
}

// A keyword, in any case of letters.
bool isKeyword(const std::string& word, const char* keyword)
{
    if (word.size() != std::strlen(keyword)) {
        return false;
    }
    for (std::size_t i = 0; i < word.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(word[i])) != keyword[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool ConfigFile::read(const std::string& path)
{
    fileName_ = path;
    devices_.clear();
    std::error_code failure;
    if (std::filesystem::is_directory(path, failure)) {
        errors_.assign(1, path + ": is a folder: give the path of a configuration file in it");
        return false;
    }
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        errors_.assign(1, path + ": cannot read the file: " + std::strerror(errno) +
                              ": give the path of a configuration file");
        return false;
    }
    // At most one byte more than a configuration file may hold: /dev/zero
    // and the like are refused without being read to their end.
    std::string text;
    char buffer[4096];
    for (std::size_t got; text.size() <= kMaxFileSize && (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;) {
        text.append(buffer, got);
    }
    const bool failed = std::ferror(file) != 0;
    const int reason = errno;
    std::fclose(file);
    if (failed) {
        errors_.assign(1, path + ": cannot read the file: " + std::strerror(reason) +
                              ": give the path of a configuration file");
        return false;
    }
    if (text.size() > kMaxFileSize) {
        errors_.assign(1, path + ": more than 1 MiB: not a configuration file");
        return false;
    }
    return parse(text, path);
}

bool ConfigFile::parse(const std::string& text, const std::string& fileName)
{
    fileName_ = fileName;
    // Relative libraries are the folder's: the loader gets full paths only,
    // and searches nowhere.
    std::error_code failure;
    folder_ = std::filesystem::absolute(std::filesystem::path(fileName), failure).parent_path().string();
    if (failure) {
        folder_.clear();
    }
    devices_.clear();
    errors_.clear();
    // An editor's byte order mark (UTF-8) is no part of the first word.
    static const char kByteOrderMark[] = "\xEF\xBB\xBF";
    const bool marked = text.compare(0, sizeof kByteOrderMark - 1, kByteOrderMark) == 0;
    std::istringstream input(marked ? text.substr(sizeof kByteOrderMark - 1) : text);
    std::string row;
    std::uint32_t number = 0;
    while (std::getline(input, row)) {
        if (row.size() > kMaxLineSize) {
            errors_.push_back(where(++number, "a line of more than " + std::to_string(kMaxLineSize) + " bytes"));
            continue;
        }
        parseLine(++number, row);
    }
    if (devices_.empty() && errors_.empty()) {
        errors_.push_back(fileName_ + ": no device line: begin each device's block with the line device NAME "
                                      "LIBRARY [ARGUMENT...]");
    }
    return errors_.empty();
}

bool readPrediction(const std::string& text, double& milliseconds)
{
    const char* begin = text.c_str();
    char* end = nullptr;
    const double value = std::strtod(begin, &end);
    // Also "nan", which fails every comparison.
    if (text.empty() || end == begin || *end != '\0' || !(value >= 0.0 && value <= kLongestPrediction)) {
        return false;
    }
    milliseconds = value;
    return true;
}

bool ConfigFile::takeHostLine(std::uint32_t number, const std::vector<std::string>& words)
{
    if (!isKeyword(words[0], "predict")) {
        return false;
    }
    DeviceConfig& device = devices_.back();
    if (words.size() != 2 || !readPrediction(words[1], device.predict)) {
        const std::string given = words.size() < 2 ? "no number" : "\"" + words[1] + "\"" + (words.size() > 2 ? " ..." : "");
        errors_.push_back(where(number, "predict wants how far ahead to publish the device's poses, in milliseconds "
                                        "from 0 to 100 (predict MILLISECONDS), not " +
                                            given));
    }
    return true;
}

std::string ConfigFile::where(std::uint32_t line, const std::string& text) const
{
    return fileName_ + ":" + std::to_string(line) + ": " + text;
}

void ConfigFile::parseLine(std::uint32_t number, const std::string& row)
{
    std::vector<std::string> words;
    if (!splitWords(row, words)) {
        errors_.push_back(where(number, "unterminated quote: close it with a second \""));
        return;
    }
    if (words.empty()) {
        return;
    }
    if (isKeyword(words[0], "device")) {
        if (words.size() < 3) {
            errors_.push_back(where(number, "a device line needs a name and a library: device NAME LIBRARY [ARGUMENT...]"));
            // The option lines that follow belong to no device we keep.
            devices_.emplace_back();
            devices_.back().line = number;
            devices_.back().options = std::make_unique<OptionBlock>();
            return;
        }
        DeviceConfig device;
        device.name = words[1];
        device.library = words[2];
        if (device.name.size() > kMaxDeviceName) {
            errors_.push_back(where(number, "a device name of " + std::to_string(device.name.size()) +
                                                " bytes; at most " + std::to_string(kMaxDeviceName)));
        }
        const std::filesystem::path library(words[2]);
        if (library.is_absolute()) {
            device.libraryPath = words[2];
        } else if (!folder_.empty()) {
            device.libraryPath = (std::filesystem::path(folder_) / library).string();
        } else {
            errors_.push_back(where(number, "the library \"" + words[2] +
                                                "\" is relative, and the file's folder cannot be told"));
        }
        device.line = number;
        device.options = std::make_unique<OptionBlock>();
        const std::vector<std::string> args(words.begin() + 3, words.end());
        if (device.options->setDeviceLine(number, device.name, args) != OptionBlock::Limit::Kept) {
            errors_.push_back(
                where(number, "more than 64 arguments on the device line: the module takes 64; remove the rest"));
        }
        for (const DeviceConfig& other : devices_) {
            if (!other.library.empty() && other.name == device.name) {
                errors_.push_back(where(number, "a second device named \"" + device.name + "\" (the first is at line " +
                                                    std::to_string(other.line) +
                                                    "): give each device a name of its own"));
            }
        }
        devices_.push_back(std::move(device));
        deviceTooLong_ = false;
        return;
    }
    if (devices_.empty()) {
        errors_.push_back(where(number, "option \"" + words[0] +
                                            "\" before the first device line: put the line device NAME LIBRARY "
                                            "[ARGUMENT...] above it"));
        return;
    }
    if (takeHostLine(number, words)) {
        return;
    }
    DeviceConfig& device = devices_.back();
    const std::vector<std::string> args(words.begin() + 1, words.end());
    switch (device.options->addOptionLine(number, words[0], args)) {
    case OptionBlock::Limit::TooManyLines:
        if (!deviceTooLong_) {
            errors_.push_back(where(number, "more than 32 option lines for device \"" + device.name +
                                                "\": the module takes 32; remove this line and the device's lines "
                                                "after it"));
            deviceTooLong_ = true;
        }
        break;
    case OptionBlock::Limit::TooManyArgs:
        errors_.push_back(where(number, "more than 64 arguments for option \"" + words[0] +
                                            "\": the module takes 64; remove the rest"));
        break;
    case OptionBlock::Limit::Kept:
        break;
    }
}

}  // namespace host
