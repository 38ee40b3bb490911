#pragma once
// A flock of tracker units on a pseudo-terminal: it answers the host's
// commands as the units would, keeps every unit's state, records every
// command with the bus address it went to, and streams position/angles
// records after STREAM until POINT or SLEEP.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "CommandDecoder.h"
#include "FlockSetup.h"
#include "PseudoTerminal.h"

namespace flocksim {

class FlockSimulator {
public:
    explicit FlockSimulator(Setup setup);
    ~FlockSimulator();
    FlockSimulator(const FlockSimulator&) = delete;
    FlockSimulator& operator=(const FlockSimulator&) = delete;

    // Opens the pseudo-terminal and starts serving it on a thread of its own.
    // False with a reason when the set-up is unusable or the line cannot be
    // made.
    bool start(std::string& error);
    // Stops serving and closes the line. Also done on destruction.
    void stop();

    // The path that a driver opens as its serial port: the set-up's link
    // when it has one, else the pseudo-terminal's own.
    std::string linePath() const;
    // The line itself, for a look at the settings a driver left on it (after
    // a hang-up that ended, the new pseudo-terminal).
    PseudoTerminal& line() { return line_; }

    // Every command received so far, in order (of a long run, at least the
    // last 1024).
    std::vector<Command> commands() const;
    // Every byte received so far, in order (at least the last 16384).
    std::vector<std::uint8_t> received() const;
    void clearLog();
    // Counts every change of received(): a byte received or the log cleared.
    std::uint64_t receivedChanges() const;
    // Waits until at least count commands are in the log; false on time-out.
    bool waitForCommands(std::size_t count, int timeoutMs) const;
    // Waits until at least count records went out; false on time-out.
    bool waitForRecords(std::uint64_t count, int timeoutMs) const;

    // State of the unit at a bus address (a default state for no unit).
    UnitState unit(std::uint32_t address) const;
    FlockState flock() const;
    std::uint64_t recordsSent() const;
    bool hungUp() const;
    // Every fault done to the stream so far, in order (at least the last
    // 4096).
    std::vector<FaultMark> faultMarks() const;

    // Hangs up at once, as the fault knob does after its count of records;
    // with backAfter, the flock is back after that time (Close: on a new
    // pseudo-terminal, under the same link name).
    void hangUpNow(HangUp how, std::chrono::milliseconds backAfter = std::chrono::milliseconds(0));
    // Called on the simulator's thread with the new pseudo-terminal's path
    // when a closed line comes back.
    void onNewLine(std::function<void(const std::string& path)> observer);

    // Called on the simulator's thread for every record that the phasing
    // byte of the next one closed (a driver knows a record is whole only
    // then), with the moment that byte was handed to the line: just before
    // the write that put it there. Set before start; for measuring how long a
    // record takes to reach whoever reads the driver's samples.
    using ClosingStamp =
        std::function<void(std::uint32_t address, std::uint64_t cycle, std::chrono::steady_clock::time_point closed)>;
    void stampClosingBytes(ClosingStamp stamp);

    void setMotion(Motion motion);
    // Puts bytes on the line as they are, in one write.
    void send(std::vector<std::uint8_t> bytes);
    // Puts bytes on the line now and then every interval, until called
    // again (no bytes or a zero interval: no more).
    void sendEvery(std::vector<std::uint8_t> bytes, std::chrono::milliseconds interval);
    // Called on the simulator's thread for every command received.
    void onCommand(std::function<void(const Command&)> observer);

private:
    using Clock = std::chrono::steady_clock;
    struct Chunk {
        std::vector<std::uint8_t> bytes;
        bool record;
        std::uint64_t cycle = 0;     // a record's measurement cycle
        std::uint32_t address = 0;   // and its unit's bus address
        bool begun = false;          // a record's first byte is on the line
        Clock::time_point due{};     // not before (a spread cycle's record)
    };

    void run();
    void receive(const std::uint8_t* bytes, std::size_t count);
    void handle(const Command& command);
    void setStreaming(std::uint32_t address, bool on, bool answerOnce);
    void leaveLineAsFound();
    void endStreamForModeChange();
    bool anyStreaming() const;
    void makeRecord(std::uint32_t address, std::uint64_t cycle);
    void makeCycle();
    void reply(std::vector<std::uint8_t> bytes);
    void flush();
    // With finishesGroup the line carries bytes at its baud rate: how many
    // it takes now, and how long until it takes one.
    std::size_t lineAllowance();
    Clock::duration lineWait();
    void hangUp(HangUp how, Clock::duration backAfter);
    void comeBack();
    bool makeLink(std::string& error);
    void removeLink();
    UnitState* unitAt(std::uint32_t address);
    // The faults of the line (Faults), applied to a record as it is made,
    // after it and to the status reply.
    void damageRecord(std::vector<std::uint8_t>& bytes);
    // The set-up's measurement noise, on a sample's words.
    void addMeasurementNoise(Sample& sample);
    void addNoise();
    void garble(std::vector<std::uint8_t>& bytes, std::size_t from, std::size_t count);
    void markFault(FaultKind kind, bool openingLost);
    void trimStatusReply(std::vector<std::uint8_t>& status) const;

    Setup setup_;
    PseudoTerminal line_;
    std::thread thread_;
    int wake_[2] = {-1, -1};

    // Shared with the callers, under mutex_.
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    bool stopping_ = false;
    std::vector<UnitState> units_;
    FlockState flock_;
    std::vector<Command> log_;
    std::vector<std::uint8_t> received_;
    std::uint64_t receivedChanges_ = 0;
    std::deque<Chunk> injected_;
    std::vector<std::uint8_t> repeated_;
    Clock::duration repeatInterval_{};
    Clock::time_point nextRepeat_;
    std::function<void(const Command&)> observer_;
    std::uint64_t recordsSent_ = 0;
    bool hungUp_ = false;
    bool hangUpPending_ = false;
    bool hangUpRequested_ = false;
    HangUp requestedHangUp_ = HangUp::Silence;
    Clock::duration requestedBackAfter_{};
    std::string slavePath_;  // the pseudo-terminal's path, also for other threads
    std::function<void(const std::string&)> newLineObserver_;

    // A hang-up that ends (the simulator's thread, and hungUp_ under mutex_).
    bool outageEnds_ = false;
    HangUp outage_ = HangUp::Silence;
    Clock::time_point backAt_;

    // The simulator's thread only (handle() runs there too).
    CommandDecoder decoder_;
    std::deque<Chunk> output_;
    std::uint64_t cycle_ = 0;
    std::uint64_t recordsMade_ = 0;
    Clock::time_point nextCycle_;
    std::minstd_rand random_;
    std::minstd_rand noiseRandom_;  // the measurement noise's, so that it leaves the faults as they were
    std::normal_distribution<double> normal_;
    // Shared like the log (written where records are made, under mutex_).
    std::vector<FaultMark> faultMarks_;
    std::size_t marksForgotten_ = 0; // marks taken out of faultMarks_ to keep its size
    std::size_t burstLeft_ = 0;     // bytes of a burst still to come over the next records
    std::size_t burstMark_ = 0;     // its mark, counting the forgotten ones
    Clock::time_point lineFreeAt_;  // with finishesGroup: when the line has sent what it was given
    ClosingStamp closingStamp_;
    std::uint32_t lastRecordAddress_ = 0;  // the last record begun on the line (0: none yet)
    std::uint64_t lastRecordCycle_ = 0;
};

}  // namespace flocksim
