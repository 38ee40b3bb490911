#pragma once
// The latest sample of every output tracker and controller, for readers on
// other threads (the view's pages). The devices' threads write without a
// lock, a wait or an allocation; a reader takes a whole copy of an entry or,
// when a write was under way meanwhile, tries again (a few times, then
// leaves the entry for its next look). Each entry is framed by two counts of
// its writes, as the shared storages' records are by their bookends: a
// writer raises the first, writes the entry and then raises the second; a
// copy is whole when both were equal around it.
#include <atomic>
#include <cstdint>

#include "Publisher.h"

namespace host {

class LatestSamples {
public:
    // Output IDs 1..32 of each kind.
    static constexpr std::uint32_t kEntries = 32;

    // One entry as a reader gets it.
    struct Entry {
        std::uint32_t writes = 0;       // how often the entry was written (0: never)
        HostSample sample;              // as the device published it
        std::uint32_t unitTracker = 0;  // controllers: the tracker of the same record (0: none)
        std::uint64_t published = 0;    // when the host published it: microseconds since 1970 (UTC)
    };

    LatestSamples() = default;
    LatestSamples(const LatestSamples&) = delete;
    LatestSamples& operator=(const LatestSamples&) = delete;

    // From a device's thread. A sample whose entry another thread is writing
    // at that moment (two devices that publish one ID) is dropped, not
    // waited for; so is one with an ID outside 1..32.
    void put(const HostSample& sample, std::uint32_t unitTracker, std::uint64_t published);

    // A whole copy of entry `id` (1..32) of trackers or controllers. False
    // when it was never written (out.writes is then 0), or was being written
    // at every try (out.writes is not).
    bool get(bool tracker, std::uint32_t id, Entry& out) const;

    // Counts every put that was kept: a reader whose count has not changed
    // need not look at the entries.
    std::uint32_t changes() const { return changes_.load(std::memory_order_acquire); }

private:
    // The entry's words between its two counts.
    static constexpr int kWords = 14;
    struct Slot {
        std::atomic<std::uint32_t> begin{0};
        std::atomic<std::uint32_t> words[kWords] = {};
        std::atomic<std::uint32_t> end{0};
    };

    Slot trackers_[kEntries];
    Slot controllers_[kEntries];
    std::atomic<std::uint32_t> changes_{0};
};

}  // namespace host
