#include "RunLoop.h"

#include <atomic>
#include <thread>

#include "Say.h"
#include "platform/HostPlatform.h"
#include "publish/Publisher.h"

namespace host {

namespace {

std::atomic<bool> stopFlag{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");
std::atomic<int> recoveries{0};
static_assert(std::atomic<int>::is_always_lock_free, "read in a signal handler");

const char kEndedAtOnce[] =
    "vantrel-host: a second stop request while a device was brought up again: ending at once\n";

}  // namespace

RunLoop::RunLoop(double duration, Publisher& publishers) : duration_(duration), publishers_(publishers) {}

void RunLoop::requestStop()
{
    if (stopFlag.exchange(true) && recoveries.load() > 0) {
        platform::endProcessNow(kEndedAtOnce, kExitInterrupted);
    }
}

void RunLoop::recoveryBegins()
{
    ++recoveries;
}

void RunLoop::recoveryEnds()
{
    --recoveries;
}

bool RunLoop::stopRequested()
{
    return stopFlag.load();
}

int RunLoop::run(std::chrono::milliseconds period, const std::function<int()>& step, const Wait& wait)
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
        if (wait) {
            wait(period);
        } else {
            std::this_thread::sleep_for(period);
        }
    }
    return kExitOk;
}

}  // namespace host
