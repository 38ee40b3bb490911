#pragma once
// The state of one device's line as the run shows it: ok, silent (no record
// for a while), lost (its port failed), reconnecting (an attempt to bring it
// up again), and back to ok. The device's thread states facts (the last
// record, whether it lost its port, which attempt it makes and where the last
// one failed); the run's main thread looks at them about 30 times a second,
// and this class turns them into changes of state, each said once, and tells
// when a silent device is to be brought up again. It keeps no clock and no
// lock of its own: the looks come from one thread, with the time.
#include <chrono>
#include <cstdint>
#include <string>

#include "publish/Publisher.h"

namespace host {

// What the run does when a line fails (the options of run and demo).
struct HealthOptions {
    double silence = 2.0;         // seconds without a record that make a device silent
    double reconnectAfter = 5.0;  // seconds of silence after which it is brought up again
    bool reconnect = true;        // false: a lost device stays lost (and the run ends with exit 1)
    double giveUpAfter = 0.0;     // seconds of outage after which the attempts end; 0: never
};

class DeviceHealth {
public:
    using Clock = std::chrono::steady_clock;
    using State = DeviceStatus::State;

    // What the device's thread does.
    enum class Phase {
        Receiving,     // recvData in a loop (since: when streaming (re)started)
        Lost,          // its port failed (since: when)
        Reconnecting,  // an attempt or the wait before the next (since: when the attempt began)
        Ended,         // lost for good: not brought up again, or the attempts gave up
    };
    // Where an attempt to bring the device up again failed.
    enum class Step { None, PortMissing, Init, Configure, Start };

    struct Facts {
        Phase phase = Phase::Receiving;
        Clock::time_point since;       // when the phase began
        Clock::time_point lastRecord;  // the last record received (any time before now)
        std::uint32_t attempt = 0;     // the attempt of this outage under way or last made
        Step failedAt = Step::None;    // where the attempt before it failed
    };

    struct Change {
        State state = State::Ok;
        Clock::time_point since;     // when the condition began
        std::uint32_t attempt = 0;   // Reconnecting: its number
        Step failedAt = Step::None;  // Reconnecting: where the attempt before failed
        double outage = 0.0;         // Ok again: seconds since the device was last ok
        bool final = false;          // Lost: the device is not brought up again
    };

    // The device has just started streaming.
    DeviceHealth(const HealthOptions& options, Clock::time_point started);

    // Looks at the facts at time now. True with the change when they make
    // one (at most one per look).
    bool look(const Facts& facts, Clock::time_point now, Change& change);

    // After a look: the device has been silent for --reconnect-after and is
    // to be brought up again (asked once per silence).
    bool wantsReconnect(Clock::time_point now);

    // When the state's condition began (silent: the last record).
    Clock::time_point since() const { return since_; }

    // The line of the host's log for a change: what happened and what to
    // check. port and baud: the device's option lines' (empty: not given).
    static std::string message(const Change& change, const HealthOptions& options, const std::string& port,
                               const std::string& baud);

private:
    bool enter(State state, Clock::time_point since, Clock::time_point now, Change& change);

    HealthOptions options_;
    State state_ = State::Ok;
    Clock::time_point since_;         // when the state's condition began
    Clock::time_point entered_;       // when the state was entered
    Clock::time_point lastOk_;        // when the outage under way began
    std::uint32_t attempt_ = 0;       // shown for Reconnecting
    bool reconnectAsked_ = false;     // for the silence under way
    bool ended_ = false;              // lost for good, said
};

}  // namespace host
