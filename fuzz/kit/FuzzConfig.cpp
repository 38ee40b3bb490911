#include "kit/FuzzConfig.h"

#include <cstdlib>
#include <vector>

#include "common/OptionLine.h"

namespace fuzzkit {

namespace {

bool separates(std::uint8_t byte)
{
    return byte == ' ' || byte == '\t' || byte == '\0';
}

// Prefix of every library name that must not load: a folder that no system
// has.
const char* const kMissingFolder = "/nonexistent/vantrel-fuzz/";

}  // namespace

FuzzConfig::FuzzConfig(const std::uint8_t* data, std::size_t size, std::uint32_t reservedLines)
{
    const std::uint32_t lineLimit = reservedLines < kMaxOptionLines ? kMaxOptionLines - reservedLines : 0;
    bool haveDeviceLine = false;
    std::uint32_t number = 1;
    std::vector<std::string> words;
    std::size_t at = 0;
    while (at < size) {
        words.clear();
        std::string word;
        for (; at < size && data[at] != '\n'; ++at) {
            if (separates(data[at])) {
                if (!word.empty()) {
                    words.push_back(word);
                    word.clear();
                }
            } else {
                word += static_cast<char>(data[at]);
            }
        }
        if (!word.empty()) {
            words.push_back(word);
        }
        ++at;  // the line end
        const std::uint32_t lineNumber = number++;
        if (words.empty()) {
            continue;
        }
        if (!haveDeviceLine) {
            haveDeviceLine = true;
            block_.lineNumber = lineNumber;
            block_.deviceName = keep(words[0]);
            for (std::size_t i = 1; i < words.size() && block_.argCount < kMaxOptionArgs; ++i) {
                block_.args[block_.argCount++] = keep(words[i]);
            }
            continue;
        }
        if (block_.lineCount == lineLimit) {
            break;
        }
        OptionLine& option = block_.lines[block_.lineCount++];
        option.lineNumber = lineNumber;
        option.keyword = keep(words[0]);
        for (std::size_t i = 1; i < words.size() && option.argCount < kMaxOptionArgs; ++i) {
            option.args[option.argCount++] = keep(words[i]);
        }
    }
    if (!haveDeviceLine) {
        block_.deviceName = keep("");
    }
}

unsigned long FuzzConfig::deviceNumber(std::uint32_t index, unsigned long fallback) const
{
    if (index >= block_.argCount) {
        return fallback;
    }
    return std::strtoul(block_.args[index], nullptr, 0);
}

void FuzzConfig::appendLine(const char* keyword, const char* argument)
{
    if (block_.lineCount == kMaxOptionLines) {
        return;
    }
    const std::uint32_t previous = block_.lineCount == 0 ? block_.lineNumber : block_.lines[block_.lineCount - 1].lineNumber;
    OptionLine& option = block_.lines[block_.lineCount++];
    option.lineNumber = previous + 1;
    option.keyword = keep(keyword);
    option.args[option.argCount++] = keep(argument);
}

void FuzzConfig::redirectCalibrationLibraries(const char* testLibraryPath)
{
    for (std::uint32_t i = 0; i < block_.lineCount; ++i) {
        OptionLine& option = block_.lines[i];
        if (option.argCount == 0 ||
            (keywordEquals(option.keyword, "calibration") != 0 && keywordEquals(option.keyword, "calib") != 0)) {
            continue;
        }
        if (keywordEquals(option.args[0], "testcalib") == 0) {
            option.args[0] = keep(testLibraryPath);
        } else {
            option.args[0] = keep(std::string(kMissingFolder) + option.args[0]);
        }
    }
}

const char* FuzzConfig::keep(std::string text)
{
    strings_.push_back(std::move(text));
    return strings_.back().c_str();
}

}  // namespace fuzzkit
