#pragma once
// Splits the byte stream that the host sends to the flock into commands, byte
// by byte, with the RS232toFBB prefixes of the three addressing modes.
#include <cstdint>
#include <vector>

namespace flocksim {

struct Command {
    // The bus address that a prefix routed the command to; 0 for a command
    // without prefix, which goes to the unit on the serial line.
    std::uint32_t address = 0;
    // The command byte and its parameter bytes (without the prefix).
    std::vector<std::uint8_t> bytes;
    // False for what the flock does not know: an unknown command byte or
    // parameter number, a prefix that the addressing mode has no address for
    // or that no command followed.
    bool recognised = true;
};

bool operator==(const Command& a, const Command& b);
inline bool operator!=(const Command& a, const Command& b) { return !(a == b); }

// Command bytes.
constexpr std::uint8_t kChangeValue = 0x50;
constexpr std::uint8_t kExamineValue = 0x4F;
constexpr std::uint8_t kNextTransmitter = 0x30;
constexpr std::uint8_t kHemisphere = 0x4C;
constexpr std::uint8_t kReferenceFrame = 0x72;
constexpr std::uint8_t kPositionAngles = 0x59;
constexpr std::uint8_t kSync = 0x41;
constexpr std::uint8_t kButtonMode = 0x4D;
constexpr std::uint8_t kStream = 0x40;
constexpr std::uint8_t kPoint = 0x42;
constexpr std::uint8_t kSleep = 0x47;
constexpr std::uint8_t kReportEvery1 = 0x51;
constexpr std::uint8_t kReportEvery32 = 0x54;
// Parameter numbers of CHANGE VALUE / EXAMINE VALUE.
constexpr std::uint8_t kParamScaling = 3;
constexpr std::uint8_t kParamFilter = 4;
constexpr std::uint8_t kParamMeasurementRate = 7;
constexpr std::uint8_t kParamGroupMode = 0x23;
constexpr std::uint8_t kParamSystemStatus = 0x24;
constexpr std::uint8_t kParamAutoConfig = 0x32;

class CommandDecoder {
public:
    // maxAddress: 14 (normal), 30 (expanded) or 126 (super addressing).
    explicit CommandDecoder(std::uint32_t maxAddress);

    // Takes the next byte. True when it completed a command (or an
    // unrecognised byte sequence), which is then in out.
    bool feed(std::uint8_t byte, Command& out);

    // True between commands (no prefix or parameter bytes pending).
    bool idle() const { return state_ == State::Idle; }

private:
    enum class State { Idle, SuperAddress, Parameters, ChangeParameter };

    bool startCommand(std::uint8_t byte, Command& out);
    bool routed(std::uint8_t byte, std::uint32_t& address) const;
    bool finish(Command& out, bool recognised);

    std::uint32_t maxAddress_;
    State state_ = State::Idle;
    bool prefixPending_ = false;
    std::uint32_t address_ = 0;
    std::vector<std::uint8_t> bytes_;
    std::vector<std::uint8_t> prefix_;
    std::size_t remaining_ = 0;
};

}  // namespace flocksim
