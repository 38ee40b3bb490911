#include "RunLoop.h"

#include <atomic>
#include <thread>

#include "Say.h"
#include "publish/Publisher.h"

namespace host {

namespace {

std::atomic<bool> stopFlag{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

}  // namespace

RunLoop::RunLoop(double duration, Publisher& publishers) : duration_(duration), publishers_(publishers) {}

void RunLoop::requestStop()
{
    stopFlag.store(true);
}

bool RunLoop::stopRequested()
{
    return stopFlag.load();
}

int RunLoop::run(std::chrono::milliseconds period, const std::function<int()>& step)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point begin = Clock::now();
    const Clock::time_point deadline =
        begin + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(duration_));
    Clock::time_point refreshed = begin;
    while (!stopRequested() && (duration_ <= 0.0 || Clock::now() < deadline)) {
        const int ended = step();
        if (ended != kGoOn) {
            return ended;
        }
        if (Clock::now() - refreshed >= kRefreshPeriod) {
            publishers_.refresh();
            refreshed = Clock::now();
            if (publishers_.broken()) {
                const std::string which = publishers_.breakage();
                say("an output cannot be written any more" + (which.empty() ? "" : " (" + which + ")") + ": stopping");
                return kExitUsage;
            }
        }
        std::this_thread::sleep_for(period);
    }
    return kExitOk;
}

}  // namespace host
