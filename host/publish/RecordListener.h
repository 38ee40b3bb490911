#pragma once
// Receives every record that a device published, as the storages hold it
// (the fields in network byte order): the host copies the changed entries
// once, under the storage's mutex, and hands them over after unlocking.
// One call per received record: its tracker entry, its controller entry, or
// both (null for the one that did not change). Calls come from the device
// threads, possibly from several at once; they must not allocate or block.
#include <cstdint>

#include "vantrel/DataRecords.h"

class RecordListener {
public:
    virtual ~RecordListener() = default;
    virtual void record(std::uint32_t device, const TrackerData* tracker, const ControllerData* controller) = 0;
};
