#pragma once
// The tracker common layer: the settings that turn the device's real trackers
// (sensor positions numbered from 1) into the output trackers that the host
// sees. It holds the transmitter's placement, the CAVE-coordinate switch, the
// calibration library and one TrackerMap per real tracker, fills them from the
// tracker option lines and writes them into the status report. Lengths are in
// feet and angles in degrees.
#include <cstddef>
#include <cstdint>

#include "common/CLogLine.h"
#include "tracker/Matrix4.h"
#include "tracker/TrackerMap.h"
#include "vantrel/ConfigBlock.h"
#include "vantrel/TrackerPose.h"

class CCalibH;
class CLogH;

class CTraCommonH {
public:
    static constexpr std::uint32_t kMaxCalibArguments = 10;
    static constexpr std::size_t kCalibNameSize = 256;

    // Keeps its own copy of the given logger, or a default one named
    // "CTraCommonH" when none is given.
    explicit CTraCommonH(const CLogH* deviceLog);
    ~CTraCommonH();
    CTraCommonH(const CTraCommonH&) = delete;
    CTraCommonH& operator=(const CTraCommonH&) = delete;

    // count real trackers, each reset to output number 0 and no placement;
    // false without a change for 0.
    bool setUp(std::uint32_t count);
    // Sets real tracker realId (1..trackerCount) to outputId and the given
    // placement; an absent part is reset and its flag cleared.
    bool setTracker(std::uint32_t realId, std::uint32_t outputId, const Matrix4* offset, const Matrix4* rotation,
                    const float* translation);
    // Applies every tracker option line of the block and marks it consumed;
    // reports every bad line and is then false.
    bool parseOptions(ConfigBlock* block);
    // The layer's part of the status report.
    bool printReport(bool showCave) const;

    // The placement step of the sample path for one real tracker: applies the
    // transmitter and sensor placement when any of it is set, else leaves the
    // pose untouched.
    void transformPose(const TrackerMap& map, TrackerPose& pose) const;

    std::uint32_t getTrackerCount() const { return trackerCount; }
    // Null unless realId is 1..trackerCount.
    const TrackerMap* getTrackerMap(std::uint32_t realId) const;
    const Matrix4& getTransmitterOffset() const { return transmitterOffset; }
    const Matrix4& getTransmitterRotation() const { return transmitterRotation; }
    const Matrix4& getTransmitterTransform() const { return transmitterTransform; }
    bool isTransmitterOffsetSet() const { return transmitterOffsetSet; }
    bool isTransmitterRotationSet() const { return transmitterRotationSet; }
    CCalibH* getCalibLibrary() const { return calibLibrary; }
    const char* getCalibLibraryName() const { return calibLibraryName; }
    const char* const* getCalibArguments() const { return calibArguments; }
    std::uint32_t getCalibArgCount() const { return calibArgCount; }

    // Set by the device: before the options are parsed (fixedOrder,
    // caveCoordinates, maxOutputTrackers) and when it reserves its entries in
    // the tracker storage (outputOffset).
    bool fixedOrder = true;              // order keywords refused, CAVE keywords accepted
    bool caveCoordinates = false;
    std::uint32_t maxOutputTrackers = 0; // how many outputs an order line may assign
    std::uint32_t outputOffset = 0;      // entries of earlier devices in the tracker list

private:
    enum class LineResult { LeftAlone, Consumed, Failed };
    enum class Position { TransmitterOffset, SensorOffset, SensorTranslation };

    LineResult parseLine(const OptionLine& line, bool checkOnly);
    LineResult parsePosition(const OptionLine& line, Position kind, bool checkOnly);
    LineResult parseRotation(const OptionLine& line, bool sensor, bool matrixForm, bool checkOnly);
    LineResult parseCalibration(const OptionLine& line);
    LineResult parseOrder(const OptionLine& line);
    LineResult parseCave(const OptionLine& line);

    bool argCountFits(const OptionLine& line, std::uint32_t least, std::uint32_t most, const char* name) const;
    bool readTrackerId(const OptionLine& line, const char* name, std::uint32_t& realId) const;
    bool readNumbers(const OptionLine& line, std::uint32_t first, std::uint32_t count, float* values,
                     const char* name) const;
    void complain(const OptionLine& line, const char* phrase, const char* name) const;
    void releaseCalibration();

    // The report's lines, each composed whole (CLogLine); numbers take the
    // format that the report has come to (see printReport).
    void writeOffset(CLogLine& line, const Matrix4& offset, const LogNumberFormat& format) const;
    void writeBlock(CLogLine& line, const char* label, const Matrix4& matrix, std::uint32_t realId,
                    LogNumberFormat& offsets) const;

    bool ownsLog = true;
    std::uint32_t trackerCount = 0;
    TrackerMap* trackerMaps = nullptr;
    Matrix4 transmitterOffset;
    Matrix4 transmitterRotation;
    Matrix4 transmitterTransform;
    bool transmitterOffsetSet = false;
    bool transmitterRotationSet = false;
    CCalibH* calibLibrary = nullptr;
    char calibLibraryName[kCalibNameSize] = {};
    char* calibArguments[kMaxCalibArguments] = {};
    std::uint32_t calibArgCount = 0;
    CLogH* log;
};
