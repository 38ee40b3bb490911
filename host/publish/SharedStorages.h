#pragma once
// The host's side of the shared storages block (vantrel/SharedStorages.h):
// creates the named block and its mutex, lets the host's two storage objects
// point into it, keeps the device table and appends every received sample to
// the journal. The module sees the storages exactly as it sees any host's.
// The publisher of --shm NAME: its calls come from the device threads at once
// (the block's own mutex orders them).
#include <cstdint>
#include <string>

#include "Publisher.h"
#include "platform/SharedMemory.h"
#include "vantrel/CDataStorage.h"
#include "vantrel/SharedStorages.h"

class CLogH;

class SharedStorages : public host::Publisher {
public:
    SharedStorages() = default;
    ~SharedStorages() override;
    SharedStorages(const SharedStorages&) = delete;
    SharedStorages& operator=(const SharedStorages&) = delete;

    // Creates the block NAME, the mutex and the two storages; `log` speaks
    // for the storages and their mutex object. A block of that name that a
    // host left behind (ended, or its process is gone) is replaced; one that
    // a running host owns is not. On failure `error` says why.
    bool create(const std::string& name, CLogH* log, std::string& error);

    CDataStorage* trackerStorage() { return &trackerStorage_; }
    CDataStorage* controllerStorage() { return &controllerStorage_; }
    const std::string& name() const { return name_; }

    // Enters a device into the table, after its init (its entries are known
    // then). False when the table is full.
    bool addDevice(const char* deviceName, std::uint32_t trackerFirst, std::uint32_t trackerCount,
                   std::uint32_t controllerFirst, std::uint32_t controllerCount);

    // The devices are running: readers may follow.
    void setRunning();

    // Appends the entries of one received record to the journal, tracker
    // before controller, under the mutex.
    void record(std::uint32_t device, const TrackerData* tracker, const ControllerData* controller);

    // Marks the block ended and lets go of it (also done by the destructor).
    void close();

    // As a publisher: the host's storages are these; begin enters the devices
    // and sets the block running, publish appends, finish closes.
    Calls calls() const override { return Calls::Concurrent; }
    host::KeptStorages keptStorages() override { return {&trackerStorage_, &controllerStorage_}; }
    void begin(const std::vector<host::DeviceInfo>& devices) override;
    void publish(const host::ReceivedRecord& received) override
    {
        record(received.device, received.tracker, received.controller);
    }
    // The device's status in the table (one atomic store).
    void status(const host::DeviceStatus& status) override;
    void finish() override { close(); }

private:
    template <typename Entry>
    SharedJournalSlot& fillSlot(std::uint32_t sequence, SharedRecordKind kind, const Entry& entry,
                                std::uint32_t device);
    void lock();
    void unlock();

    platform::SharedMemory memory_;
    platform::OsHandle mutex_ = nullptr;
    SharedStoragesHeader* header_ = nullptr;
    SharedJournalSlot* journal_ = nullptr;
    CMutexH mutexObject_{};
    CDataStorage trackerStorage_{};
    CDataStorage controllerStorage_{};
    std::string name_;
};
