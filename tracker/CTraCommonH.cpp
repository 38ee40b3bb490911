#include "tracker/CTraCommonH.h"

#include <cctype>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <new>

#include "common/CLogH.h"
#include "common/OptionLine.h"
#include "tracker/CCalibH.h"
#include "tracker/SampleTransform.h"

namespace {

constexpr char kContinuation[] = "                      :";

constexpr char kTransmitterOffsetName[] = "TransmitterOffset at line ";
constexpr char kSensorOffsetName[] = "SensorOffset at line ";
constexpr char kSensorTranslationName[] = "SensorTranslation at line ";
constexpr char kOrderName[] = "Order at line ";
constexpr char kCaveName[] = "CAVECoord at line ";

// The factor that converts lengths in the given unit into feet.
bool unitFactor(const char* word, float& factor)
{
    if (keywordEquals(word, "feet") == 0) {
        factor = 1.0f;
    } else if (keywordEquals(word, "inches") == 0) {
        factor = 0.083333336f;
    } else if (keywordEquals(word, "meters") == 0 || keywordEquals(word, "m") == 0) {
        factor = 3.2808399f;
    } else if (keywordEquals(word, "cm") == 0) {
        factor = 0.032808401f;
    } else {
        return false;
    }
    return true;
}

// A number argument: anything strtod reads, but a 0 that starts with a letter
// is a word, not a number; a value without a finite float form (inf, nan,
// 1e99) would poison every sample and is refused as well.
bool readNumber(const char* text, float& value)
{
    const double number = std::strtod(text, nullptr);
    if (number == 0.0 && std::isalpha(static_cast<unsigned char>(text[0])) != 0) {
        return false;
    }
    if (!std::isfinite(number) || std::fabs(number) > FLT_MAX) {
        return false;
    }
    value = static_cast<float>(number);
    return true;
}

}  // namespace

CTraCommonH::CTraCommonH(const CLogH* deviceLog)
    : transmitterOffset(zeroMatrix()),
      transmitterRotation(identityMatrix()),
      transmitterTransform(identityMatrix()),
      log(deviceLog != nullptr ? new CLogH(*deviceLog) : new CLogH())
{
    if (deviceLog == nullptr) {
        log->setName("CTraCommonH");
    }
    log->setDebugCategory(3);
    log->debug("CTraCommonH: \"constructor\" called.");
}

CTraCommonH::~CTraCommonH()
{
    log->debug("CTraCommonH: \"destructor\" called.");
    releaseCalibration();
    delete[] trackerMaps;
    if (ownsLog) {
        delete log;
    }
}

bool CTraCommonH::setUp(std::uint32_t count)
{
    if (count == 0) {
        return false;
    }
    auto* maps = new (std::nothrow) TrackerMap[count];
    if (maps == nullptr) {
        return false;
    }
    delete[] trackerMaps;
    trackerMaps = maps;
    trackerCount = count;
    for (std::uint32_t n = 1; n <= count; ++n) {
        setTracker(n, 0, nullptr, nullptr, nullptr);
    }
    return true;
}

bool CTraCommonH::setTracker(std::uint32_t realId, std::uint32_t outputId, const Matrix4* offset,
                             const Matrix4* rotation, const float* translation)
{
    if (trackerMaps == nullptr || realId == 0 || realId > trackerCount) {
        return false;
    }
    TrackerMap& map = trackerMaps[realId - 1];
    map.outputId = outputId;
    map.sensorOffset = offset != nullptr ? *offset : zeroMatrix();
    map.sensorOffsetSet = offset != nullptr;
    map.sensorRotation = rotation != nullptr ? *rotation : identityMatrix();
    map.sensorRotationSet = rotation != nullptr;
    for (unsigned i = 0; i < 3; ++i) {
        map.sensorTranslation[i] = translation != nullptr ? translation[i] : 0.0f;
    }
    map.sensorTranslationSet = translation != nullptr;
    map.sensorTransform = composeTransform(map.sensorRotation, map.sensorOffset);
    return true;
}

const TrackerMap* CTraCommonH::getTrackerMap(std::uint32_t realId) const
{
    if (trackerMaps == nullptr || realId == 0 || realId > trackerCount) {
        return nullptr;
    }
    return &trackerMaps[realId - 1];
}

void CTraCommonH::transformPose(const TrackerMap& map, TrackerPose& pose) const
{
    if (transmitterOffsetSet || transmitterRotationSet || map.sensorOffsetSet || map.sensorRotationSet ||
        map.sensorTranslationSet) {
        applyTransform(pose, &transmitterTransform, &map.sensorTransform, map.sensorTranslation);
    }
}

// ---------------------------------------------------------------------------
// Options

bool CTraCommonH::parseOptions(ConfigBlock* block)
{
    if (trackerMaps == nullptr) {
        log->error("CTraCommonH: lookup is Null.");
        return false;
    }
    if (block == nullptr) {
        log->error("CTraCommonH: config is empty.");
        return false;
    }
    bool failed = false;
    const std::uint32_t lineCount = optionLineCount(*block);
    for (std::uint32_t i = 0; i < lineCount; ++i) {
        OptionLine& line = block->lines[i];
        // Once a line has failed, the placement lines are only checked: the
        // configuration is refused anyway.
        switch (parseLine(line, failed)) {
        case LineResult::Consumed:
            line.consumed = 1;
            break;
        case LineResult::Failed:
            failed = true;
            break;
        case LineResult::LeftAlone:
            break;
        }
    }
    return !failed;
}

CTraCommonH::LineResult CTraCommonH::parseLine(const OptionLine& line, bool checkOnly)
{
    const char* keyword = line.keyword != nullptr ? line.keyword : "";
    const auto is = [keyword](const char* known) { return keywordEquals(keyword, known) == 0; };
    if (is("transmitteroffset")) {
        return parsePosition(line, Position::TransmitterOffset, checkOnly);
    }
    if (is("transmitterrotation")) {
        return parseRotation(line, false, false, checkOnly);
    }
    if (is("transmitterrotationmatrix")) {
        return parseRotation(line, false, true, checkOnly);
    }
    if (is("sensoroffset")) {
        return parsePosition(line, Position::SensorOffset, checkOnly);
    }
    if (is("sensortranslation")) {
        return parsePosition(line, Position::SensorTranslation, checkOnly);
    }
    if (is("sensorrotation")) {
        return parseRotation(line, true, false, checkOnly);
    }
    if (is("sensorrotationmatrix")) {
        return parseRotation(line, true, true, checkOnly);
    }
    if (is("calibration") || is("calib")) {
        return parseCalibration(line);
    }
    if (is("trackerorder") || is("unitorder") || is("order")) {
        return parseOrder(line);
    }
    if (is("cavecoord") || is("cavecoordinates")) {
        return parseCave(line);
    }
    return LineResult::LeftAlone;
}

CTraCommonH::LineResult CTraCommonH::parsePosition(const OptionLine& line, Position kind, bool checkOnly)
{
    const bool sensor = kind != Position::TransmitterOffset;
    const char* name = kind == Position::TransmitterOffset ? kTransmitterOffsetName
                       : kind == Position::SensorOffset    ? kSensorOffsetName
                                                           : kSensorTranslationName;
    const std::uint32_t first = sensor ? 1 : 0;
    std::uint32_t realId = 0;
    float xyz[3];
    if ((sensor && !readTrackerId(line, name, realId)) || !argCountFits(line, first + 3, first + 4, name) ||
        !readNumbers(line, first, 3, xyz, name)) {
        return LineResult::Failed;
    }
    if (checkOnly) {
        return LineResult::LeftAlone;
    }
    float factor = 1.0f;
    if (optionArgCount(line) == first + 4 && !unitFactor(optionArg(line, first + 3), factor)) {
        complain(line, sensor ? "Invalid unit found for " : "Invalid string found for ", name);
        return LineResult::Failed;
    }
    for (float& value : xyz) {
        value *= factor;
    }
    switch (kind) {
    case Position::TransmitterOffset:
        // An all-zero offset leaves an earlier one in force.
        if (xyz[0] != 0.0f || xyz[1] != 0.0f || xyz[2] != 0.0f) {
            transmitterOffset = offsetMatrix(xyz[0], xyz[1], xyz[2]);
            transmitterTransform = composeTransform(transmitterRotation, transmitterOffset);
            transmitterOffsetSet = true;
        }
        break;
    case Position::SensorOffset: {
        TrackerMap& map = trackerMaps[realId - 1];
        map.sensorOffset = offsetMatrix(xyz[0], xyz[1], xyz[2]);
        map.sensorTransform = composeTransform(map.sensorRotation, map.sensorOffset);
        map.sensorOffsetSet = true;
        break;
    }
    case Position::SensorTranslation: {
        TrackerMap& map = trackerMaps[realId - 1];
        std::memcpy(map.sensorTranslation, xyz, sizeof xyz);
        map.sensorTranslationSet = true;
        break;
    }
    }
    return LineResult::Consumed;
}

// "transmitterrotation" / "sensorrotation": an axis and an angle in degrees;
// the matrix forms: the nine values of the 3 x 3 block row by row.
CTraCommonH::LineResult CTraCommonH::parseRotation(const OptionLine& line, bool sensor, bool matrixForm,
                                                   bool checkOnly)
{
    const char* name = sensor ? (matrixForm ? "SensorRotationMatrix at line " : "SensorRotation at line ")
                              : (matrixForm ? "TransmitterRotationMatrix at line " : "TransmitterRotation at line ");
    const std::uint32_t first = sensor ? 1 : 0;
    const std::uint32_t valueCount = matrixForm ? 9 : 4;
    // The angle of the axis form is read only when the line is applied.
    const std::uint32_t checkedCount = matrixForm ? 9 : 3;
    std::uint32_t realId = 0;
    float values[9];
    if ((sensor && !readTrackerId(line, name, realId)) ||
        !argCountFits(line, first + valueCount, first + valueCount, name) ||
        !readNumbers(line, first, checkedCount, values, name)) {
        return LineResult::Failed;
    }
    if (checkOnly) {
        return LineResult::LeftAlone;
    }
    if (!matrixForm && !readNumbers(line, first + 3, 1, &values[3], name)) {
        return LineResult::Failed;
    }
    const Matrix4 rotation =
        matrixForm ? rowsMatrix(values) : axisAngleMatrix(values[0], values[1], values[2], values[3]);
    if (sensor) {
        TrackerMap& map = trackerMaps[realId - 1];
        map.sensorRotation = rotation;
        map.sensorTransform = composeTransform(map.sensorRotation, map.sensorOffset);
        map.sensorRotationSet = true;
    } else {
        transmitterRotation = rotation;
        transmitterTransform = composeTransform(transmitterRotation, transmitterOffset);
        transmitterRotationSet = true;
    }
    return LineResult::Consumed;
}

// The library name, then up to ten library arguments. The line replaces the
// library of an earlier one only when it is taken as a whole: a name that does
// not fit calibLibraryName is refused rather than cut (a cut name would load
// another file).
CTraCommonH::LineResult CTraCommonH::parseCalibration(const OptionLine& line)
{
    const char* name = "Calibration at line ";
    const std::uint32_t count = optionArgCount(line);
    if (count == 0) {
        complain(line, "Incomplete option line found for ", name);
        return LineResult::Failed;
    }
    const char* libraryName = optionArg(line, 0);
    if (std::strlen(libraryName) >= kCalibNameSize) {
        complain(line, "Invalid arg found for ", name);
        return LineResult::Failed;
    }
    if (count - 1 > kMaxCalibArguments) {
        complain(line, "Too many args found for ", name);
        return LineResult::Failed;
    }
    releaseCalibration();
    std::strcpy(calibLibraryName, libraryName);
    for (std::uint32_t k = 0; k + 1 < count; ++k) {
        calibArguments[k] = copyOptionText(optionArg(line, k + 1));
        calibArgCount = k + 1;
    }
    calibLibrary = new CCalibH(calibLibraryName, log);
    return LineResult::Consumed;
}

CTraCommonH::LineResult CTraCommonH::parseOrder(const OptionLine& line)
{
    if (fixedOrder) {
        complain(line, "", "Can not change the order on input connector at line ");
        return LineResult::Failed;
    }
    std::uint32_t count = optionArgCount(line);
    if (count > maxOutputTrackers) {
        count = maxOutputTrackers;
    }
    for (std::uint32_t k = 0; k < count; ++k) {
        const auto realId = static_cast<std::uint32_t>(parseInteger(optionArg(line, k)));
        if (realId == 0 || realId > trackerCount) {
            complain(line, "Invalid tracker ID found for ", kOrderName);
            return LineResult::Failed;
        }
    }
    for (std::uint32_t n = 0; n < trackerCount; ++n) {
        trackerMaps[n].outputId = 0;
    }
    for (std::uint32_t k = 0; k < count; ++k) {
        const auto realId = static_cast<std::uint32_t>(parseInteger(optionArg(line, k)));
        trackerMaps[realId - 1].outputId = k + 1;
    }
    return LineResult::Consumed;
}

CTraCommonH::LineResult CTraCommonH::parseCave(const OptionLine& line)
{
    if (!fixedOrder) {
        return LineResult::LeftAlone;
    }
    if (!argCountFits(line, 1, 1, kCaveName)) {
        return LineResult::Failed;
    }
    const char* word = optionArg(line, 0);
    if (keywordEquals(word, "yes") == 0 || keywordEquals(word, "on") == 0) {
        caveCoordinates = true;
    } else if (keywordEquals(word, "no") == 0 || keywordEquals(word, "off") == 0) {
        caveCoordinates = false;
    } else {
        complain(line, "Invalid string found for ", kCaveName);
        return LineResult::Failed;
    }
    return LineResult::Consumed;
}

bool CTraCommonH::argCountFits(const OptionLine& line, std::uint32_t least, std::uint32_t most,
                               const char* name) const
{
    const std::uint32_t count = optionArgCount(line);
    if (count < least) {
        complain(line, "Incomplete option line found for ", name);
        return false;
    }
    if (count > most) {
        complain(line, "Too many args found for ", name);
        return false;
    }
    return true;
}

// The real tracker number that opens a sensor line; it is checked before the
// rest of the line is counted.
bool CTraCommonH::readTrackerId(const OptionLine& line, const char* name, std::uint32_t& realId) const
{
    if (optionArgCount(line) == 0) {
        complain(line, "Incomplete option line found for ", name);
        return false;
    }
    realId = static_cast<std::uint32_t>(parseInteger(optionArg(line, 0)));
    if (realId == 0 || realId > trackerCount) {
        complain(line, "Invalid tracker ID found for ", name);
        return false;
    }
    return true;
}

bool CTraCommonH::readNumbers(const OptionLine& line, std::uint32_t first, std::uint32_t count, float* values,
                              const char* name) const
{
    for (std::uint32_t i = 0; i < count; ++i) {
        if (!readNumber(optionArg(line, first + i), values[i])) {
            complain(line, "Invalid arg found for ", name);
            return false;
        }
    }
    return true;
}

void CTraCommonH::complain(const OptionLine& line, const char* phrase, const char* name) const
{
    reportOptionProblem(*log, "", phrase, name, line.lineNumber);
}

void CTraCommonH::releaseCalibration()
{
    delete calibLibrary;
    calibLibrary = nullptr;
    for (std::uint32_t k = 0; k < calibArgCount; ++k) {
        delete[] calibArguments[k];
        calibArguments[k] = nullptr;
    }
    calibArgCount = 0;
}

// ---------------------------------------------------------------------------
// Report

bool CTraCommonH::printReport(bool showCave) const
{
    // The offsets are written in standard output's floating-point format as
    // the host left it (plain decimal, no sign forced), until a matrix block
    // of this report: from then on in fixed notation with 3 decimals. The
    // stream itself is neither used for numbers nor changed.
    LogNumberFormat offsets{std::cout.flags() & ~(std::ios_base::showpos | std::ios_base::showbase),
                            std::cout.precision(), 0, ' '};
    CLogLine line(*log);

    if (showCave) {
        line.info(caveCoordinates ? "CAVE COORDINATES      : Used" : "CAVE COORDINATES      : Unused");
    }
    if (transmitterOffsetSet) {
        line.info("TRANSMITTER OFFSET    :", false);
        writeOffset(line, transmitterOffset, offsets);
    }
    if (transmitterRotationSet) {
        writeBlock(line, "TRANSMITTER ROTATION  :", transmitterRotation, 0, offsets);
    }
    if (transmitterOffsetSet || transmitterRotationSet) {
        writeBlock(line, "TRANSMITTER TRANSFORM :", transmitterTransform, 0, offsets);
    }

    line.info("TRACKER ORDER         : <Real tra> -> <Output tra>");
    line.info(kContinuation, false);
    for (std::uint32_t n = 1; n <= trackerCount; ++n) {
        const TrackerMap& map = trackerMaps[n - 1];
        if (map.outputId != 0) {
            line << ' ' << n << "->" << map.outputId + outputOffset;
        }
    }
    line.end();

    for (std::uint32_t n = 1; n <= trackerCount; ++n) {
        const TrackerMap& map = trackerMaps[n - 1];
        if (map.outputId == 0) {
            continue;
        }
        if (map.sensorOffsetSet) {
            line.info("SENSOR OFFSET         :", false) << ' ' << n;
            writeOffset(line, map.sensorOffset, offsets);
        }
        if (map.sensorRotationSet) {
            writeBlock(line, "SENSOR ROTATION       :", map.sensorRotation, n, offsets);
        }
        if (map.sensorOffsetSet || map.sensorRotationSet) {
            writeBlock(line, "SENSOR TRANSFORM      :", map.sensorTransform, n, offsets);
        }
    }

    if (calibLibrary != nullptr) {
        line.info("CALIBRATION LIBRARY   :", false) << " name:" << calibLibraryName;
        line.end();
        for (std::uint32_t k = 0; k < calibArgCount; ++k) {
            line.info(kContinuation, false) << " arg[" << k << "]:" << calibArguments[k];
            line.end();
        }
    }
    return true;
}

void CTraCommonH::writeOffset(CLogLine& line, const Matrix4& offset, const LogNumberFormat& format) const
{
    line << " X:";
    line.number(offset.at(0, 3), format) << " Y:";
    line.number(offset.at(1, 3), format) << " Z:";
    line.number(offset.at(2, 3), format);
    line.end();
}

// Rows 0-2, columns 0-2 of the matrix, each entry right-aligned in 6
// characters with 3 decimals (within the host's adjustment), then an empty
// line. realId 0: no tracker number after the labels. The offsets that
// follow are in the entries' notation and precision.
void CTraCommonH::writeBlock(CLogLine& line, const char* label, const Matrix4& matrix, std::uint32_t realId,
                             LogNumberFormat& offsets) const
{
    offsets.flags = (offsets.flags & ~std::ios_base::floatfield) | std::ios_base::fixed;
    offsets.precision = 3;
    const LogNumberFormat entries{offsets.flags, 3, 6, ' '};
    for (unsigned r = 0; r < 3; ++r) {
        line.info(r == 0 ? label : kContinuation, false);
        if (realId != 0) {
            line << ' ' << realId;
        }
        for (unsigned c = 0; c < 3; ++c) {
            line << " [" << r << "][" << c << "]:";
            line.number(matrix.at(r, c), entries);
        }
        line.end();
    }
    line.bare("");
}
