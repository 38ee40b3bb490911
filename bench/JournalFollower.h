#pragma once
// A consumer of the host's shared storages (--shm NAME) in the bench's
// process, as a program that reads the block would be: it maps the block
// read-only (waiting for the host to make it), waits for the host's wake-up
// between polls, and hands every journal slot to the bench with the moment
// the poll that found it returned. Ends when the host ends.
#include <chrono>
#include <functional>
#include <string>

#include "vantrel/SharedStorages.h"

namespace bench {

class JournalFollower {
public:
    using Clock = std::chrono::steady_clock;
    using Take = std::function<void(const SharedJournalSlot& slot, Clock::time_point seen)>;

    // Follows the block NAME until its host ends (true) or it cannot be
    // read (false, the reason in error); waits up to waitSeconds for the
    // block to appear.
    static bool follow(const std::string& name, double waitSeconds, const Take& take, std::string& error);
};

}  // namespace bench
