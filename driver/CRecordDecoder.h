#pragma once
// A whole record to a tracker sample and, for a unit with a mouse, a
// controller sample: the words scaled to feet and degrees, the SRT's
// scaling, the time stamp, the output numbers, the calibration library, the
// transmitter and sensor placement and the mouse's buttons. No port.
#include <cstdint>

#include "common/CSampleClock.h"
#include "common/DataRecords.h"

class CConCommonH;
class CDeviceOptions;
class CRecordAssembler;
class CRecordLengths;
class CTraCommonH;

class CRecordDecoder {
public:
    // Reads the settings of options as they are at each record.
    explicit CRecordDecoder(const CDeviceOptions& options);
    CRecordDecoder(const CRecordDecoder&) = delete;
    CRecordDecoder& operator=(const CRecordDecoder&) = delete;

    // The layers that number and shape the samples (the controller layer
    // may be absent).
    void setLayers(CTraCommonH* trackers, CConCommonH* controllers);

    // Whether a record from this bus address can be published: a unit on
    // the bus with an output tracker number of 1 to 32 and, with a mouse, an
    // output controller number of 1 to 32. Other records are dropped.
    bool recordIsValid(std::uint32_t address) const;

    // What becomes of the record that the assembler just closed. Every
    // record but one to publish is stepped past here: one from beyond the
    // flock's bus or not of its unit's length is dropped as broken, one of a
    // unit without output numbers is whole but skipped, and the first
    // whole-looking one after a run of garbage is not trusted.
    enum class Verdict {
        Publish,  // decode it; the assembler still holds it
        Skip,     // no record of this call: recvData returns
        ReadOn,   // read on for the next record
    };
    Verdict screen(CRecordAssembler& assembler, CRecordLengths& lengths) const;

    // Fills currentTracker (and currentController for a unit with a mouse)
    // from a whole record of length bytes; false for a unit without a
    // tracker and when the calibration library fails.
    bool decodeRecord(std::uint32_t address, const std::uint8_t* record, std::uint32_t length);

    const TrackerData& tracker() const { return currentTracker; }
    const ControllerData& controller() const { return currentController; }
    // The output numbers that the layers' maps give a bus address, 0 for
    // none (the offsets of earlier devices not counted).
    std::uint32_t trackerOutputId(std::uint32_t address) const;
    std::uint32_t controllerOutputId(std::uint32_t address) const;

private:
    const CDeviceOptions& options;
    CTraCommonH* trackerLayer = nullptr;
    CConCommonH* controllerLayer = nullptr;
    TrackerData currentTracker = {};
    ControllerData currentController = {};
    CSampleClock sampleClock;
};
