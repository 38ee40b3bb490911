#pragma once
// The host's side of the shared storages block (vantrel/SharedStorages.h):
// creates the named block, keeps the device table, and publishes every
// received record into the lists (the latest of every entry) and the journal
// (every sample in order), each record framed by its bookends. Readers take
// no lock: the host never waits for one. The publisher of --shm NAME; its
// calls come from the device threads at once and are ordered by a lock of
// this process's own.
#include <cstdint>
#include <mutex>
#include <string>

#include "Publisher.h"
#include "platform/SharedMemory.h"
#include "vantrel/SharedStorages.h"

class SharedStorages : public host::Publisher {
public:
    // The permissions of a new block unless the user gives others.
    static constexpr std::uint32_t kDefaultMode = 0600;

    SharedStorages() = default;
    ~SharedStorages() override;
    SharedStorages(const SharedStorages&) = delete;
    SharedStorages& operator=(const SharedStorages&) = delete;

    // Creates the block NAME with the permissions `mode`, all of its memory
    // reserved. A block of that name is replaced only when it is of this
    // format and version and its host has ended or is gone; anything else
    // is left as it is. On failure `error` says why.
    bool create(const std::string& name, std::uint32_t mode, std::string& error);

    // Enters a device into the table, before setRunning. False when the
    // table is full or its entries are not within the lists.
    bool addDevice(const char* deviceName, std::uint32_t trackerFirst, std::uint32_t trackerCount,
                   std::uint32_t controllerFirst, std::uint32_t controllerCount,
                   std::uint32_t predictMicroseconds = 0);

    // The devices are running: readers may follow.
    void setRunning();

    // Publishes the entries of one received record (network byte order, as
    // the storages held them): into their lists, and into the journal,
    // tracker before controller. predicted: the tracker's pose is a
    // prediction, and measured (not null then) the entry as measured.
    void record(std::uint32_t device, const TrackerData* tracker, const ControllerData* controller,
                bool predicted = false, const TrackerData* measured = nullptr);

    // Marks the block ended and lets go of it (also done by the destructor).
    void close();

    // As a publisher: begin enters the devices and sets the block running,
    // publish records, finish closes.
    Calls calls() const override { return Calls::Concurrent; }
    void begin(const std::vector<host::DeviceInfo>& devices) override;
    void publish(const host::ReceivedRecord& received) override
    {
        record(received.device, received.tracker, received.controller, received.predicted, received.measured);
    }
    // The device's status in the table (one atomic store).
    void status(const host::DeviceStatus& status) override;
    void finish() override { close(); }

private:
    // record's writes, under the writers' lock.
    void write(std::uint32_t device, const TrackerData* tracker, const ControllerData* controller, bool predicted,
               const TrackerData* measured);
    // Why a block of the name that is there already cannot be replaced;
    // empty when it can.
    std::string leftOverProblem(const std::string& name);
    // The prediction's part of a tracker entry and slot (nothing for a
    // controller's).
    struct PoseFacts {
        std::uint32_t flags = 0;
        const std::int32_t* measured = nullptr;  // six words, network byte order
    };
    template <typename Entry>
    void publishEntry(SharedRecordKind kind, std::uint32_t listOffset, std::uint32_t* writes, std::uint32_t device,
                      const decltype(Entry::record)& record, const PoseFacts& facts);
    void appendSlot(SharedJournalSlot& slot);

    platform::SharedMemory memory_;
    unsigned char* block_ = nullptr;
    SharedStoragesHeader* header_ = nullptr;
    // The host's threads among themselves; no reader ever takes it.
    std::mutex writing_;
    // The host's own counts: the block's copies are only written, never read
    // back (another writer cannot lead the host astray).
    std::uint32_t written_ = 0;
    std::uint32_t deviceCount_ = 0;
    std::uint32_t trackerCount_ = 0;
    std::uint32_t controllerCount_ = 0;
    std::uint32_t trackerWrites_[kSharedListCapacity] = {};
    std::uint32_t controllerWrites_[kSharedListCapacity] = {};
};
