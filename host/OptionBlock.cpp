#include "OptionBlock.h"

#include "ModuleKeyword.h"


namespace host {

OptionBlock::Limit OptionBlock::setDeviceLine(std::uint32_t number, const std::string& name,
                                              const std::vector<std::string>& args)
{
    block_.lineNumber = number;
    block_.deviceName = keep(name);
    block_.argCount = 0;
    for (const std::string& arg : args) {
        if (block_.argCount == kMaxOptionArgs) {
            return Limit::TooManyArgs;
        }
        block_.args[block_.argCount++] = keep(arg);
    }
    return Limit::Kept;
}

OptionBlock::Limit OptionBlock::addOptionLine(std::uint32_t number, const std::string& keyword,
                                              const std::vector<std::string>& args)
{
    if (block_.lineCount == kMaxOptionLines) {
        return Limit::TooManyLines;
    }
    if (args.size() > kMaxOptionArgs) {
        return Limit::TooManyArgs;
    }
    OptionLine& option = block_.lines[block_.lineCount++];
    option.lineNumber = number;
    option.keyword = keep(keyword);
    for (const std::string& arg : args) {
        option.args[option.argCount++] = keep(arg);
    }
    return Limit::Kept;
}

std::uint32_t OptionBlock::consumedCount() const
{
    std::uint32_t count = 0;
    for (std::uint32_t i = 0; i < block_.lineCount && i < kMaxOptionLines; ++i) {
        count += block_.lines[i].consumed != 0 ? 1 : 0;
    }
    return count;
}

void OptionBlock::clearConsumed()
{
    for (std::uint32_t i = 0; i < block_.lineCount && i < kMaxOptionLines; ++i) {
        block_.lines[i].consumed = 0;
    }
}

std::string OptionBlock::argumentOf(const char* keyword) const
{
    const OptionLine* line = lastOptionLine(block_, keyword);
    return line != nullptr && line->argCount > 0 ? line->args[0] : std::string();
}

const OptionLine* lastOptionLine(const ConfigBlock& block, const char* keyword, const std::set<std::uint32_t>& leftOut)
{
    const ModuleKeyword* wanted = findModuleKeyword(keyword);
    const OptionLine* last = nullptr;
    for (std::uint32_t l = 0; wanted != nullptr && l < block.lineCount && l < kMaxOptionLines; ++l) {
        const OptionLine& line = block.lines[l];
        if (line.keyword != nullptr && leftOut.count(line.lineNumber) == 0 &&
            findModuleKeyword(line.keyword) == wanted) {
            last = &line;
        }
    }
    return last;
}

const char* OptionBlock::keep(const std::string& word)
{
    strings_.push_back(word);
    return strings_.back().c_str();
}

}  // namespace host
