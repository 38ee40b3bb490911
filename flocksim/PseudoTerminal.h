#pragma once
// A pseudo-terminal pair: the simulator works the master side, a driver opens
// the slave path as its serial port.
#include <string>
#include <termios.h>

namespace flocksim {

class PseudoTerminal {
public:
    PseudoTerminal() = default;
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    // Creates the pair; its line starts raw, 38400 baud, 8N1. The slave side
    // is held open here too, so that the master stays usable while no driver
    // has the port open. False with a reason on failure.
    bool open(std::string& error);

    int master() const { return master_; }
    const std::string& slavePath() const { return slavePath_; }

    // The slave side's terminal settings, as a driver left them.
    bool lineSettings(termios& settings) const;
    bool setLineSettings(const termios& settings);

    // Makes the line the controlling terminal of the caller's session, which
    // the caller leads and which has none yet: then no other session can make
    // it theirs. A session leader that opens the line without O_NOCTTY
    // (Wine's server does, for a COM port) would otherwise take it, and get a
    // hang-up signal when the line closes. False when it cannot be done.
    bool takeAsControllingTerminal();

    // Hangs the line up: a driver's reads end, its writes fail. Only by the
    // thread that works the master side (a close does not end another
    // thread's wait on it).
    void closeMaster();
    void close();

private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
};

}  // namespace flocksim
