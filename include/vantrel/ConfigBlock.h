#pragma once
// The host's configuration record for one device: the device line and up to
// 32 option lines, each tagged with the line number it came from in the host's
// configuration file. The module reads the record and writes only the
// `consumed` bytes. Whatever counts the host passes, the module reads at most
// 32 option lines and 64 arguments per line.
#include <cstddef>
#include <cstdint>

constexpr std::uint32_t kMaxOptionLines = 32;
constexpr std::uint32_t kMaxOptionArgs = 64;

struct OptionLine {
    std::uint32_t lineNumber;           // printed by every diagnostic
    const char* keyword;
    const char* args[kMaxOptionArgs];   // argument strings in the order of the line
    std::uint32_t argCount;             // valid entries in args, 0..64
    std::uint8_t consumed;              // 0 when handed over, 1 once a parser took the line
    std::uint8_t padding[3];
};

struct ConfigBlock {
    std::uint32_t lineNumber;           // line number of the device line
    const char* deviceName;
    std::uint32_t reserved0;            // not read by the module
    const char* args[kMaxOptionArgs];   // device line arguments; args[0] = number of units
    std::uint32_t argCount;
    std::uint32_t reserved1;            // not read by the module
    OptionLine lines[kMaxOptionLines];
    std::uint32_t lineCount;            // valid option lines, 0..32
};

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(OptionLine) == 272, "OptionLine must be 272 bytes");
static_assert(offsetof(OptionLine, keyword) == 4, "OptionLine layout");
static_assert(offsetof(OptionLine, args) == 8, "OptionLine layout");
static_assert(offsetof(OptionLine, argCount) == 264, "OptionLine layout");
static_assert(offsetof(OptionLine, consumed) == 268, "OptionLine layout");
static_assert(sizeof(ConfigBlock) == 8984, "ConfigBlock must be 8984 bytes");
static_assert(offsetof(ConfigBlock, deviceName) == 4, "ConfigBlock layout");
static_assert(offsetof(ConfigBlock, args) == 12, "ConfigBlock layout");
static_assert(offsetof(ConfigBlock, argCount) == 268, "ConfigBlock layout");
static_assert(offsetof(ConfigBlock, lines) == 276, "ConfigBlock layout");
static_assert(offsetof(ConfigBlock, lineCount) == 8980, "ConfigBlock layout");
#endif
