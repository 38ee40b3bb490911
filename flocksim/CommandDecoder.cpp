#include "CommandDecoder.h"

#include <utility>

namespace flocksim {

namespace {

constexpr std::uint8_t kSuperPrefix = 0xA0;

// Parameter bytes that follow a command byte; -1 for an unknown command.
int parameterCount(std::uint8_t command)
{
    switch (command) {
    case kExamineValue:
    case kNextTransmitter:
    case kSync:
    case kButtonMode:
        return 1;
    case kHemisphere:
        return 2;
    case kReferenceFrame:
        return 6;
    case kPositionAngles:
    case kStream:
    case kPoint:
    case kSleep:
        return 0;
    default:
        return command >= kReportEvery1 && command <= kReportEvery32 ? 0 : -1;
    }
}

// Value bytes of CHANGE VALUE for a parameter number; -1 when unknown.
int valueCount(std::uint8_t parameter)
{
    switch (parameter) {
    case kParamScaling:
    case kParamFilter:
    case kParamMeasurementRate:
        return 2;
    case kParamGroupMode:
    case kParamAutoConfig:
        return 1;
    default:
        return -1;
    }
}

}  // namespace

bool operator==(const Command& a, const Command& b)
{
    return a.address == b.address && a.bytes == b.bytes && a.recognised == b.recognised;
}

CommandDecoder::CommandDecoder(std::uint32_t maxAddress) : maxAddress_(maxAddress) {}

bool CommandDecoder::finish(Command& out, bool recognised)
{
    out.address = address_;
    out.bytes = std::move(bytes_);
    out.recognised = recognised;
    bytes_.clear();
    prefix_.clear();
    address_ = 0;
    prefixPending_ = false;
    state_ = State::Idle;
    return true;
}

bool CommandDecoder::routed(std::uint8_t byte, std::uint32_t& address) const
{
    if (maxAddress_ == 126) {
        return false;  // the two-byte prefix is handled on its own
    }
    if (byte >= 0xF1) {
        address = byte - 0xF0u;
        return address <= maxAddress_;
    }
    if (maxAddress_ == 30 && byte >= 0xE0 && byte <= 0xEE) {
        address = byte - 0xE0u + 16u;
        return true;
    }
    return false;
}

bool CommandDecoder::startCommand(std::uint8_t byte, Command& out)
{
    if (byte >= 0x80) {
        std::uint32_t address = 0;
        const bool super = maxAddress_ == 126 && byte == kSuperPrefix;
        const bool route = !super && routed(byte, address);
        bool handedOut = false;
        if ((super || route) && prefixPending_) {
            // The earlier prefix was not followed by a command.
            out.address = 0;
            out.bytes = prefix_;
            out.recognised = false;
            handedOut = true;
        }
        if (super) {
            prefix_.assign(1, byte);
            prefixPending_ = false;
            address_ = 0;
            state_ = State::SuperAddress;
            return handedOut;
        }
        if (route) {
            prefix_.assign(1, byte);
            address_ = address;
            prefixPending_ = true;
            return handedOut;
        }
        // Not a prefix of this addressing mode: an unknown byte, routed to
        // the unit that a pending prefix names.
        bytes_.assign(1, byte);
        return finish(out, false);
    }
    bytes_.push_back(byte);
    if (byte == kChangeValue) {
        state_ = State::ChangeParameter;
        return false;
    }
    const int count = parameterCount(byte);
    if (count < 0) {
        return finish(out, false);
    }
    if (count == 0) {
        return finish(out, true);
    }
    remaining_ = static_cast<std::size_t>(count);
    state_ = State::Parameters;
    return false;
}

bool CommandDecoder::feed(std::uint8_t byte, Command& out)
{
    switch (state_) {
    case State::Idle:
        return startCommand(byte, out);
    case State::SuperAddress:
        if (byte >= 1 && byte <= 126) {
            address_ = byte;
            prefix_.push_back(byte);
            prefixPending_ = true;
            state_ = State::Idle;
            return false;
        }
        prefix_.push_back(byte);
        bytes_ = prefix_;
        address_ = 0;
        return finish(out, false);
    case State::ChangeParameter: {
        bytes_.push_back(byte);
        const int count = valueCount(byte);
        if (count < 0) {
            return finish(out, false);
        }
        remaining_ = static_cast<std::size_t>(count);
        state_ = State::Parameters;
        return false;
    }
    case State::Parameters:
        bytes_.push_back(byte);
        if (--remaining_ > 0) {
            return false;
        }
        if (bytes_[0] == kExamineValue) {
            return finish(out, bytes_[1] == kParamGroupMode || bytes_[1] == kParamSystemStatus);
        }
        return finish(out, true);
    }
    return false;
}

}  // namespace flocksim
