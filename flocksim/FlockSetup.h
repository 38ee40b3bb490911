#pragma once
// How a simulated flock is made up and how it misbehaves, and the state that
// its units keep.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "FlockRecord.h"

namespace flocksim {

// The sample that a unit at a bus address reports in a measurement cycle.
using Motion = std::function<Sample(std::uint32_t address, std::uint64_t cycle)>;

struct UnitSetup {
    bool receiver = true;
    bool mouse = false;
    bool buttonModeAtStart = false;       // left in button mode by an earlier host (with a mouse: 14-byte records)
    bool ignoresButtonMode = false;       // takes no notice of BUTTON MODE
    bool erc = false;                     // an ERC; usually without receiver
    std::uint8_t ercTransmitters = 0x1;   // bits 0..3: the ERC's transmitters 0 to 3
    bool srt = false;                     // an SRT is attached to this unit
    bool running = true;
    int status = -1;                      // 0..255: reported instead of the status built from the above
};

// What goes wrong on the line, for robustness tests. Counts are records.
// Silence: no more records or replies (a pulled cable); Close: the line
// closes (a serial adapter unplugged); PowerOff: as Silence, and a flock that
// comes back has forgotten its configuration (switched off and on again).
enum class HangUp { Silence, Close, PowerOff };

// Their names, as the program's options and its control directory take them:
// silence, close, power-off.
bool parseHangUp(const std::string& text, HangUp& how);
const char* hangUpName(HangUp how);

struct Faults {
    std::uint32_t noiseEvery = 0;    // after every N-th record, noise bytes (0: never)
    std::uint32_t noiseLength = 1;   // bytes of noise each time
    std::uint32_t dropEvery = 0;     // every N-th record loses one byte (0: never)
    std::uint64_t hangUpAfter = 0;   // after N records the flock hangs up (0: never)
    HangUp hangUp = HangUp::Silence; // how (above)
    std::uint32_t seed = 1;          // for the noise values and the dropped positions
    // Damage done to the records themselves and to the replies (see
    // FlockSimulator::damageRecord and trimStatusReply).
    std::uint32_t cutEvery = 0;      // every N-th record is cut short after 1 to length-1 bytes (0: never)
    std::uint32_t burstEvery = 0;    // from a byte of every N-th record on, garbage replaces the line's bytes
    std::uint32_t burstLength = 16;  // bytes that one burst replaces (it may run into the records after)
    int statusBytes = -1;            // the system status reply stops after this many bytes (0: never comes); -1: whole
    // A hang-up that ends: after this many milliseconds the flock is back
    // (0: never).
    std::uint32_t backAfterMs = 0;
};

// What a fault did to the stream, counted in records as the flock made them
// (1 = the first record since the flock started).
enum class FaultKind { Noise, Drop, Cut, Burst };

struct FaultMark {
    FaultKind kind;
    std::uint64_t firstRecord;  // the first record whose bytes it changed (Noise: the record it follows)
    std::uint64_t lastRecord;   // the last one (a burst may run over several)
    bool openingLost;           // the phasing byte of firstRecord was removed or replaced
};

// A line that a driver finds as an earlier host left it: these bytes wait on
// it before the first command, and with streamingAtStart the flock is in
// group mode and streaming from the start (as after a host that ended
// without stopping it). A change of the group mode ends a stream.
struct LeftOver {
    std::vector<std::uint8_t> staleBytes;
    bool streamingAtStart = false;
};

struct Setup {
    std::vector<UnitSetup> units;       // bus addresses 1 .. units.size()
    std::uint32_t maxAddress = 14;      // addressing mode: 14, 30 or 126
    std::uint32_t lineAddress = 1;      // the unit on the serial line
    int groupModeReply = -1;            // 0..255: reply to the group-mode query; -1: the group mode
    double rate = 100.0;                // measurement cycles per second; 0: as fast as the line takes them
    // A change of the group mode ends the stream only after the records of
    // the cycle under way; the line then carries its bytes at its baud rate
    // (as the driver set it, 10 bits a byte) instead of as fast as the
    // pseudo-terminal takes them.
    bool finishesGroup = false;
    // A cycle's records leave one after another, spread evenly over the
    // cycle's period, as a line that they fill carries them (a flock of 32
    // sensors at 115200 baud sends a record every 1.2 ms), instead of
    // together as fast as the pseudo-terminal takes them.
    bool spreadCycle = false;
    Motion motion;                      // null: every word 0, no button
    // Measurement noise added to the motion's words in every record, as a
    // flock's own measurements have it: the standard deviations of the
    // position's and of the angles' normal noise, in fractions of full scale
    // (as the words are); 0: none. Drawn with faults.seed, apart from the
    // faults.
    double positionNoise = 0.0;
    double angleNoise = 0.0;
    Faults faults;
    LeftOver leftOver;
    // A stable name for the line (empty: none): a symbolic link to the
    // pseudo-terminal, taken away while the line is closed and made anew to
    // the new pseudo-terminal when it comes back, as a serial adapter's name
    // comes and goes with the adapter.
    std::string linkPath;

    // count units with receivers; the unit at ercAddress (when not 0) is an
    // ERC without receiver.
    static Setup flock(std::uint32_t count, std::uint32_t ercAddress);
    // The status byte that unit address reports (0 for an address without a unit).
    std::uint8_t statusOf(std::uint32_t address) const;
};

struct UnitState {
    bool groupMode = false;
    bool positionAngles = false;
    bool buttonMode = false;
    bool streaming = false;
    bool asleep = false;
    bool referenceFrameSet = false;
    std::uint16_t hemisphere = 0x0C00;
    std::int16_t referenceFrame[3] = {0, 0, 0};
    std::uint16_t scaling = 0;
    bool filterSet = false;
    std::uint16_t filter = 0;
    std::uint16_t measurementRate = 0;
    std::uint8_t sync = 0;
    std::uint8_t reportRate = 0x51;
};

struct FlockState {
    std::uint32_t autoConfigUnits = 0;       // count of the last FBB auto-configuration, 0: none
    std::uint32_t transmitterAddress = 1;    // the active transmitter (NEXT TRANSMITTER)
    std::uint32_t transmitterNumber = 0;
};

}  // namespace flocksim
