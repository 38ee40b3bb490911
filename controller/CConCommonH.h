#pragma once
// The controller common layer: for every real controller of the device (a
// source of buttons and valuators) the map to the output controller, output
// buttons and output valuators that the host sees, a cubic scale per valuator
// and an optional tracker-emulation setting. The maps are filled from the
// controller option lines during init and only read afterwards, by the
// reception path (fillControllerRecord) and by the report.
#include <cstdint>
#include <memory>

#include "common/CLogLine.h"
#include "vantrel/ConfigBlock.h"
#include "vantrel/DataRecords.h"

class CLogH;

// A tracker pose driven by a controller's valuators.
struct TrackerEmulation {
    std::uint32_t trackerIndex = 0;
    float initialValues[6] = {};          // X, Y, Z, Azim, Elev, Roll
    std::uint32_t valuatorAssign[6] = {};  // real valuator driving each of them, 0 = none
    std::uint32_t resetButton = 0;         // real button number, 0 = none
};

// One real controller.
struct ControllerMap {
    ControllerMap();

    std::uint32_t outputId = 0;  // output controller number 1..32, 0 = not published
    std::uint32_t valuatorCount = 0;
    std::uint32_t buttonCount = 0;
    std::uint32_t valuatorOrder[kMaxValuators] = {};  // [real - 1] = output number, 0 = not mapped
    std::uint32_t buttonOrder[kMaxButtons] = {};      // [real - 1] = output number, 0 = not mapped
    float valuatorScale[kMaxValuators][4];            // coefficients of X^3, X^2, X, 1
    std::unique_ptr<TrackerEmulation> emulation;
};

class CConCommonH {
public:
    // Keeps its own copy of the device's logger, or a default one named
    // "CConCommonH" when given none.
    explicit CConCommonH(const CLogH* deviceLog = nullptr);
    ~CConCommonH();
    CConCommonH(const CConCommonH&) = delete;
    CConCommonH& operator=(const CConCommonH&) = delete;

    // Discards earlier maps and makes `count` real controllers with default
    // maps; false without change for a count of 0.
    bool setUp(std::uint32_t count, bool limitIds);
    // Publishes real controller realId (1-based) as outputId with identity
    // valuator and button maps over the given counts (at most 32 each).
    bool setController(std::uint32_t realId, std::uint32_t outputId, std::uint32_t valuatorCount,
                       std::uint32_t buttonCount);
    bool setTrackerEmulation(std::uint32_t realId, std::uint32_t trackerIndex, const float (&initialValues)[6],
                             const std::uint32_t (&valuatorAssign)[6], std::uint32_t resetButton);
    bool clearControllers();
    // Takes the controller option lines of the block; reports every bad line
    // and then fails.
    bool parseOptions(ConfigBlock* block);

    // Reception path. A real controller's samples are published only when
    // its output number is 1..32.
    bool isPublished(std::uint32_t realId) const;
    // Writes the output controller ID, the counts, the layout fields and
    // the buttons of a published real controller into the record, from its
    // map and the unit's button byte. False, with the record untouched, for
    // a real controller that is not published.
    bool fillControllerRecord(std::uint32_t realId, std::uint8_t buttonByte, ControllerData& record) const;

    // The controller settings report on standard output; always true.
    bool printReport() const;

    std::uint32_t getControllerCount() const { return controllerCount; }
    bool getLimitIdsToCounts() const { return limitIdsToCounts; }
    // Null for a real controller number outside 1..controllerCount.
    const ControllerMap* controllerMap(std::uint32_t realId) const;

    // Set by the device: whether the controller-order keywords are left to
    // other layers, how many output controllers an order line may assign,
    // and how many controller entries of earlier devices precede this
    // device's entries in the shared list.
    bool fixedOrder = true;
    std::uint32_t maxOutputControllers = 0;
    std::uint32_t outputOffset = 0;

private:
    enum class LineResult { NotMine, Accepted, Failed };

    ControllerMap* mapOf(std::uint32_t realId) const;

    LineResult parseControllerOrder(const OptionLine& line);
    LineResult parseItemOrder(const OptionLine& line, bool buttons);
    LineResult parseValuatorScale(const OptionLine& line);
    LineResult parseEmulateTracker(const OptionLine& line);
    void reportProblem(const OptionLine& line, const char* phrase, const char* displayName,
                       const char* ending = ".") const;

    // The report's lines, each composed whole on line.
    void writeContinuation(CLogLine& line, std::uint32_t realId) const;
    void writeValuators(CLogLine& line, std::uint32_t realId, const ControllerMap& map) const;
    void writeButtons(CLogLine& line, std::uint32_t realId, const ControllerMap& map) const;
    void writeEmulation(CLogLine& line, std::uint32_t realId, const TrackerEmulation& emulation) const;

    bool ownsLog = true;
    std::uint32_t controllerCount = 0;
    bool limitIdsToCounts = true;
    std::unique_ptr<ControllerMap[]> controllerMaps;
    CLogH* log = nullptr;
};
