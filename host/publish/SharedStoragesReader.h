#pragma once
// A reader of another process's shared storages block
// (vantrel/SharedStorages.h), as `vantrel-host watch` uses it. It maps the
// block read-only and takes no lock. It trusts nothing that it reads there:
// every offset, size and count of the header is checked against the block's
// size before use, the device table and every journal slot against the
// lists, the block's size again at every poll, and a slot that stays torn is
// waited for a bounded time only.
#include <chrono>
#include <cstdint>
#include <string>

#include "platform/SharedMemory.h"
#include "vantrel/SharedStorages.h"

class SharedStoragesReader {
public:
    SharedStoragesReader() = default;
    ~SharedStoragesReader();
    SharedStoragesReader(const SharedStoragesReader&) = delete;
    SharedStoragesReader& operator=(const SharedStoragesReader&) = delete;

    enum class Opened {
        Ready,    // mapped; the header is of this version and fits the block
        Missing,  // no block of that name (or the system refused to open it)
        NoMagic,  // a block without the magic (not shared storages, or not made yet)
        Refused,  // another version, another layout, or damaged
    };
    // One attempt at mapping the block NAME and checking its header; with
    // anything but Ready, `message` says why (for "vantrel-host: ...").
    Opened open(const std::string& name, std::string& message);

    struct Poll {
        std::uint32_t count = 0;   // slots copied
        std::uint32_t missed = 0;  // slots overwritten before this reader came to them
        std::uint32_t state = kSharedStateSettingUp;
        bool devicesTaken = false; // the device table was taken (and checked) in this poll
        // Once the table is taken: the state of each device's line
        // (SharedDeviceStatus) as the host stores it now, kNoStatus for a
        // value that is none.
        std::uint32_t statusCount = 0;
        std::uint32_t statuses[kSharedMaxDevices] = {};
    };
    static constexpr std::uint32_t kNoStatus = 0xFFFFFFFFu;
    // Copies the journal slots written since the last poll (at most the
    // journal's capacity) into `slots`, which has room for
    // kSharedJournalCapacity slots; the first poll starts with the oldest
    // slots that the journal still holds. The first poll that finds the
    // host running takes the device table. False when the block is damaged
    // or shrank: then `message` says how.
    bool poll(SharedJournalSlot* slots, Poll& result, std::string& message);

    // Waits until the host may have written slots that the last poll did not
    // find, at most timeoutMicroseconds (the host wakes its waiters with each
    // record; a block without a host, or a platform without wake-ups, costs
    // the whole time). Returns at once when slots are known to wait.
    void waitForSlots(std::uint32_t timeoutMicroseconds) const;

    // The header as read at open, with the device table once taken: every
    // field checked.
    const SharedStoragesHeader& header() const { return header_; }
    // Whether the process that created the block still runs.
    bool hostAlive() const;

    // How long a slot may stay torn before the block counts as damaged: the
    // host writes a slot in well under a microsecond.
    static constexpr std::chrono::seconds kTornLimit{2};

private:
    struct Copy;
    static void copySlots(void* copy);
    std::string damaged(const std::string& detail) const;
    bool checkHeader(std::string& message) const;
    bool checkDevices(std::string& message) const;
    bool checkSlot(const SharedJournalSlot& slot, std::string& message) const;

    std::string name_;
    platform::SharedMemory memory_;
    const unsigned char* block_ = nullptr;
    SharedStoragesHeader header_{};
    std::uint32_t read_ = 0;
    std::uint32_t written_ = 0;  // the host's count of slots at the last poll
    bool first_ = true;
    bool devicesTaken_ = false;
    // The slot that was torn at the last poll, and since when.
    std::uint32_t tornSlot_ = 0;
    bool torn_ = false;
    std::chrono::steady_clock::time_point tornSince_;
};
