#include "FlockSimulator.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <utility>

#include "WineComLink.h"

namespace flocksim {

namespace {

// More queued than this and the line is not being read: a cycle that finds
// the queue this full is lost, as it would be on a real line.
constexpr std::size_t kMaxQueued = 512;

// A line that carries bytes at its rate is handed them this far ahead of
// time, so that the simulator wakes once per few bytes at high rates.
constexpr std::chrono::milliseconds kLineLead{2};

// The time a byte takes on a line of the pseudo-terminal's baud rate (10 bits
// a byte); the settings' rate when it is not one of the usual ones.
std::chrono::nanoseconds byteTime(const termios& settings)
{
    struct Rate {
        speed_t code;
        long baud;
    };
    static const Rate kRates[] = {{B1200, 1200},   {B2400, 2400},   {B4800, 4800},   {B9600, 9600},
                                  {B19200, 19200}, {B38400, 38400}, {B57600, 57600}, {B115200, 115200}};
    const speed_t code = cfgetospeed(&settings);
    long baud = 38400;
    for (const Rate& rate : kRates) {
        if (rate.code == code) {
            baud = rate.baud;
        }
    }
    return std::chrono::nanoseconds(10L * 1000000000L / baud);
}

// What the logs keep: at least the last so many entries, at most twice as
// many, so that a simulator that runs for hours under faults keeps its size.
constexpr std::size_t kKeptBytes = 16384;
constexpr std::size_t kKeptCommands = 1024;
constexpr std::size_t kKeptFaultMarks = 4096;

// Forgets the oldest entries of a log once it holds twice its limit; returns
// how many it forgot.
template <typename Entry>
std::size_t keepRecent(std::vector<Entry>& log, std::size_t limit)
{
    if (log.size() < 2 * limit) {
        return 0;
    }
    const std::size_t forgotten = log.size() - limit;
    log.erase(log.begin(), log.begin() + static_cast<long>(forgotten));
    return forgotten;
}

std::uint16_t littleEndianWord(const std::vector<std::uint8_t>& bytes, std::size_t at)
{
    return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

}  // namespace

FlockSimulator::FlockSimulator(Setup setup)
    : setup_(std::move(setup)),
      units_(setup_.units.size()),
      decoder_(setup_.maxAddress),
      random_(setup_.faults.seed),
      noiseRandom_(setup_.faults.seed)
{
}

FlockSimulator::~FlockSimulator()
{
    stop();
}

bool FlockSimulator::start(std::string& error)
{
    if (setup_.maxAddress != 14 && setup_.maxAddress != 30 && setup_.maxAddress != 126) {
        error = "the addressing mode is 14, 30 or 126 units";
        return false;
    }
    if (setup_.units.empty() || setup_.units.size() > setup_.maxAddress) {
        error = "a flock has 1 to " + std::to_string(setup_.maxAddress) + " units in this addressing mode";
        return false;
    }
    if (thread_.joinable()) {
        error = "already started";
        return false;
    }
    if (!line_.open(error)) {
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        slavePath_ = line_.slavePath();
    }
    if (!makeLink(error)) {
        line_.close();
        return false;
    }
    if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
        error = "cannot create a pipe";
        removeLink();
        line_.close();
        return false;
    }
    stopping_ = false;
    leaveLineAsFound();
    thread_ = std::thread([this] { run(); });
    return true;
}

void FlockSimulator::stop()
{
    if (thread_.joinable()) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        const char byte = 0;
        (void)!::write(wake_[1], &byte, 1);
        thread_.join();
    }
    for (int& fd : wake_) {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    }
    removeLink();
    line_.close();
}

std::string FlockSimulator::linePath() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return setup_.linkPath.empty() ? slavePath_ : setup_.linkPath;
}

// The link to the line never leads nowhere while it is made again.
bool FlockSimulator::makeLink(std::string& error)
{
    if (!setup_.linkPath.empty() && !WineComLink::swapLink(setup_.linkPath, line_.slavePath())) {
        error = "cannot make the link " + setup_.linkPath + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

void FlockSimulator::removeLink()
{
    if (!setup_.linkPath.empty()) {
        ::unlink(setup_.linkPath.c_str());
    }
}

std::vector<Command> FlockSimulator::commands() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return log_;
}

std::vector<std::uint8_t> FlockSimulator::received() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
}

void FlockSimulator::clearLog()
{
    std::lock_guard<std::mutex> lock(mutex_);
    log_.clear();
    received_.clear();
    ++receivedChanges_;
}

std::uint64_t FlockSimulator::receivedChanges() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return receivedChanges_;
}

bool FlockSimulator::waitForCommands(std::size_t count, int timeoutMs) const
{
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return log_.size() >= count; });
}

bool FlockSimulator::waitForRecords(std::uint64_t count, int timeoutMs) const
{
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return recordsSent_ >= count; });
}

UnitState FlockSimulator::unit(std::uint32_t address) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return address >= 1 && address <= units_.size() ? units_[address - 1] : UnitState{};
}

FlockState FlockSimulator::flock() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return flock_;
}

std::vector<FaultMark> FlockSimulator::faultMarks() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return faultMarks_;
}

std::uint64_t FlockSimulator::recordsSent() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return recordsSent_;
}

bool FlockSimulator::hungUp() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return hungUp_;
}

void FlockSimulator::hangUpNow(HangUp how, std::chrono::milliseconds backAfter)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        hangUpRequested_ = true;
        requestedHangUp_ = how;
        requestedBackAfter_ = backAfter;
    }
    const char byte = 0;
    (void)!::write(wake_[1], &byte, 1);
}

void FlockSimulator::onNewLine(std::function<void(const std::string& path)> observer)
{
    std::lock_guard<std::mutex> lock(mutex_);
    newLineObserver_ = std::move(observer);
}

void FlockSimulator::stampClosingBytes(ClosingStamp stamp)
{
    closingStamp_ = std::move(stamp);
}

void FlockSimulator::setMotion(Motion motion)
{
    std::lock_guard<std::mutex> lock(mutex_);
    setup_.motion = std::move(motion);
}

void FlockSimulator::send(std::vector<std::uint8_t> bytes)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        injected_.push_back(Chunk{std::move(bytes), false});
    }
    const char byte = 0;
    (void)!::write(wake_[1], &byte, 1);
}

void FlockSimulator::sendEvery(std::vector<std::uint8_t> bytes, std::chrono::milliseconds interval)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        repeatInterval_ = bytes.empty() ? Clock::duration{} : Clock::duration(interval);
        repeated_ = repeatInterval_ > Clock::duration{} ? std::move(bytes) : std::vector<std::uint8_t>{};
        nextRepeat_ = Clock::now();
    }
    const char byte = 0;
    (void)!::write(wake_[1], &byte, 1);
}

void FlockSimulator::onCommand(std::function<void(const Command&)> observer)
{
    std::lock_guard<std::mutex> lock(mutex_);
    observer_ = std::move(observer);
}

UnitState* FlockSimulator::unitAt(std::uint32_t address)
{
    return address >= 1 && address <= units_.size() ? &units_[address - 1] : nullptr;
}

bool FlockSimulator::anyStreaming() const
{
    return std::any_of(units_.begin(), units_.end(), [](const UnitState& unit) { return unit.streaming; });
}

void FlockSimulator::run()
{
    std::uint8_t input[256];
    for (;;) {
        bool streaming = false;
        bool hangUpRequested = false;
        HangUp requestedHow = HangUp::Silence;
        Clock::duration requestedBackAfter{};
        bool repeating = false;
        Clock::time_point nextRepeat;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_) {
                return;
            }
            hangUpRequested = hangUpRequested_ && !hungUp_;
            hangUpRequested_ = false;
            requestedHow = requestedHangUp_;
            requestedBackAfter = requestedBackAfter_;
            while (!injected_.empty()) {
                output_.push_back(std::move(injected_.front()));
                injected_.pop_front();
            }
            streaming = !hungUp_ && !hangUpPending_ && anyStreaming();
            repeating = !repeated_.empty() && !hungUp_;
            nextRepeat = nextRepeat_;
        }
        if (hangUpRequested) {
            // Closed here, on the thread that polls the line, so that the
            // close takes effect at once.
            hangUp(requestedHow, requestedBackAfter);
            continue;
        }
        if (outageEnds_ && Clock::now() >= backAt_) {
            comeBack();
            continue;
        }
        const bool fast = setup_.rate <= 0.0;
        // The first of the moments the thread has to act at (none: wait for
        // the line or a wake-up only), to the nanosecond: the cycles come at
        // their rate, not at the next whole millisecond.
        bool timed = false;
        Clock::time_point until;
        const auto actAt = [&](Clock::time_point at) {
            until = timed ? std::min(until, at) : at;
            timed = true;
        };
        if (streaming && !fast) {
            actAt(nextCycle_);
        }
        if (repeating) {
            actAt(nextRepeat);
        }
        if (outageEnds_) {
            actAt(backAt_);
        }
        bool wantWrite = !output_.empty() || (streaming && fast);
        if (!output_.empty() && output_.front().due > Clock::now()) {
            wantWrite = false;
            actAt(output_.front().due);
        }
        if (setup_.finishesGroup && !output_.empty()) {
            // The line takes its next byte only when it has sent the last.
            const Clock::duration wait = lineWait();
            if (wait > Clock::duration::zero()) {
                wantWrite = false;
                actAt(Clock::now() + wait);
            }
        }
        pollfd fds[2] = {{line_.master(), static_cast<short>(POLLIN | (wantWrite ? POLLOUT : 0)), 0},
                         {wake_[0], POLLIN, 0}};
        timespec timeout{};
        if (timed) {
            const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(until - Clock::now()).count();
            timeout.tv_sec = left > 0 ? static_cast<time_t>(left / 1000000000) : 0;
            timeout.tv_nsec = left > 0 ? static_cast<long>(left % 1000000000) : 0;
        }
        if (::ppoll(fds, 2, timed ? &timeout : nullptr, nullptr) < 0 && errno != EINTR) {
            return;
        }
        if ((fds[1].revents & POLLIN) != 0) {
            char drain[64];
            while (::read(wake_[0], drain, sizeof drain) > 0) {
            }
        }
        if ((fds[0].revents & POLLIN) != 0) {
            const ssize_t n = ::read(line_.master(), input, sizeof input);
            if (n > 0) {
                receive(input, static_cast<std::size_t>(n));
            }
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            const Clock::time_point now = Clock::now();
            if (!repeated_.empty() && !hungUp_ && now >= nextRepeat_) {
                output_.push_back(Chunk{repeated_, false});
                nextRepeat_ += repeatInterval_;
                if (nextRepeat_ < now) {
                    nextRepeat_ = now + repeatInterval_;
                }
            }
            streaming = !hungUp_ && !hangUpPending_ && anyStreaming();
            if (streaming && output_.size() < kMaxQueued) {
                if (fast) {
                    if (output_.empty()) {
                        makeCycle();
                    }
                } else if (now >= nextCycle_) {
                    makeCycle();
                    const auto period = std::chrono::duration_cast<Clock::duration>(
                        std::chrono::duration<double>(1.0 / setup_.rate));
                    nextCycle_ += period;
                    if (nextCycle_ < now) {
                        nextCycle_ = now + period;  // fell behind: no burst to catch up
                    }
                }
            }
        }
        flush();
    }
}

void FlockSimulator::receive(const std::uint8_t* bytes, std::size_t count)
{
    std::vector<Command> completed;
    std::function<void(const Command&)> observer;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (outageEnds_ && hungUp_) {
            return;  // a pulled cable, a flock switched off: nothing arrives
        }
        for (std::size_t i = 0; i < count; ++i) {
            received_.push_back(bytes[i]);
            keepRecent(received_, kKeptBytes);
            ++receivedChanges_;
            Command command;
            if (decoder_.feed(bytes[i], command)) {
                log_.push_back(command);
                keepRecent(log_, kKeptCommands);
                if (!hungUp_ && !hangUpPending_) {
                    handle(command);
                }
                completed.push_back(std::move(command));
            }
        }
        observer = observer_;
    }
    changed_.notify_all();
    if (observer) {
        for (const Command& command : completed) {
            observer(command);
        }
    }
}

void FlockSimulator::setStreaming(std::uint32_t address, bool on, bool answerOnce)
{
    UnitState* unit = unitAt(address);
    if (unit == nullptr) {
        return;
    }
    if (on && !unit->streaming && !anyStreaming()) {
        nextCycle_ = Clock::now();
    }
    unit->streaming = on;
    if (answerOnce && setup_.units[address - 1].receiver && setup_.units[address - 1].running) {
        makeRecord(address, cycle_);
    }
}

// The faults of a line that an earlier host left behind, in place before the
// serving thread starts.
void FlockSimulator::leaveLineAsFound()
{
    const LeftOver& faults = setup_.leftOver;
    for (std::size_t i = 0; i < units_.size(); ++i) {
        units_[i].buttonMode = setup_.units[i].buttonModeAtStart;
    }
    if (!faults.staleBytes.empty()) {
        output_.push_back(Chunk{faults.staleBytes, false});
    }
    if (faults.streamingAtStart) {
        std::lock_guard<std::mutex> lock(mutex_);
        for (UnitState& unit : units_) {
            unit.groupMode = true;
            unit.streaming = true;
        }
        nextCycle_ = Clock::now();
    }
}

// A flock that changes its group mode stops streaming, and the records it
// had not yet put on the line are not sent any more; with finishesGroup the
// records of the cycle under way (that of the first one waiting) still are.
void FlockSimulator::endStreamForModeChange()
{
    if (!anyStreaming()) {
        return;
    }
    for (UnitState& unit : units_) {
        unit.streaming = false;
    }
    const auto underWay = std::find_if(output_.begin(), output_.end(), [](const Chunk& chunk) { return chunk.record; });
    const bool finish = setup_.finishesGroup && underWay != output_.end();
    const std::uint64_t cycle = finish ? underWay->cycle : 0;
    output_.erase(std::remove_if(output_.begin(), output_.end(),
                                 [&](const Chunk& chunk) { return chunk.record && !(finish && chunk.cycle == cycle); }),
                  output_.end());
}

void FlockSimulator::handle(const Command& command)
{
    if (!command.recognised) {
        return;
    }
    const std::vector<std::uint8_t>& bytes = command.bytes;
    const bool routed = command.address != 0;
    const std::uint32_t target = routed ? command.address : setup_.lineAddress;
    UnitState* unit = unitAt(target);
    const std::uint8_t code = bytes[0];
    // Any command but SLEEP wakes what it reaches: its unit, or without a
    // prefix the whole flock.
    if (code != kSleep) {
        if (routed) {
            if (unit != nullptr) {
                unit->asleep = false;
            }
        } else {
            for (UnitState& each : units_) {
                each.asleep = false;
            }
        }
    }
    // STREAM and POINT without a prefix reach every unit in group mode.
    const UnitState* lineUnit = unitAt(setup_.lineAddress);
    const bool wholeFlock = !routed && lineUnit != nullptr && lineUnit->groupMode;
    switch (code) {
    case kChangeValue:
        if (unit == nullptr && bytes[1] != kParamAutoConfig) {
            return;
        }
        switch (bytes[1]) {
        case kParamScaling: unit->scaling = littleEndianWord(bytes, 2); break;
        case kParamFilter:
            unit->filterSet = true;
            unit->filter = littleEndianWord(bytes, 2);
            break;
        case kParamMeasurementRate: unit->measurementRate = littleEndianWord(bytes, 2); break;
        case kParamGroupMode:
            endStreamForModeChange();
            unit->groupMode = bytes[2] != 0;
            break;
        case kParamAutoConfig: flock_.autoConfigUnits = bytes[2]; break;
        default: break;
        }
        return;
    case kExamineValue:
        if (bytes[1] == kParamGroupMode) {
            const int value = setup_.groupModeReply >= 0 ? setup_.groupModeReply
                                                         : (unit != nullptr && unit->groupMode ? 1 : 0);
            reply({static_cast<std::uint8_t>(value)});
        } else {
            std::vector<std::uint8_t> status(setup_.maxAddress);
            for (std::uint32_t address = 1; address <= setup_.maxAddress; ++address) {
                status[address - 1] = setup_.statusOf(address);
            }
            trimStatusReply(status);
            if (!status.empty()) {
                reply(std::move(status));
            }
        }
        return;
    case kNextTransmitter:
        flock_.transmitterAddress = bytes[1] >> 4;
        flock_.transmitterNumber = bytes[1] & 0x0Fu;
        return;
    case kStream:
    case kPoint:
        if (wholeFlock) {
            for (std::uint32_t address = 1; address <= units_.size(); ++address) {
                setStreaming(address, code == kStream, code == kPoint);
            }
        } else {
            setStreaming(target, code == kStream, code == kPoint);
        }
        return;
    case kSleep:
        for (std::uint32_t address = 1; address <= units_.size(); ++address) {
            if (!routed || address == target) {
                units_[address - 1].asleep = true;
                units_[address - 1].streaming = false;
            }
        }
        return;
    default:
        break;
    }
    if (unit == nullptr) {
        return;
    }
    switch (code) {
    case kHemisphere: unit->hemisphere = static_cast<std::uint16_t>((bytes[1] << 8) | bytes[2]); break;
    case kReferenceFrame:
        for (int i = 0; i < 3; ++i) {
            unit->referenceFrame[i] = static_cast<std::int16_t>(littleEndianWord(bytes, 1 + 2 * i));
        }
        unit->referenceFrameSet = true;
        break;
    case kPositionAngles: unit->positionAngles = true; break;
    case kSync: unit->sync = bytes[1]; break;
    case kButtonMode:
        if (!setup_.units[target - 1].ignoresButtonMode) {
            unit->buttonMode = bytes[1] != 0;
        }
        break;
    default: unit->reportRate = code; break;  // Q, R, S or T
    }
}

void FlockSimulator::reply(std::vector<std::uint8_t> bytes)
{
    output_.push_back(Chunk{std::move(bytes), false});
}

void FlockSimulator::makeRecord(std::uint32_t address, std::uint64_t cycle)
{
    if (hangUpPending_ || hungUp_) {
        return;
    }
    const UnitState& unit = units_[address - 1];
    const UnitState* lineUnit = unitAt(setup_.lineAddress);
    const bool groupMode = lineUnit != nullptr && lineUnit->groupMode;
    Sample sample = setup_.motion ? setup_.motion(address, cycle) : Sample{};
    addMeasurementNoise(sample);
    std::uint8_t record[kMaxRecordLength];
    const std::size_t length =
        encodeRecord(sample, setup_.units[address - 1].mouse && unit.buttonMode, groupMode ? address : 0, record);
    Chunk chunk{std::vector<std::uint8_t>(record, record + length), true, cycle, address};
    ++recordsMade_;
    damageRecord(chunk.bytes);
    output_.push_back(std::move(chunk));
    addNoise();
    const Faults& faults = setup_.faults;
    if (faults.hangUpAfter != 0 && recordsMade_ == faults.hangUpAfter) {
        hangUpPending_ = true;
    }
}

void FlockSimulator::makeCycle()
{
    const auto reports = [this](std::uint32_t address) {
        const UnitState& unit = units_[address - 1];
        const UnitSetup& setup = setup_.units[address - 1];
        return unit.streaming && !unit.asleep && setup.receiver && setup.running;
    };
    std::uint32_t count = 0;
    for (std::uint32_t address = 1; address <= units_.size(); ++address) {
        count += reports(address) ? 1 : 0;
    }
    // Spread: the k-th record of the cycle leaves k n-ths of the cycle's
    // period after the first.
    const Clock::time_point begin = Clock::now();
    const double step = setup_.spreadCycle && setup_.rate > 0.0 && count > 0 ? 1.0 / (setup_.rate * count) : 0.0;
    std::uint32_t k = 0;
    for (std::uint32_t address = 1; address <= units_.size(); ++address) {
        if (reports(address)) {
            const std::size_t before = output_.size();
            makeRecord(address, cycle_);
            if (output_.size() > before) {
                output_[before].due =
                    begin + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(k * step));
            }
            ++k;
        }
    }
    ++cycle_;
}

std::size_t FlockSimulator::lineAllowance()
{
    termios settings{};
    if (!line_.lineSettings(settings)) {
        return 0;
    }
    const Clock::time_point now = Clock::now();
    if (lineFreeAt_ < now) {
        lineFreeAt_ = now;
    }
    const Clock::time_point horizon = now + kLineLead;
    if (lineFreeAt_ > horizon) {
        return 0;
    }
    return 1 + static_cast<std::size_t>((horizon - lineFreeAt_) / byteTime(settings));
}

FlockSimulator::Clock::duration FlockSimulator::lineWait()
{
    const Clock::time_point due = lineFreeAt_ - kLineLead;
    const Clock::time_point now = Clock::now();
    return due > now ? due - now : Clock::duration{};
}

void FlockSimulator::flush()
{
    bool wrote = false;
    while (!output_.empty() && line_.master() >= 0) {
        Chunk& chunk = output_.front();
        if (chunk.due > Clock::now()) {
            break;  // a spread cycle's record that is not due yet
        }
        std::size_t size = chunk.bytes.size();
        if (setup_.finishesGroup) {
            size = std::min(size, lineAllowance());
            if (size == 0) {
                break;  // the line is busy with what it was given
            }
        }
        // A record's first byte, its phasing byte, closes the record before
        // it: the moment it is handed to the line.
        const bool opening = chunk.record && !chunk.begun;
        const Clock::time_point handedOver = opening && closingStamp_ ? Clock::now() : Clock::time_point{};
        const ssize_t n = ::write(line_.master(), chunk.bytes.data(), size);
        if (n < 0) {
            break;  // full (or gone): try again when the line takes more
        }
        if (opening && n > 0) {
            chunk.begun = true;
            if (closingStamp_ && lastRecordAddress_ != 0) {
                closingStamp_(lastRecordAddress_, lastRecordCycle_, handedOver);
            }
            lastRecordAddress_ = chunk.address;
            lastRecordCycle_ = chunk.cycle;
        }
        if (setup_.finishesGroup) {
            termios settings{};
            line_.lineSettings(settings);
            lineFreeAt_ += n * byteTime(settings);
        }
        if (static_cast<std::size_t>(n) < chunk.bytes.size()) {
            chunk.bytes.erase(chunk.bytes.begin(), chunk.bytes.begin() + n);
            if (static_cast<std::size_t>(n) < size) {
                break;
            }
            continue;
        }
        if (chunk.record) {
            std::lock_guard<std::mutex> lock(mutex_);
            ++recordsSent_;
            wrote = true;
        }
        output_.pop_front();
    }
    // Hung up before anyone waiting for the last record hears of it, so that
    // they find the line gone (every notification comes from this thread).
    bool pending = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pending = hangUpPending_ && !hungUp_;
    }
    if (pending && output_.empty()) {
        hangUp(setup_.faults.hangUp, std::chrono::milliseconds(setup_.faults.backAfterMs));
    }
    if (wrote) {
        changed_.notify_all();
    }
}

void FlockSimulator::hangUp(HangUp how, Clock::duration backAfter)
{
    output_.clear();
    outageEnds_ = backAfter > Clock::duration::zero();
    outage_ = how;
    backAt_ = Clock::now() + backAfter;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        hungUp_ = true;
        hangUpPending_ = false;
        // A flock that comes back was streaming all along (only the line was
        // gone) or starts afresh (switched off).
        if (!outageEnds_) {
            for (UnitState& unit : units_) {
                unit.streaming = false;
            }
        }
    }
    if (how == HangUp::Close) {
        line_.closeMaster();
        removeLink();
    }
    changed_.notify_all();
}

// The end of a hang-up: a closed line comes back on a new pseudo-terminal
// under the same link; a flock that was switched off comes back as from the
// factory (no group mode, no stream, every setting at its power-up value).
void FlockSimulator::comeBack()
{
    outageEnds_ = false;
    std::string newLine;
    if (outage_ == HangUp::Close) {
        std::string error;
        if (!line_.open(error) || !makeLink(error)) {
            std::fprintf(stderr, "flocksim: the line cannot come back: %s\n", error.c_str());
            return;
        }
        newLine = line_.slavePath();
    }
    std::function<void(const std::string&)> observer;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (outage_ == HangUp::PowerOff) {
            std::fill(units_.begin(), units_.end(), UnitState{});
            flock_ = FlockState{};
            decoder_ = CommandDecoder(setup_.maxAddress);
        }
        if (!newLine.empty()) {
            slavePath_ = newLine;
            observer = newLineObserver_;
        }
        hungUp_ = false;
        nextCycle_ = Clock::now();
    }
    if (observer) {
        observer(newLine);
    }
    changed_.notify_all();
}

void FlockSimulator::damageRecord(std::vector<std::uint8_t>& bytes)
{
    const Faults& faults = setup_.faults;
    // A burst that began in an earlier record goes on over this one.
    if (burstLeft_ > 0) {
        const std::size_t count = std::min(burstLeft_, bytes.size());
        garble(bytes, 0, count);
        burstLeft_ -= count;
        if (burstMark_ >= marksForgotten_) {
            faultMarks_[burstMark_ - marksForgotten_].lastRecord = recordsMade_;
        }
    }
    if (faults.dropEvery != 0 && recordsMade_ % faults.dropEvery == 0) {
        const std::size_t at = random_() % bytes.size();
        bytes.erase(bytes.begin() + static_cast<long>(at));
        markFault(FaultKind::Drop, at == 0);
    }
    if (faults.cutEvery != 0 && recordsMade_ % faults.cutEvery == 0 && bytes.size() > 1) {
        bytes.resize(1 + random_() % (bytes.size() - 1));
        markFault(FaultKind::Cut, false);
    }
    if (faults.burstEvery != 0 && recordsMade_ % faults.burstEvery == 0 && burstLeft_ == 0 && !bytes.empty()) {
        const std::size_t at = random_() % bytes.size();
        const std::size_t count = std::min<std::size_t>(faults.burstLength, bytes.size() - at);
        garble(bytes, at, count);
        burstLeft_ = faults.burstLength - count;
        burstMark_ = marksForgotten_ + faultMarks_.size();
        markFault(FaultKind::Burst, at == 0);
    }
}

void FlockSimulator::addMeasurementNoise(Sample& sample)
{
    if (setup_.positionNoise <= 0.0 && setup_.angleNoise <= 0.0) {
        return;
    }
    for (std::size_t i = 0; i < sample.words.size(); ++i) {
        const double deviation = i < 3 ? setup_.positionNoise : setup_.angleNoise;
        if (deviation <= 0.0) {
            continue;
        }
        double fraction = sample.words[i] / 32767.0 + deviation * normal_(noiseRandom_);
        // Azimuth and roll go round (-180 degrees follows 180), elevation
        // and the position stop at their ends.
        if (i == 3 || i == 5) {
            fraction -= 2.0 * std::floor((fraction + 1.0) / 2.0);
        }
        sample.words[i] = wordFromFraction(i == 4 ? std::max(-0.5, std::min(0.5, fraction)) : fraction);
    }
}

void FlockSimulator::addNoise()
{
    const Faults& faults = setup_.faults;
    if (faults.noiseEvery != 0 && recordsMade_ % faults.noiseEvery == 0) {
        Chunk noise{std::vector<std::uint8_t>(faults.noiseLength), false};
        garble(noise.bytes, 0, noise.bytes.size());
        output_.push_back(std::move(noise));
        markFault(FaultKind::Noise, false);
    }
}

void FlockSimulator::garble(std::vector<std::uint8_t>& bytes, std::size_t from, std::size_t count)
{
    for (std::size_t i = from; i < from + count; ++i) {
        bytes[i] = static_cast<std::uint8_t>(random_() & 0xFFu);
    }
}

void FlockSimulator::markFault(FaultKind kind, bool openingLost)
{
    faultMarks_.push_back(FaultMark{kind, recordsMade_, recordsMade_, openingLost});
    marksForgotten_ += keepRecent(faultMarks_, kKeptFaultMarks);
}

void FlockSimulator::trimStatusReply(std::vector<std::uint8_t>& status) const
{
    const int limit = setup_.faults.statusBytes;
    if (limit >= 0 && static_cast<std::size_t>(limit) < status.size()) {
        status.resize(static_cast<std::size_t>(limit));
    }
}

}  // namespace flocksim
