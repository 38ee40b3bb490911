// The Win32 port's read-ahead against a model of the system that follows the
// documented rules of ReadFile under COMMTIMEOUTS (Wine follows them only
// loosely, and never lets ClearCommError fail): every read ends when the
// system's own read would, with the bytes it would return.
#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <limits>
#include <vector>

#include "platform/PortReadAhead.h"

namespace {

using platform::kTimeoutMax;
using platform::SerialTimeouts;

constexpr std::uint64_t kNever = std::numeric_limits<std::uint64_t>::max();

// The read time-outs: interval, total multiplier, total constant.
struct Reads {
    std::uint32_t interval;
    std::uint32_t multiplier;
    std::uint32_t constant;
};

// The line as ReadFile and ClearCommError see it, in virtual milliseconds:
// the bytes it holds now and the bytes that arrive later.
class DocumentedLine final : public platform::PortReadAhead::System {
public:
    struct Arrival {
        std::uint64_t at;
        std::uint8_t byte;
    };

    explicit DocumentedLine(const Reads& reads) : timeouts{reads.interval, reads.multiplier, reads.constant, 0, 0} {}

    bool queued(std::uint32_t& count, bool& lineError) override
    {
        ++queueCalls;
        if (queueCountFails) {
            return false;
        }
        count = static_cast<std::uint32_t>(held.size());
        lineError = false;
        return true;
    }

    // ReadFile: returns when count bytes are there, or when a time-out that
    // is in force ends the read; with none in force and the line silent, it
    // never returns (noted in waitedForever).
    bool read(std::uint8_t* buffer, std::uint32_t count, std::uint32_t& done) override
    {
        ++readCalls;
        done = 0;
        takeHeld(buffer, count, done);
        const std::uint32_t interval = timeouts.ReadIntervalTimeout;
        const std::uint32_t multiplier = timeouts.ReadTotalTimeoutMultiplier;
        const std::uint32_t constant = timeouts.ReadTotalTimeoutConstant;
        if (done == count || (interval == kTimeoutMax && multiplier == 0 && constant == 0)) {
            return true;  // all there, or "return at once" with what is there
        }
        const bool firstByteOnly =
            interval == kTimeoutMax && multiplier == kTimeoutMax && constant > 0 && constant < kTimeoutMax;
        if (firstByteOnly && done > 0) {
            return true;
        }
        std::uint64_t totalEnd = kNever;
        if (firstByteOnly) {
            totalEnd = now + constant;
        } else if (multiplier != 0 || constant != 0) {
            totalEnd = now + std::uint64_t{multiplier} * count + constant;
        }
        const bool intervals = !firstByteOnly && interval != 0 && interval != kTimeoutMax;
        std::uint64_t lastByte = now;
        for (;;) {
            std::uint64_t end = totalEnd;
            if (intervals && done > 0 && lastByte + interval < end) {
                end = lastByte + interval;
            }
            const std::uint64_t next = arriving.empty() ? kNever : arriving.front().at;
            if (next == kNever || next > end) {
                if (end == kNever) {
                    waitedForever = true;
                } else {
                    now = end;
                }
                return true;
            }
            now = next;
            while (!arriving.empty() && arriving.front().at == now) {
                held.push_back(arriving.front().byte);
                arriving.pop_front();
            }
            takeHeld(buffer, count, done);
            lastByte = now;
            if (done == count || firstByteOnly) {
                return true;
            }
        }
    }

    void failAborted() override {}

    SerialTimeouts timeouts;
    std::deque<std::uint8_t> held;
    std::deque<Arrival> arriving;
    std::uint64_t now = 0;
    bool queueCountFails = false;
    bool waitedForever = false;
    int readCalls = 0;
    int queueCalls = 0;

private:
    void takeHeld(std::uint8_t* buffer, std::uint32_t count, std::uint32_t& done)
    {
        while (done < count && !held.empty()) {
            buffer[done++] = held.front();
            held.pop_front();
        }
    }
};

struct Outcome {
    bool ok;
    std::vector<std::uint8_t> bytes;
};

Outcome readOnce(platform::PortReadAhead& readAhead, DocumentedLine& line, std::uint32_t count)
{
    std::vector<std::uint8_t> buffer(count);
    std::uint32_t got = 0;
    const bool ok = readAhead.read(line, line.timeouts, false, buffer.data(), count, got);
    buffer.resize(got);
    return {ok, buffer};
}

using Bytes = std::vector<std::uint8_t>;

// What the system's own read returns, and when: the read-ahead returns the
// same bytes no later (with an interval time-out it may return the bytes it
// took at once), and never waits where the system's read would not.
TEST(PortReadAhead, EndsWhenTheSystemsReadWouldEnd)
{
    struct Case {
        const char* name;
        Reads timeouts;
        std::uint32_t count;
        Bytes held;
        std::deque<DocumentedLine::Arrival> arriving;
        Bytes expected;
        std::uint64_t latest;  // the read has ended by then
    };
    const std::vector<Case> cases{
        // An interval time-out and no total one: the system's read returns
        // the queued bytes 100 ms after the last; a second read that waits
        // for its own first byte would wait for ever.
        {"interval only", {100, 0, 0}, 10, {1, 2, 3}, {}, {1, 2, 3}, 100},
        {"interval and total", {100, 0, 5000}, 10, {1, 2, 3}, {{4000, 9}}, {1, 2, 3}, 100},
        {"interval, nothing queued", {100, 0, 0}, 4, {}, {{50, 1}, {120, 2}, {400, 3}}, {1, 2}, 220},
        {"the device's settings", {0, 0, 1000}, 1, {}, {{300, 7}}, {7}, 300},
        {"the device's settings, silent", {0, 0, 1000}, 1, {}, {}, {}, 1000},
        // (The read of the rest has the multiplier's time for the rest only:
        // 20 ms here where the system's read would have 40.)
        {"total for the count", {0, 10, 0}, 4, {1, 2}, {{15, 3}, {18, 4}}, {1, 2, 3, 4}, 18},
        {"at once", {kTimeoutMax, 0, 0}, 10, {1, 2, 3}, {{1, 4}}, {1, 2, 3}, 0},
        {"at once, nothing queued", {kTimeoutMax, 0, 0}, 10, {}, {{1, 4}}, {}, 0},
        {"first byte", {kTimeoutMax, kTimeoutMax, 500}, 10, {}, {{200, 5}, {210, 6}}, {5}, 200},
        {"first byte, queued", {kTimeoutMax, kTimeoutMax, 500}, 10, {1, 2}, {{200, 5}}, {1, 2}, 0},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.name);
        DocumentedLine line(each.timeouts);
        line.held.assign(each.held.begin(), each.held.end());
        line.arriving = each.arriving;
        platform::PortReadAhead readAhead;
        const Outcome outcome = readOnce(readAhead, line, each.count);
        EXPECT_FALSE(line.waitedForever);
        EXPECT_TRUE(outcome.ok);
        EXPECT_EQ(outcome.bytes, each.expected);
        EXPECT_LE(line.now, each.latest);
    }
}

// A port whose driver does not answer the queue count still reads: plainly,
// under its time-outs.
TEST(PortReadAhead, AFailedQueueCountLeavesAPlainRead)
{
    DocumentedLine line({0, 0, 1000});
    line.queueCountFails = true;
    line.held = {7, 8};
    platform::PortReadAhead readAhead;
    Outcome outcome = readOnce(readAhead, line, 1);
    EXPECT_TRUE(outcome.ok);
    EXPECT_EQ(outcome.bytes, Bytes{7});
    outcome = readOnce(readAhead, line, 4);
    EXPECT_TRUE(outcome.ok);
    EXPECT_EQ(outcome.bytes, Bytes{8});
    EXPECT_EQ(line.now, 1000u);
    EXPECT_FALSE(line.waitedForever);
    // "Return at once" returns what the line holds.
    DocumentedLine atOnce({kTimeoutMax, 0, 0});
    atOnce.queueCountFails = true;
    atOnce.held = {5, 6};
    outcome = readOnce(readAhead, atOnce, 4);
    EXPECT_TRUE(outcome.ok);
    EXPECT_EQ(outcome.bytes, (Bytes{5, 6}));
}

// The device reads one byte per call: what the line held comes in one system
// read, and the next calls are served from the read-ahead alone.
TEST(PortReadAhead, OneByteReadsAreServedFromOneSystemRead)
{
    DocumentedLine line({0, 0, 1000});
    line.held = {1, 2, 3, 4, 5};
    platform::PortReadAhead readAhead;
    for (std::uint8_t expected = 1; expected <= 5; ++expected) {
        const Outcome outcome = readOnce(readAhead, line, 1);
        EXPECT_TRUE(outcome.ok);
        EXPECT_EQ(outcome.bytes, Bytes{expected});
    }
    EXPECT_EQ(line.readCalls, 1);
    EXPECT_EQ(line.queueCalls, 1);
    EXPECT_EQ(line.now, 0u);
}

}  // namespace
