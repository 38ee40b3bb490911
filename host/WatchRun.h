#pragma once
// `vantrel-host watch NAME`: follows the samples of another host's shared
// storages (run --shm NAME) and shows them as run does, with the same
// outputs: the live table, JSON lines or CSV, and a record file. Ends when
// that host ends, when its process is gone, after --duration, on a stop
// request, or (exit 1) when the block turns out to be damaged or shrinks.
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "HostRun.h"
#include "publish/Publisher.h"
#include "publish/SharedStoragesReader.h"

namespace host {

class WatchRun {
public:
    // publishers get the samples; they must outlive the run.
    WatchRun(const std::string& name, Publisher& publishers);

    enum class Attach { Done, NotYet, Failed };
    // One attempt at the block; NotYet while it is not there or has no magic
    // (its host may be making it). message() says why it is not Done.
    Attach attach();
    // One poll: the new samples to the publishers. RunLoop::kGoOn, or the
    // exit code that ends the run (the reason said).
    int step();
    // Until the host writes more, at most the period.
    void waitForMore(std::chrono::milliseconds period) const;

    const std::string& message() const { return message_; }
    // The last attempt found no block of the name at all.
    bool missing() const { return opened_ == SharedStoragesReader::Opened::Missing; }
    std::uint64_t missed() const { return missed_; }

private:
    std::string name_;
    Publisher& publishers_;
    SharedStoragesReader reader_;
    std::unique_ptr<SharedJournalSlot[]> slots_;
    std::string message_;
    SharedStoragesReader::Opened opened_ = SharedStoragesReader::Opened::Missing;
    bool begun_ = false;
    std::uint64_t missed_ = 0;
    // The state of each device's line as last published (a host starts its
    // devices ok).
    std::uint32_t statuses_[kSharedMaxDevices] = {};
};

// The whole of watch: waits up to two seconds for the block, then steps
// every few milliseconds until the run ends.
int watchStorages(const std::string& name, const RunOptions& options);

}  // namespace host
