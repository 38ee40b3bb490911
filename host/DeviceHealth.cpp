#include "DeviceHealth.h"

#include <algorithm>
#include <cstdio>

namespace host {

namespace {

double secondsBetween(DeviceHealth::Clock::time_point from, DeviceHealth::Clock::time_point to)
{
    return std::chrono::duration<double>(to - from).count();
}

std::string seconds(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", value);
    return text;
}

std::string portText(const std::string& port)
{
    return port.empty() ? "its port" : "the port " + port;
}

std::string baudText(const std::string& baud)
{
    return baud.empty() ? "the baud rate (the module's default)" : "the baud rate (" + baud + ")";
}

// Why an attempt failed, and what to check.
std::string failure(DeviceHealth::Step step, const std::string& port, const std::string& baud)
{
    switch (step) {
    case DeviceHealth::Step::PortMissing:
        return portText(port) + " is not there: check the cable or serial adapter and the port name";
    case DeviceHealth::Step::Init:
        return "init failed: " + portText(port) +
               " cannot be opened or set up: check the port name and that no other program uses it";
    case DeviceHealth::Step::Configure:
        return "configure failed: no answer from the flock: check its power, the cable and " + baudText(baud);
    case DeviceHealth::Step::Start:
        return "start failed: the stream command did not go out: check the cable";
    case DeviceHealth::Step::None:
        break;
    }
    return "it failed";
}

}  // namespace

DeviceHealth::DeviceHealth(const HealthOptions& options, Clock::time_point started)
    : options_(options), since_(started), entered_(started), lastOk_(started)
{
}

bool DeviceHealth::enter(State state, Clock::time_point since, Clock::time_point now, Change& change)
{
    if (state_ == State::Ok && state != State::Ok) {
        lastOk_ = since;
    }
    change.state = state;
    change.since = since;
    change.outage = state == State::Ok ? secondsBetween(lastOk_, now) : 0.0;
    if (state == State::Silent) {
        reconnectAsked_ = false;
    }
    state_ = state;
    since_ = since;
    entered_ = now;
    return true;
}

bool DeviceHealth::look(const Facts& facts, Clock::time_point now, Change& change)
{
    change = Change{};
    switch (facts.phase) {
    case Phase::Ended:
        if (ended_) {
            return false;
        }
        ended_ = true;
        change.final = true;
        change.failedAt = facts.failedAt;
        return enter(State::Lost, state_ == State::Lost ? since_ : facts.since, now, change);
    case Phase::Lost:
        return state_ != State::Lost && enter(State::Lost, facts.since, now, change);
    case Phase::Reconnecting:
        if (state_ == State::Reconnecting && attempt_ == facts.attempt) {
            return false;
        }
        attempt_ = facts.attempt;
        change.attempt = facts.attempt;
        change.failedAt = facts.failedAt;
        // Since the first attempt of the outage.
        return enter(State::Reconnecting, state_ == State::Reconnecting ? since_ : facts.since, now, change);
    case Phase::Receiving:
        break;
    }
    // Receiving: records come, or they do not. The silence counts from the
    // last record, or from the start of streaming when none came since.
    const Clock::time_point fresh = std::max(facts.lastRecord, facts.since);
    const bool quiet = secondsBetween(fresh, now) >= options_.silence;
    switch (state_) {
    case State::Ok:
        return quiet && enter(State::Silent, fresh, now, change);
    case State::Silent:
        return facts.lastRecord > since_ && enter(State::Ok, facts.lastRecord, now, change);
    case State::Lost:
    case State::Reconnecting:
        // Brought up again: ok once a record came since, silent if none
        // comes.
        change.attempt = attempt_;
        if (facts.lastRecord >= facts.since) {
            return enter(State::Ok, facts.lastRecord, now, change);
        }
        return quiet && enter(State::Silent, fresh, now, change);
    }
    return false;
}

bool DeviceHealth::wantsReconnect(Clock::time_point now)
{
    if (state_ != State::Silent || !options_.reconnect || reconnectAsked_ ||
        secondsBetween(entered_, now) < options_.reconnectAfter) {
        return false;
    }
    reconnectAsked_ = true;
    return true;
}

std::string DeviceHealth::message(const Change& change, const HealthOptions& options, const std::string& port,
                                  const std::string& baud)
{
    switch (change.state) {
    case State::Ok:
        return "ok again after " + seconds(change.outage) +
               (change.attempt != 0 ? " (attempt " + std::to_string(change.attempt) + ")" : std::string()) +
               ": records arrive";
    case State::Silent:
        return "silent: no record for " + seconds(options.silence) +
               "; check that the flock is switched on, the cable, " + portText(port) + " and " + baudText(baud) +
               (options.reconnect ? "; brought up again after " + seconds(options.reconnectAfter) + " more"
                                  : std::string());
    case State::Lost:
        if (!change.final) {
            return "lost: " + portText(port) + " failed; check the cable or serial adapter and the port name";
        }
        if (!options.reconnect) {
            return "lost: " + portText(port) +
                   " failed; check the cable or serial adapter and the port name; not brought up again "
                   "(--no-reconnect)";
        }
        return "lost: giving up after " + seconds(options.giveUpAfter) + " (--give-up-after); last attempt: " +
               failure(change.failedAt, port, baud);
    case State::Reconnecting:
        if (change.attempt <= 1) {
            return "reconnecting (attempt 1): bringing the device up again: " + portText(port) +
                   " opened anew, init, configure, start";
        }
        return "reconnecting (attempt " + std::to_string(change.attempt) + "); attempt " +
               std::to_string(change.attempt - 1) + ": " + failure(change.failedAt, port, baud);
    }
    return std::string();
}

}  // namespace host
