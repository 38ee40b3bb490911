#include "common/OptionLine.h"

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "common/CLogH.h"
#include "common/CLogLine.h"

int keywordEquals(const char* first, const char* second)
{
    const auto* a = reinterpret_cast<const unsigned char*>(first != nullptr ? first : "");
    const auto* b = reinterpret_cast<const unsigned char*>(second != nullptr ? second : "");
    for (;; ++a, ++b) {
        const int left = std::tolower(*a);
        const int right = std::tolower(*b);
        if (left != right) {
            return left < right ? -1 : 1;
        }
        if (left == 0) {
            return 0;
        }
    }
}

std::int32_t parseInteger(const char* text)
{
    if (text == nullptr) {
        return 0;
    }
    // long is 32 bits on the Windows target, where strtol saturates; do the
    // same where long is wider so both targets read the same number.
    const long value = std::strtol(text, nullptr, 0);
    if (value > INT32_MAX) {
        return INT32_MAX;
    }
    if (value < INT32_MIN) {
        return INT32_MIN;
    }
    return static_cast<std::int32_t>(value);
}

std::uint32_t optionLineCount(const ConfigBlock& block)
{
    return block.lineCount < kMaxOptionLines ? block.lineCount : kMaxOptionLines;
}

std::uint32_t optionArgCount(const OptionLine& line)
{
    return line.argCount < kMaxOptionArgs ? line.argCount : kMaxOptionArgs;
}

std::uint32_t deviceArgCount(const ConfigBlock& block)
{
    return block.argCount < kMaxOptionArgs ? block.argCount : kMaxOptionArgs;
}

const char* optionArg(const OptionLine& line, std::uint32_t index)
{
    if (index >= optionArgCount(line) || line.args[index] == nullptr) {
        return "";
    }
    return line.args[index];
}

char* copyOptionText(const char* text)
{
    const char* source = text != nullptr ? text : "";
    const std::size_t length = std::strlen(source);
    char* copy = new char[length + 1];
    std::memcpy(copy, source, length + 1);
    return copy;
}

void replaceText(char*& text, const char* source)
{
    char* copy = copyOptionText(source);
    delete[] text;
    text = copy;
}

void reportOptionProblem(const CLogH& log, const char* prefix, const char* phrase, const char* displayName,
                         std::uint32_t lineNumber, const char* ending)
{
    CLogLine line(log);
    line.error(prefix, false) << phrase << displayName << lineNumber << ending;
    line.end();
}
