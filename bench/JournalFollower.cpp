#include "JournalFollower.h"

#include <thread>
#include <vector>

#include "host/publish/SharedStoragesReader.h"

namespace bench {

bool JournalFollower::follow(const std::string& name, double waitSeconds, const Take& take, std::string& error)
{
    SharedStoragesReader reader;
    const Clock::time_point giveUp =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(waitSeconds));
    while (reader.open(name, error) != SharedStoragesReader::Opened::Ready) {
        if (Clock::now() > giveUp) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    std::vector<SharedJournalSlot> slots(kSharedJournalCapacity);
    for (;;) {
        SharedStoragesReader::Poll poll;
        if (!reader.poll(slots.data(), poll, error)) {
            return false;
        }
        const Clock::time_point seen = Clock::now();
        for (std::uint32_t i = 0; i < poll.count; ++i) {
            take(slots[i], seen);
        }
        if (poll.state == kSharedStateEnded) {
            return true;
        }
        reader.waitForSlots(5000);
    }
}

}  // namespace bench
