#include "driver/CDeviceOptions.h"

#include <cstddef>

#include "common/CLogH.h"
#include "common/OptionLine.h"

namespace {

const char* const kPrefix = "CVantrel: ";

struct WordValue {
    const char* word;
    int value;
};

const WordValue kAddressingModes[] = {{"normal", 14}, {"expanded", 30}, {"super", 126}};
const WordValue kHemispheres[] = {{"+x", 0x0000}, {"x", 0x0000}, {"-x", 0x0001}, {"+y", 0x0600}, {"y", 0x0600},
                                  {"-y", 0x0601}, {"+z", 0x0C00}, {"z", 0x0C00}, {"-z", 0x0C01}};
const WordValue kFilterWords[] = {{"yes", 1}, {"on", 1}, {"no", 0}, {"off", 0}};
const WordValue kReportRates[] = {{"1", 'Q'}, {"2", 'R'}, {"8", 'S'}, {"32", 'T'}};
const WordValue kSyncWords[] = {{"yes", 1}, {"on", 1}, {"type1", 1}, {"type2", 2},
                                {"type3", 3}, {"no", 0}, {"off", 0}};
const WordValue kScalings[] = {{"36", 1}, {"72", 2}};

template <std::size_t N>
bool matchWord(const char* argument, const WordValue (&table)[N], int& value)
{
    for (const WordValue& entry : table) {
        if (keywordEquals(argument, entry.word) == 0) {
            value = entry.value;
            return true;
        }
    }
    return false;
}

}  // namespace

CDeviceOptions::~CDeviceOptions()
{
    delete[] portName;
}

bool CDeviceOptions::parseDeviceLine(const ConfigBlock& block, const CLogH& log)
{
    if (deviceArgCount(block) == 0 || block.args[0] == nullptr) {
        unitCount = 2;
        return true;
    }
    const auto units = static_cast<std::uint32_t>(parseInteger(block.args[0]));
    if (units < 1 || units > 32) {
        reportOptionProblem(log, kPrefix, "Invalid arg found for ", "Vantrel at line ", block.lineNumber);
        return false;
    }
    unitCount = units;
    return true;
}

void CDeviceOptions::setDefaults()
{
    mouseCount = 0;
    replaceText(portName, "com1");
    baudRate = 38400;
    hemisphereCode = 0x0C00;
    filterOn = 0;
    maxAddress = 14;
    reportRateCode = 'Q';
    syncType = 0;
    scalingCode = 1;
    ercId = 1;
    srtId = 0;
    busDeviceCount = unitCount + 1;
}

bool CDeviceOptions::parseOptions(ConfigBlock& block, const CLogH& log, std::int32_t& dataKind)
{
    bool allGood = true;
    const std::uint32_t lineCount = optionLineCount(block);
    for (std::uint32_t i = 0; i < lineCount; ++i) {
        OptionLine& line = block.lines[i];
        const char* keyword = line.keyword;
        const std::uint32_t argCount = optionArgCount(line);
        const char* argument = optionArg(line, 0);
        const char* displayName = nullptr;
        const char* problem = nullptr;

        auto oneArgument = [&](const char* name) {
            displayName = name;
            if (argCount == 0) {
                problem = "Incomplete option line found for ";
            } else if (argCount > 1) {
                problem = "Too many args found for ";
            }
            return problem == nullptr;
        };
        auto numberIn = [&](std::uint32_t low, std::uint32_t high, std::uint32_t& number) {
            number = static_cast<std::uint32_t>(parseInteger(argument));
            if (number < low || number > high) {
                problem = "Invalid ID found for ";
                return false;
            }
            return true;
        };
        int value = 0;
        std::uint32_t number = 0;

        if (keywordEquals(keyword, "port") == 0 || keywordEquals(keyword, "serialport") == 0) {
            if (oneArgument("SerialPort at line ")) {
                replaceText(portName, argument);
            }
        } else if (keywordEquals(keyword, "baud") == 0 || keywordEquals(keyword, "baudrate") == 0) {
            if (oneArgument("Baud at line ")) {
                baudRate = parseInteger(argument);
            }
        } else if (keywordEquals(keyword, "addressingmode") == 0) {
            if (oneArgument("AddressingMode at line ")) {
                if (matchWord(argument, kAddressingModes, value)) {
                    maxAddress = value;
                } else {
                    problem = "Invalid string found for ";
                }
            }
        } else if (keywordEquals(keyword, "erc") == 0) {
            if (oneArgument("ERC at line ") && numberIn(1, unitCount + 1, number)) {
                ercId = number;
                if (srtId != 0) {
                    srtId = 0;
                    busDeviceCount = unitCount + 1;
                }
            }
        } else if (keywordEquals(keyword, "srt") == 0) {
            if (oneArgument("SRT at line ") && numberIn(1, unitCount, number)) {
                srtId = number;
                if (ercId != 0) {
                    ercId = 0;
                    busDeviceCount = unitCount;
                }
            }
        } else if (keywordEquals(keyword, "hemisphere") == 0) {
            if (oneArgument("Hemisphere at line ")) {
                if (matchWord(argument, kHemispheres, value)) {
                    hemisphereCode = static_cast<std::uint16_t>(value);
                } else {
                    problem = "Invalid string found for ";
                }
            }
        } else if (keywordEquals(keyword, "filter") == 0) {
            if (oneArgument("Filter at line ")) {
                if (matchWord(argument, kFilterWords, value)) {
                    filterOn = static_cast<std::uint8_t>(value);
                } else {
                    problem = "Invalid string found for ";
                }
            }
        } else if (keywordEquals(keyword, "reportrate") == 0) {
            if (oneArgument("ReportRate at line ")) {
                if (matchWord(argument, kReportRates, value)) {
                    reportRateCode = static_cast<char>(value);
                } else {
                    problem = "Invalid string found for ";
                }
            }
        } else if (keywordEquals(keyword, "sync") == 0) {
            if (oneArgument("Sync at line ")) {
                if (matchWord(argument, kSyncWords, value)) {
                    syncType = value;
                } else {
                    problem = "Found Invalid string for ";
                }
            }
        } else if (keywordEquals(keyword, "scaling") == 0) {
            if (oneArgument("Scaling at line ")) {
                if (matchWord(argument, kScalings, value)) {
                    scalingCode = value;
                } else {
                    problem = "Invalid string found for ";
                }
            }
        } else if (keywordEquals(keyword, "measurementrate") == 0) {
            if (oneArgument("MeasurementRate at line ") && numberIn(20, 144, number)) {
                measurementRate = static_cast<std::uint8_t>(number);
            }
        } else if (keywordEquals(keyword, "mouse") == 0) {
            // A line without numbers is taken and changes nothing.
            for (std::uint32_t a = 0; a < argCount; ++a) {
                const auto id = static_cast<std::uint32_t>(parseInteger(optionArg(line, a)));
                if (id < 1 || id > kMaxBusAddress) {
                    reportOptionProblem(log, kPrefix, "Invalid sensor ID found for ", "Mouse at line ",
                                        line.lineNumber);
                    allGood = false;
                    continue;
                }
                // An address named twice is one mouse.
                if (mouseFlags[id - 1] == 0) {
                    mouseFlags[id - 1] = 1;
                    mouseLines[id - 1] = line.lineNumber;
                    ++mouseCount;
                }
                dataKind = 1;
            }
            line.consumed = 1;
            continue;
        } else {
            continue;  // left for the tracker and controller layers
        }

        if (problem != nullptr) {
            reportOptionProblem(log, kPrefix, problem, displayName, line.lineNumber);
            allGood = false;
        } else {
            line.consumed = 1;
        }
    }

    // A mouse must sit on a unit that the flock counts and that reports
    // samples: not beyond the bus, not on the ERC.
    for (std::uint32_t address = 1; address <= kMaxBusAddress; ++address) {
        if (mouseFlags[address - 1] != 0 && (address > busDeviceCount || address == ercId)) {
            reportOptionProblem(log, kPrefix, "Invalid sensor ID found for ", "Mouse at line ",
                                mouseLines[address - 1]);
            allGood = false;
        }
    }
    return allGood;
}
