#include "LatestSamples.h"

#include <cstring>

namespace host {

namespace {

// The words of an entry, in this order.
enum Word {
    kDevice,
    kSeconds,
    kMicroseconds,
    kPose,  // six words
    kButtonCount = kPose + 6,
    kButtonBits,
    kUnitTracker,
    kPublishedLow,
    kPublishedHigh,
};

}  // namespace

void LatestSamples::put(const HostSample& sample, std::uint32_t unitTracker, std::uint64_t published)
{
    if (sample.id < 1 || sample.id > kEntries) {
        return;
    }
    Slot& slot = (sample.tracker ? trackers_ : controllers_)[sample.id - 1];
    // Claim the entry: its counts are equal while nobody writes it.
    std::uint32_t writes = slot.end.load(std::memory_order_relaxed);
    if (!slot.begin.compare_exchange_strong(writes, writes + 1, std::memory_order_relaxed)) {
        return;
    }
    std::atomic_thread_fence(std::memory_order_release);
    std::uint32_t words[kWords] = {};
    words[kDevice] = sample.device;
    words[kSeconds] = sample.seconds;
    words[kMicroseconds] = sample.microseconds;
    for (int k = 0; k < 6; ++k) {
        words[kPose + k] = static_cast<std::uint32_t>(sample.pose[k]);
    }
    words[kButtonCount] = sample.buttonCount;
    std::memcpy(&words[kButtonBits], sample.buttonBits, sizeof sample.buttonBits);
    words[kUnitTracker] = unitTracker;
    words[kPublishedLow] = static_cast<std::uint32_t>(published);
    words[kPublishedHigh] = static_cast<std::uint32_t>(published >> 32);
    for (int k = 0; k < kWords; ++k) {
        slot.words[k].store(words[k], std::memory_order_relaxed);
    }
    slot.end.store(writes + 1, std::memory_order_release);
    changes_.fetch_add(1, std::memory_order_release);
}

bool LatestSamples::get(bool tracker, std::uint32_t id, Entry& out) const
{
    if (id < 1 || id > kEntries) {
        return false;
    }
    const Slot& slot = (tracker ? trackers_ : controllers_)[id - 1];
    out.writes = 0;
    for (int attempt = 0; attempt < 8; ++attempt) {
        const std::uint32_t writes = slot.end.load(std::memory_order_acquire);
        if (writes == 0) {
            return false;
        }
        out.writes = writes;
        std::uint32_t words[kWords];
        for (int k = 0; k < kWords; ++k) {
            words[k] = slot.words[k].load(std::memory_order_relaxed);
        }
        std::atomic_thread_fence(std::memory_order_acquire);
        if (slot.begin.load(std::memory_order_relaxed) != writes) {
            continue;  // written meanwhile
        }
        out.sample = HostSample{};
        out.sample.tracker = tracker;
        out.sample.id = id;
        out.sample.device = words[kDevice];
        out.sample.seconds = words[kSeconds];
        out.sample.microseconds = words[kMicroseconds];
        for (int k = 0; k < 6; ++k) {
            out.sample.pose[k] = static_cast<std::int32_t>(words[kPose + k]);
        }
        out.sample.buttonCount = words[kButtonCount];
        std::memcpy(out.sample.buttonBits, &words[kButtonBits], sizeof out.sample.buttonBits);
        out.unitTracker = words[kUnitTracker];
        out.published = (std::uint64_t{words[kPublishedHigh]} << 32) | words[kPublishedLow];
        return true;
    }
    return false;
}

}  // namespace host
