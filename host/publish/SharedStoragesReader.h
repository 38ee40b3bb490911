#pragma once
// A reader of another process's shared storages block
// (vantrel/SharedStorages.h), as `vantrel-host watch` uses it: the block is
// mapped read-only but for the mutex, and the reader takes the mutex only to
// copy what it needs.
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

    // Maps the block NAME and checks its magic, version and sizes. The first
    // poll returns the oldest samples that the journal still holds. A block
    // that is not there yet or that its host is still creating (no magic
    // yet) is waited for, up to two seconds.
    bool attach(const std::string& name, std::string& error);

    struct Poll {
        std::uint32_t count = 0;   // slots copied
        std::uint32_t missed = 0;  // slots overwritten before this reader came to them
        std::uint32_t state = kSharedStateSettingUp;
        bool ownerDied = false;    // the lock found the mutex's owner dead (and recovered it)
    };

    // Copies the journal slots written since the last poll (at most the
    // journal's capacity) into `slots`, which has room for
    // kSharedJournalCapacity slots, and the device table into `devices`.
    Poll poll(SharedJournalSlot* slots, SharedStoragesHeader& devices);

    // Whether the process that created the block still runs.
    bool hostAlive() const;

    // The lock and unlock of the block's mutex, for a test's own use.
    platform::LockResult lock();
    void unlock();

private:
    enum class Attach { Done, NotReady, Failed };
    Attach tryAttach(const std::string& name, std::string& error);

    platform::SharedMemory memory_;
    platform::OsHandle mutex_ = nullptr;
    const SharedStoragesHeader* header_ = nullptr;
    const SharedJournalSlot* journal_ = nullptr;
    std::uint32_t read_ = 0;
    bool first_ = true;
};
