#include "controller/CConCommonH.h"

#include <cctype>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "common/CLogH.h"
#include "common/DataRecords.h"
#include "common/OptionLine.h"
#include "tracker/SampleTransform.h"

namespace {

constexpr char kIncomplete[] = "Incomplete option line found for ";
constexpr char kTooManyArgs[] = "Too many args found for ";
constexpr char kInvalidArg[] = "Invalid arg found for ";
constexpr char kInvalidController[] = "Invalid controller ID found for ";
constexpr char kInvalidValuator[] = "Invalid valuator ID found for ";
constexpr char kInvalidButton[] = "Invalid button ID found for ";
constexpr char kSameId[] = "Same ID found more than once in ";
constexpr char kInvalidId[] = "Invalid ID found in ";

constexpr char kOrder[] = "Order at line ";
constexpr char kOrderOption[] = "Order option at line ";
constexpr char kScale[] = "ValuatorScale at line ";
constexpr char kScaleOption[] = "ValuatorScale option at line ";
constexpr char kEmulate[] = "EmulateTracker at line ";
constexpr char kEmulateOption[] = "EmulateTracker option at line ";

// Output controller numbers that the host's list can hold.
constexpr std::uint32_t kMaxOutputIds = 32;
// Where the valuator block of a controller record starts; the button block
// follows the declared valuators.
constexpr std::uint32_t kValuatorBlockOffset = 36;
static_assert(offsetof(ControllerData, valuators) == kValuatorBlockOffset, "ControllerData layout");

constexpr char kContinuation[] = "                      :";

// The unit's button byte reads as real button 1, 2 or 3 pressed only when it
// equals that button's code exactly.
constexpr std::uint8_t kButtonCodes[3] = {0x10, 0x30, 0x70};

constexpr const char* kPoseNames[6] = {"X", "Y", "Z", "Azim", "Elev", "Roll"};

// Integers are compared as unsigned values, so a negative number is a very
// large ID.
std::uint32_t readNumber(const OptionLine& line, std::uint32_t index)
{
    return static_cast<std::uint32_t>(parseInteger(optionArg(line, index)));
}

bool beginsWithLetter(const char* text)
{
    return std::isalpha(static_cast<unsigned char>(text[0])) != 0;
}

std::uint32_t lesser(std::uint32_t a, std::uint32_t b)
{
    return a < b ? a : b;
}

// The scale of a valuator that is passed on unchanged: output = X.
void setIdentityScale(float (&scale)[4])
{
    scale[0] = 0.0f;
    scale[1] = 0.0f;
    scale[2] = 1.0f;
    scale[3] = 0.0f;
}

// Floats of the controller report: six significant digits, as standard
// output writes them by default.
constexpr LogNumberFormat kReportNumbers{std::ios_base::dec, 6, 0, ' '};

// output = a3 X^3 + a2 X^2 + a1 X + a0, zero terms left out.
void writePolynomial(CLogLine& line, const float (&scale)[4])
{
    static constexpr const char* kPowers[4] = {"X^3", "X^2", "X", ""};
    bool written = false;
    for (int i = 0; i < 4; ++i) {
        const float coefficient = scale[i];
        if (coefficient == 0.0f) {
            continue;
        }
        // Once a term stands, a positive one needs its sign so that the two
        // do not run together; a negative one brings its own.
        if (written && coefficient > 0.0f) {
            line << '+';
        }
        line.number(coefficient, kReportNumbers) << kPowers[i];
        written = true;
    }
}

}  // namespace

ControllerMap::ControllerMap()
{
    for (auto& scale : valuatorScale) {
        setIdentityScale(scale);
    }
}

CConCommonH::CConCommonH(const CLogH* deviceLog)
{
    if (deviceLog != nullptr) {
        log = new CLogH(*deviceLog);
    } else {
        log = new CLogH();
        log->setName("CConCommonH");
    }
    ownsLog = true;
    log->setDebugCategory(3);
    log->debug("CConCommonH: \"constructor\" called.");
}

CConCommonH::~CConCommonH()
{
    log->debug("CConCommonH: \"destructor\" called.");
    if (controllerMaps) {
        clearControllers();
    }
    if (ownsLog) {
        delete log;
    }
}

bool CConCommonH::setUp(std::uint32_t count, bool limitIds)
{
    if (count == 0) {
        return false;
    }
    std::unique_ptr<ControllerMap[]> maps(new (std::nothrow) ControllerMap[count]);
    if (!maps) {
        return false;
    }
    if (controllerMaps) {
        clearControllers();
    }
    controllerCount = count;
    controllerMaps = std::move(maps);
    limitIdsToCounts = limitIds;
    return true;
}

ControllerMap* CConCommonH::mapOf(std::uint32_t realId) const
{
    if (!controllerMaps || realId == 0 || realId > controllerCount) {
        return nullptr;
    }
    return &controllerMaps[realId - 1];
}

const ControllerMap* CConCommonH::controllerMap(std::uint32_t realId) const
{
    return mapOf(realId);
}

bool CConCommonH::setController(std::uint32_t realId, std::uint32_t outputId, std::uint32_t valuatorCount,
                                std::uint32_t buttonCount)
{
    ControllerMap* map = mapOf(realId);
    if (map == nullptr || valuatorCount > kMaxValuators || buttonCount > kMaxButtons) {
        return false;
    }
    map->outputId = outputId;
    map->valuatorCount = valuatorCount;
    map->buttonCount = buttonCount;
    for (std::uint32_t j = 0; j < valuatorCount; ++j) {
        map->valuatorOrder[j] = j + 1;
        setIdentityScale(map->valuatorScale[j]);
    }
    for (std::uint32_t j = 0; j < buttonCount; ++j) {
        map->buttonOrder[j] = j + 1;
    }
    return true;
}

bool CConCommonH::setTrackerEmulation(std::uint32_t realId, std::uint32_t trackerIndex,
                                      const float (&initialValues)[6], const std::uint32_t (&valuatorAssign)[6],
                                      std::uint32_t resetButton)
{
    ControllerMap* map = mapOf(realId);
    if (map == nullptr) {
        return false;
    }
    if (!map->emulation) {
        map->emulation.reset(new TrackerEmulation);
    }
    TrackerEmulation& emulation = *map->emulation;
    emulation.trackerIndex = trackerIndex;
    for (int i = 0; i < 6; ++i) {
        emulation.initialValues[i] = initialValues[i];
        emulation.valuatorAssign[i] = valuatorAssign[i];
    }
    emulation.resetButton = resetButton;
    return true;
}

bool CConCommonH::clearControllers()
{
    if (!controllerMaps) {
        return false;
    }
    for (std::uint32_t i = 0; i < controllerCount; ++i) {
        controllerMaps[i].emulation.reset();
    }
    controllerMaps.reset();
    controllerCount = 0;
    return true;
}

bool CConCommonH::parseOptions(ConfigBlock* block)
{
    if (!controllerMaps) {
        log->error("CConCommonH: lookup Null");
        return false;
    }
    if (block == nullptr) {
        log->error("CConCommonH: config empty");
        return false;
    }
    bool allGood = true;
    const std::uint32_t lineCount = optionLineCount(*block);
    for (std::uint32_t i = 0; i < lineCount; ++i) {
        OptionLine& line = block->lines[i];
        const char* keyword = line.keyword;
        LineResult result = LineResult::NotMine;
        if (keywordEquals(keyword, "controllerorder") == 0 || keywordEquals(keyword, "unitorder") == 0 ||
            keywordEquals(keyword, "order") == 0) {
            result = parseControllerOrder(line);
        } else if (keywordEquals(keyword, "valuatororder") == 0) {
            result = parseItemOrder(line, false);
        } else if (keywordEquals(keyword, "buttonorder") == 0) {
            result = parseItemOrder(line, true);
        } else if (keywordEquals(keyword, "valuatorscale") == 0) {
            result = parseValuatorScale(line);
        } else if (keywordEquals(keyword, "emulatetracker") == 0) {
            result = parseEmulateTracker(line);
        }
        if (result == LineResult::Accepted) {
            line.consumed = 1;
        } else if (result == LineResult::Failed) {
            allGood = false;
        }
    }
    return allGood;
}

void CConCommonH::reportProblem(const OptionLine& line, const char* phrase, const char* displayName,
                                const char* ending) const
{
    reportOptionProblem(*log, "", phrase, displayName, line.lineNumber, ending);
}

CConCommonH::LineResult CConCommonH::parseControllerOrder(const OptionLine& line)
{
    if (fixedOrder) {
        return LineResult::NotMine;
    }
    const std::uint32_t listed = lesser(optionArgCount(line), maxOutputControllers);
    for (std::uint32_t k = 0; k < listed; ++k) {
        if (mapOf(readNumber(line, k)) == nullptr) {
            reportProblem(line, kInvalidController, kOrderOption);
            return LineResult::Failed;
        }
    }
    for (std::uint32_t i = 0; i < controllerCount; ++i) {
        controllerMaps[i].outputId = 0;
    }
    // A controller listed twice keeps its later position.
    for (std::uint32_t k = 0; k < listed; ++k) {
        mapOf(readNumber(line, k))->outputId = k + 1;
    }
    return LineResult::Accepted;
}

// valuatororder and buttonorder: the list names, for output 1, 2, 3 ..., the
// real valuator (button) that feeds it; 0 leaves an output unassigned.
CConCommonH::LineResult CConCommonH::parseItemOrder(const OptionLine& line, bool buttons)
{
    const std::uint32_t argCount = optionArgCount(line);
    if (argCount == 0) {
        reportProblem(line, kIncomplete, kOrder);
        return LineResult::Failed;
    }
    ControllerMap* map = mapOf(readNumber(line, 0));
    if (map == nullptr) {
        reportProblem(line, kInvalidController, kOrderOption);
        return LineResult::Failed;
    }
    std::uint32_t& count = buttons ? map->buttonCount : map->valuatorCount;
    std::uint32_t* order = buttons ? map->buttonOrder : map->valuatorOrder;
    const std::uint32_t tableSize = buttons ? kMaxButtons : kMaxValuators;
    const std::uint32_t limit = limitIdsToCounts ? lesser(count, tableSize) : tableSize;

    std::uint32_t highest = 0;
    for (std::uint32_t p = 1; p < argCount; ++p) {
        const std::uint32_t v = readNumber(line, p);
        if (v == 0) {
            if (beginsWithLetter(optionArg(line, p))) {
                reportProblem(line, kInvalidArg, kOrder);
                return LineResult::Failed;
            }
            continue;
        }
        highest = v > highest ? v : highest;
        for (std::uint32_t q = p + 1; q < argCount; ++q) {
            if (readNumber(line, q) == v) {
                reportProblem(line, kSameId, kOrderOption);
                return LineResult::Failed;
            }
        }
    }
    if (highest > limit) {
        reportProblem(line, kInvalidId, kOrderOption);
        return LineResult::Failed;
    }

    count = highest;
    for (std::uint32_t i = 0; i < tableSize; ++i) {
        order[i] = 0;
    }
    for (std::uint32_t p = 1; p < argCount; ++p) {
        const std::uint32_t v = readNumber(line, p);
        if (v != 0) {
            order[v - 1] = p;
        }
    }
    return LineResult::Accepted;
}

CConCommonH::LineResult CConCommonH::parseValuatorScale(const OptionLine& line)
{
    const std::uint32_t argCount = optionArgCount(line);
    if (argCount == 0) {
        reportProblem(line, kIncomplete, kScale);
        return LineResult::Failed;
    }
    ControllerMap* map = mapOf(readNumber(line, 0));
    if (map == nullptr) {
        reportProblem(line, kInvalidController, kScaleOption);
        return LineResult::Failed;
    }
    if (argCount < 3) {
        reportProblem(line, kIncomplete, kScale);
        return LineResult::Failed;
    }

    float a3 = 0.0f;
    float a2 = 0.0f;
    float a1 = 0.0f;
    float a0 = 0.0f;
    const char* scaleText = optionArg(line, 1);
    if (scaleText[0] == '[') {
        // Fields that do not match stay 0.
        std::sscanf(scaleText, "[%f,%f,%f,%f]", &a3, &a2, &a1, &a0);
        if (a3 == 0.0f && a2 == 0.0f && a1 == 0.0f && a0 == 0.0f) {
            reportProblem(line, kIncomplete, kScale);
            return LineResult::Failed;
        }
        // A field beyond the float range reads as infinite.
        if (!std::isfinite(a3) || !std::isfinite(a2) || !std::isfinite(a1) || !std::isfinite(a0)) {
            reportProblem(line, kInvalidArg, kScale);
            return LineResult::Failed;
        }
    } else {
        // A gain without a finite float form (inf, nan, 1e39) is refused
        // like a word, before it is narrowed to a float.
        const double gain = std::strtod(scaleText, nullptr);
        if ((gain == 0.0 && beginsWithLetter(scaleText)) || !std::isfinite(gain) || std::fabs(gain) > FLT_MAX) {
            reportProblem(line, kInvalidArg, kScale);
            return LineResult::Failed;
        }
        a1 = static_cast<float>(gain);
    }

    bool selected[kMaxValuators] = {};
    for (std::uint32_t p = 2; p < argCount; ++p) {
        if (keywordEquals(optionArg(line, p), "all") == 0) {
            for (bool& one : selected) {
                one = true;
            }
            break;
        }
        const std::uint32_t v = readNumber(line, p);
        if (v < 1 || v > map->valuatorCount || v > kMaxValuators) {
            reportProblem(line, kInvalidValuator, kScaleOption);
            return LineResult::Failed;
        }
        selected[v - 1] = true;
    }

    for (std::uint32_t v = 0; v < kMaxValuators; ++v) {
        if (selected[v]) {
            map->valuatorScale[v][0] = a3;
            map->valuatorScale[v][1] = a2;
            map->valuatorScale[v][2] = a1;
            map->valuatorScale[v][3] = a0;
        }
    }
    return LineResult::Accepted;
}

CConCommonH::LineResult CConCommonH::parseEmulateTracker(const OptionLine& line)
{
    const std::uint32_t argCount = optionArgCount(line);
    if (argCount == 0) {
        reportProblem(line, kIncomplete, kEmulate);
        return LineResult::Failed;
    }
    const std::uint32_t realId = readNumber(line, 0);
    const ControllerMap* map = mapOf(realId);
    if (map == nullptr) {
        reportProblem(line, kInvalidController, kEmulateOption);
        return LineResult::Failed;
    }
    if (argCount < 2) {
        reportProblem(line, kIncomplete, kEmulate);
        return LineResult::Failed;
    }

    float values[6] = {};
    const char* valuesText = optionArg(line, 1);
    if (valuesText[0] == '[') {
        // Fields that do not match stay 0.
        std::sscanf(valuesText, "[%f,%f,%f,%f,%f,%f]", &values[0], &values[1], &values[2], &values[3],
                    &values[4], &values[5]);
    }

    if (argCount < 8) {
        reportProblem(line, kIncomplete, kEmulate);
        return LineResult::Failed;
    }
    if (argCount > 9) {
        reportProblem(line, kTooManyArgs, kEmulate);
        return LineResult::Failed;
    }

    std::uint32_t valuators[6] = {};
    for (std::uint32_t i = 0; i < 6; ++i) {
        const std::uint32_t v = readNumber(line, 2 + i);
        if (v > map->valuatorCount || v > kMaxValuators) {
            reportProblem(line, kInvalidValuator, kEmulateOption);
            return LineResult::Failed;
        }
        valuators[i] = v;
    }

    std::uint32_t resetButton = 0;
    if (argCount == 9) {
        resetButton = readNumber(line, 8);
        if (resetButton < 1 || resetButton > map->buttonCount || resetButton > kMaxButtons) {
            reportProblem(line, kInvalidButton, kEmulateOption, ". Ignored.");
            return LineResult::Failed;
        }
    }

    setTrackerEmulation(realId, 0, values, valuators, resetButton);
    return LineResult::Accepted;
}

bool CConCommonH::isPublished(std::uint32_t realId) const
{
    const ControllerMap* map = mapOf(realId);
    return map != nullptr && map->outputId >= 1 && map->outputId <= kMaxOutputIds;
}

bool CConCommonH::fillControllerRecord(std::uint32_t realId, std::uint8_t buttonByte, ControllerData& record) const
{
    if (!isPublished(realId)) {
        return false;
    }
    const ControllerMap& map = controllerMaps[realId - 1];

    const std::uint32_t outputNumber = outputOffset + map.outputId;
    if (outputNumber >= 1 && outputNumber <= kMaxOutputIds) {
        record.storageIndex = toNetwork32(outputNumber);
    }
    record.valuatorOffset = toNetwork32(kValuatorBlockOffset);
    if (map.valuatorCount <= kMaxValuators) {
        record.valuatorCount = toNetwork32(map.valuatorCount);
        record.buttonOffset = toNetwork32(kValuatorBlockOffset + 4 * map.valuatorCount);
    }
    if (map.buttonCount <= kMaxButtons) {
        record.buttonCount = toNetwork32(map.buttonCount);
    }
    // Output 0, outputs above 32 and outputs above the declared count are
    // refused by the record itself.
    for (std::uint32_t real = 1; real <= 3; ++real) {
        const bool pressed = buttonByte == kButtonCodes[real - 1];
        setButtonBit(record, map.buttonOrder[real - 1], pressed ? 1 : 0);
    }
    return true;
}

bool CConCommonH::printReport() const
{
    CLogLine line(*log);
    line.info("CONTROLLER ORDER      : <Real con> -> <Output con>");
    line.info(kContinuation, false);
    for (std::uint32_t n = 1; n <= controllerCount; ++n) {
        const ControllerMap& map = controllerMaps[n - 1];
        if (map.outputId != 0) {
            line << ' ' << n << "->" << map.outputId + outputOffset;
        }
    }
    line.end();

    for (std::uint32_t b = 1; b <= controllerCount; ++b) {
        const ControllerMap& map = controllerMaps[b - 1];
        if (map.outputId == 0) {
            continue;
        }
        if (map.valuatorCount != 0) {
            writeValuators(line, b, map);
        }
        if (map.buttonCount != 0) {
            writeButtons(line, b, map);
        }
        if (map.emulation) {
            writeEmulation(line, b, *map.emulation);
        }
    }
    return true;
}

// A continuation line, opened with the controller prefix (the real
// controller's number, when there is more than one).
void CConCommonH::writeContinuation(CLogLine& line, std::uint32_t realId) const
{
    line.info(kContinuation, false);
    if (controllerCount != 1) {
        line << ' ' << realId << ':';
    }
}

void CConCommonH::writeValuators(CLogLine& line, std::uint32_t realId, const ControllerMap& map) const
{
    line.info("VALUATOR ORDER(SCALE) : <Real val> -> <Output val>");
    writeContinuation(line, realId);
    for (std::uint32_t v = 1; v <= kMaxValuators; ++v) {
        if (map.valuatorOrder[v - 1] != 0) {
            line << ' ' << v << "->" << map.valuatorOrder[v - 1] << '(';
            writePolynomial(line, map.valuatorScale[v - 1]);
            line << ')';
        }
    }
    line.end();
}

void CConCommonH::writeButtons(CLogLine& line, std::uint32_t realId, const ControllerMap& map) const
{
    line.info("BUTTON ORDER          : <Real but> -> <Output but>");
    writeContinuation(line, realId);
    for (std::uint32_t r = 1; r <= kMaxButtons; ++r) {
        if (map.buttonOrder[r - 1] != 0) {
            line << ' ' << r << "->" << map.buttonOrder[r - 1];
        }
    }
    line.end();
}

void CConCommonH::writeEmulation(CLogLine& line, std::uint32_t realId, const TrackerEmulation& emulation) const
{
    line.info("TRACKER EMULATION     :", false);
    if (controllerCount == 1) {
        line << " As ";
    } else {
        line << ' ' << realId << "->";
    }
    line << "tracker[" << emulation.trackerIndex << ']';
    line.end();

    // The initial pose in two lines: position, then angles.
    for (int half = 0; half < 2; ++half) {
        writeContinuation(line, realId);
        line << " Init Values:";
        for (int i = 3 * half; i < 3 * half + 3; ++i) {
            line << ' ' << kPoseNames[i] << '=';
            line.number(emulation.initialValues[i], kReportNumbers);
        }
        line.end();
    }

    writeContinuation(line, realId);
    line << " Val Assign :";
    for (int i = 0; i < 6; ++i) {
        if (emulation.valuatorAssign[i] != 0) {
            line << ' ' << emulation.valuatorAssign[i] << "->" << kPoseNames[i];
        }
    }
    line.end();

    if (emulation.resetButton != 0) {
        writeContinuation(line, realId);
        line << " Reset But  : " << emulation.resetButton;
        line.end();
    }
}
