#include "CommandLine.h"

#include <cerrno>
#include <cstdlib>
#include <sstream>

#include "WineComLink.h"

namespace flocksim {

namespace {

const char kUsage[] =
    "Usage: flocksim [options]\n"
    "Simulates a flock of tracker units on one serial line: creates a pseudo-terminal,\n"
    "prints the path that the driver opens as its serial port and answers the driver\n"
    "until it is interrupted (Ctrl-C, SIGTERM).\n"
    "\n"
    "The flock:\n"
    "  --units N              units at bus addresses 1..N (default 2)\n"
    "  --erc A[,B..]          units that are ERCs without receiver (default 1; 0: none)\n"
    "  --erc-transmitters [A=]M  the transmitters 0..3 as a bit mask (default 1), of every\n"
    "                         ERC or of the unit at A (repeatable)\n"
    "  --srt A[,B..]          units with an SRT attached (default: none)\n"
    "  --receiver A[,B..]     units with a receiver all the same (an ERC that has one)\n"
    "  --no-receiver A[,B..]  units without a receiver\n"
    "  --mice A[,B..]         units with a mouse (14-byte records in button mode)\n"
    "  --button-mode A[,B..]  units left in button mode by an earlier host\n"
    "  --ignore-button-mode A[,B..]  units that take no notice of the button-mode command\n"
    "  --not-running A[,B..]  units whose status says \"not running\" (they send no records)\n"
    "  --status A=BYTE        report BYTE as the status of the unit at A (repeatable)\n"
    "  --addressing N         addressing mode: 14 (normal), 30 (expanded) or 126 (super)\n"
    "  --line-unit A          the unit on the serial line (default 1)\n"
    "  --group-reply N        answer the group-mode query with N instead of the group mode\n"
    "  --finish-group         a change of the group mode ends the stream only after the\n"
    "                         records of the cycle under way; every byte then leaves at the\n"
    "                         line's baud rate (as the driver set it, 10 bits a byte)\n"
    "\n"
    "Streaming (after STREAM, until POINT or SLEEP):\n"
    "  --rate R               measurement cycles per second, one record per receiver unit\n"
    "                         each (default 100); 0: as fast as the line takes them\n"
    "  --spread-cycle         a cycle's records leave one after another, spread evenly\n"
    "                         over its period, as a line that they fill carries them\n"
    "                         (default: together)\n"
    "  --motion still|circle|eight|helix|demo\n"
    "                         still: the pose of --pose (default); circle: the units go\n"
    "                         round a circle in the X/Y plane, once in 200 cycles; eight:\n"
    "                         a figure of eight in front of the transmitter, once in 600;\n"
    "                         helix: round the Y axis once in 1000 cycles, rising and\n"
    "                         sinking; demo: the eight at even bus addresses, the helix\n"
    "                         at odd ones (eight, helix and demo change all six values)\n"
    "  --pose X,Y,Z,A,E,R     the still pose in fractions of full scale, -1..1 (default all 0)\n"
    "  --buttons B:N[,B:N..]  button byte B for N cycles, and so on, repeating\n"
    "                         (0x00 none, 0x10, 0x30, 0x70 buttons 1 to 3)\n"
    "  --pose-noise P,A       measurement noise on every record: normal, of standard\n"
    "                         deviation P on the position and A on the angles, in\n"
    "                         fractions of full scale, 0..0.1 (0.0003 is 0.043 inch of\n"
    "                         the ERC's 144 inches, 0.0005 is 0.09 degrees); drawn with\n"
    "                         --seed\n"
    "\n"
    "Faults:\n"
    "  --noise-every N        after every N-th record, noise bytes\n"
    "  --noise-length L       noise bytes each time (default 1)\n"
    "  --drop-every N         every N-th record loses one byte\n"
    "  --hang-up-after N      after N records the flock hangs up\n"
    "  --hang-up silence|close|power-off  silence: no more records or replies, as\n"
    "                         with a pulled cable (default); close: the line is closed,\n"
    "                         as a serial adapter that is unplugged; power-off: silence,\n"
    "                         and a flock that comes back has forgotten its configuration\n"
    "  --back-after SECONDS   the flock is back that long after a hang-up (close: on a\n"
    "                         new pseudo-terminal, which --link and --wine-com lead to)\n"
    "  --cut-every N          every N-th record is cut short (1 to all but one of its bytes)\n"
    "  --burst-every N        from a byte of every N-th record on, garbage replaces the\n"
    "                         bytes on the line\n"
    "  --burst-length L       bytes that one burst replaces, over as many records as it\n"
    "                         reaches (default 16)\n"
    "  --status-bytes N       the system status reply stops after N bytes (0: it never comes)\n"
    "  --seed S               seed for the noise values, dropped positions, cuts and\n"
    "                         bursts (default 1)\n"
    "  --stale-bytes B[,B..]  bytes that wait on the line before the first command\n"
    "  --streaming-at-start   the flock is in group mode and streaming from the start;\n"
    "                         a change of the group mode ends the stream\n"
    "\n"
    "Running:\n"
    "  --link PATH            make PATH a symbolic link to the line, made anew when a\n"
    "                         closed line comes back: the stable name for a driver\n"
    "  --wine-com N|auto      make COM<N> of the Wine prefix ($WINEPREFIX, default ~/.wine)\n"
    "                         lead to the line; auto takes the first free number from 20 on\n"
    "  --ready-file FILE      when ready, write the name a driver opens into FILE\n"
    "                         (\\\\.\\COM<N> with --wine-com, else the line's path)\n"
    "  --control DIR          take commands from files in DIR and keep the bytes received\n"
    "                         there (see below); end when DIR is removed\n"
    "  --owner-pid P          end when process P ends (and remove the control directory)\n"
    "  --die-with-parent      end when the process that started flocksim ends\n"
    "  --verbose              print every command received on standard error\n"
    "  --help                 this text\n"
    "  --version              the program's version\n"
    "\n"
    "Control directory, for a program that cannot run the simulator in its own process\n"
    "(a Windows test program under Wine). Each file is written under another name and\n"
    "then renamed into place, so that it is never read half written:\n"
    "  DIR/command-1, DIR/command-2, ...  commands, carried out in this order and removed:\n"
    "                         send HH HH ..  put these bytes (hexadecimal) on the line\n"
    "                         every MS HH .. put them on the line now and every MS\n"
    "                                        milliseconds (without bytes: no more)\n"
    "                         clear          forget the bytes received so far\n"
    "                         hang-up HOW MS hang up now (silence, close or power-off),\n"
    "                                        back after MS milliseconds (0: never)\n"
    "                         stop           end the program\n"
    "  DIR/received           written by flocksim whenever it changes: \"done N\" (the\n"
    "                         number of the last command carried out) on the first line,\n"
    "                         the bytes received so far in hexadecimal on the second\n"
    "\n"
    "Numbers may be decimal or 0x-prefixed hexadecimal.\n";

bool parseNumber(const std::string& text, long minimum, long maximum, long& value)
{
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    value = std::strtol(text.c_str(), &end, 0);
    return errno == 0 && *end == '\0' && value >= minimum && value <= maximum;
}

bool parseReal(const std::string& text, double minimum, double maximum, double& value)
{
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return !text.empty() && *end == '\0' && value >= minimum && value <= maximum;
}

std::vector<std::string> split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    std::stringstream stream(text);
    std::string part;
    while (std::getline(stream, part, separator)) {
        parts.push_back(part);
    }
    return parts;
}

bool parseByteList(const std::string& text, std::vector<std::uint8_t>& out)
{
    const std::vector<std::string> parts = split(text, ',');
    for (const std::string& part : parts) {
        long value = 0;
        if (!parseNumber(part, 0, 255, value)) {
            return false;
        }
        out.push_back(static_cast<std::uint8_t>(value));
    }
    return !parts.empty();
}

bool parseAddresses(const std::string& text, std::vector<long>& out)
{
    const std::vector<std::string> parts = split(text, ',');
    for (const std::string& part : parts) {
        long value = 0;
        if (!parseNumber(part, 1, 126, value)) {
            return false;
        }
        out.push_back(value);
    }
    return !parts.empty();
}

// A list of addresses, or 0 for none.
bool parseAddressesOrNone(const std::string& text, std::vector<long>& out)
{
    long none = 0;
    return parseNumber(text, 0, 0, none) || parseAddresses(text, out);
}

// "A=VALUE"; without "A=" when anyAddress, with address 0.
bool parseAssignment(const std::string& text, bool anyAddress, long maximum, std::pair<long, long>& out)
{
    const std::vector<std::string> parts = split(text, '=');
    if (parts.size() == 1 && anyAddress) {
        out.first = 0;
        return parseNumber(parts[0], 0, maximum, out.second);
    }
    return parts.size() == 2 && parseNumber(parts[0], 1, 126, out.first) &&
           parseNumber(parts[1], 0, maximum, out.second);
}

}  // namespace

const char* CommandLine::usage()
{
    return kUsage;
}

bool CommandLine::parse(int count, const char* const* arguments, std::string& error)
{
    bool ercsGiven = false;
    for (int i = 0; i < count; ++i) {
        const std::string name = arguments[i];
        if (name == "--help" || name == "-h") {
            help = true;
            return true;
        }
        if (name == "--version") {
            version = true;
            return true;
        }
        if (name == "--die-with-parent") {
            dieWithParent = true;
            continue;
        }
        if (name == "--verbose") {
            verbose = true;
            continue;
        }
        if (name == "--finish-group") {
            finishGroup = true;
            continue;
        }
        if (name == "--spread-cycle") {
            spreadCycle = true;
            continue;
        }
        if (name == "--streaming-at-start") {
            leftOver.streamingAtStart = true;
            continue;
        }
        const std::string value = i + 1 < count ? arguments[i + 1] : "";
        long number = 0;
        std::pair<long, long> assignment;
        bool good = i + 1 < count;
        if (!good) {
        } else if (name == "--units") {
            good = parseNumber(value, 1, 126, number);
            units = static_cast<unsigned>(number);
        } else if (name == "--erc") {
            if (!ercsGiven) {
                ercs.clear();
                ercsGiven = true;
            }
            good = parseAddressesOrNone(value, ercs);
        } else if (name == "--erc-transmitters") {
            good = parseAssignment(value, true, 15, assignment);
            ercTransmitters.push_back(assignment);
        } else if (name == "--srt") {
            good = parseAddressesOrNone(value, srts);
        } else if (name == "--receiver") {
            good = parseAddresses(value, receivers);
        } else if (name == "--no-receiver") {
            good = parseAddresses(value, noReceiver);
        } else if (name == "--mice") {
            good = parseAddresses(value, mice);
        } else if (name == "--button-mode") {
            good = parseAddresses(value, buttonMode);
        } else if (name == "--ignore-button-mode") {
            good = parseAddresses(value, ignoreButtonMode);
        } else if (name == "--not-running") {
            good = parseAddresses(value, notRunning);
        } else if (name == "--status") {
            good = parseAssignment(value, false, 255, assignment);
            status.push_back(assignment);
        } else if (name == "--addressing") {
            good = parseNumber(value, 14, 126, addressing) &&
                   (addressing == 14 || addressing == 30 || addressing == 126);
        } else if (name == "--line-unit") {
            good = parseNumber(value, 1, 126, lineUnit);
        } else if (name == "--group-reply") {
            good = parseNumber(value, 0, 255, groupReply);
        } else if (name == "--rate") {
            good = parseReal(value, 0.0, 100000.0, rate);
        } else if (name == "--motion") {
            motion = value;
            good = value == "still" || namedMotion(value) != nullptr;
        } else if (name == "--pose") {
            const std::vector<std::string> parts = split(value, ',');
            good = parts.size() == 6;
            for (std::size_t k = 0; good && k < 6; ++k) {
                double fraction = 0.0;
                good = parseReal(parts[k], -1.0, 1.0, fraction);
                pose.words[k] = wordFromFraction(fraction);
            }
        } else if (name == "--pose-noise") {
            const std::vector<std::string> parts = split(value, ',');
            good = parts.size() == 2 && parseReal(parts[0], 0.0, 0.1, positionNoise) &&
                   parseReal(parts[1], 0.0, 0.1, angleNoise);
        } else if (name == "--buttons") {
            for (const std::string& step : split(value, ',')) {
                const std::vector<std::string> parts = split(step, ':');
                long cycles = 0;
                good = good && parts.size() == 2 && parseNumber(parts[0], 0, 127, number) &&
                       parseNumber(parts[1], 1, 1000000, cycles);
                buttons.push_back({static_cast<std::uint8_t>(number), static_cast<std::uint32_t>(cycles)});
            }
        } else if (name == "--noise-every") {
            good = parseNumber(value, 0, 1000000000, number);
            faults.noiseEvery = static_cast<std::uint32_t>(number);
        } else if (name == "--noise-length") {
            good = parseNumber(value, 1, 4096, number);
            faults.noiseLength = static_cast<std::uint32_t>(number);
        } else if (name == "--drop-every") {
            good = parseNumber(value, 0, 1000000000, number);
            faults.dropEvery = static_cast<std::uint32_t>(number);
        } else if (name == "--hang-up-after") {
            good = parseNumber(value, 0, 2000000000, number);
            faults.hangUpAfter = static_cast<std::uint64_t>(number);
        } else if (name == "--hang-up") {
            good = parseHangUp(value, faults.hangUp);
        } else if (name == "--back-after") {
            double seconds = 0.0;
            good = parseReal(value, 0.0, 86400.0, seconds);
            faults.backAfterMs = static_cast<std::uint32_t>(seconds * 1000.0 + 0.5);
        } else if (name == "--link") {
            linkPath = value;
            good = !value.empty();
        } else if (name == "--cut-every") {
            good = parseNumber(value, 0, 1000000000, number);
            faults.cutEvery = static_cast<std::uint32_t>(number);
        } else if (name == "--burst-every") {
            good = parseNumber(value, 0, 1000000000, number);
            faults.burstEvery = static_cast<std::uint32_t>(number);
        } else if (name == "--burst-length") {
            good = parseNumber(value, 1, 65536, number);
            faults.burstLength = static_cast<std::uint32_t>(number);
        } else if (name == "--status-bytes") {
            good = parseNumber(value, 0, 126, number);
            faults.statusBytes = static_cast<int>(number);
        } else if (name == "--seed") {
            good = parseNumber(value, 0, 0x7FFFFFFF, number);
            faults.seed = static_cast<std::uint32_t>(number);
        } else if (name == "--stale-bytes") {
            good = parseByteList(value, leftOver.staleBytes);
        } else if (name == "--wine-com") {
            wineCom = 0;
            good = value == "auto" || parseNumber(value, 1, WineComLink::kLast, wineCom);
        } else if (name == "--ready-file") {
            readyFile = value;
            good = !value.empty();
        } else if (name == "--control") {
            controlDirectory = value;
            good = !value.empty();
        } else if (name == "--owner-pid") {
            good = parseNumber(value, 1, 0x7FFFFFFF, ownerPid);
        } else {
            good = false;
        }
        if (!good) {
            error = "bad or incomplete option " + name + (i + 1 < count ? " " + value : "");
            return false;
        }
        ++i;
    }
    if (!ercsGiven) {
        ercs = {1};
    }
    return true;
}

bool CommandLine::buildSetup(Setup& setup, std::string& error) const
{
    setup = Setup::flock(units, 0);
    setup.maxAddress = static_cast<std::uint32_t>(addressing);
    setup.lineAddress = static_cast<std::uint32_t>(lineUnit);
    setup.groupModeReply = static_cast<int>(groupReply);
    setup.finishesGroup = finishGroup;
    setup.spreadCycle = spreadCycle;
    setup.rate = rate;
    setup.positionNoise = positionNoise;
    setup.angleNoise = angleNoise;
    setup.faults = faults;
    setup.leftOver = leftOver;
    setup.linkPath = linkPath;
    bool good = true;
    // Applies change to the unit at each address; a unit that the flock
    // does not have is an error.
    auto forEach = [&](const std::vector<long>& addresses, auto change) {
        for (long address : addresses) {
            if (!good) {
                return;
            }
            if (address < 1 || address > static_cast<long>(units)) {
                error = "there is no unit at address " + std::to_string(address);
                good = false;
                return;
            }
            change(setup.units[static_cast<std::size_t>(address - 1)]);
        }
    };
    forEach(ercs, [](UnitSetup& unit) {
        unit.erc = true;
        unit.receiver = false;
    });
    forEach(receivers, [](UnitSetup& unit) { unit.receiver = true; });
    forEach(noReceiver, [](UnitSetup& unit) { unit.receiver = false; });
    forEach(srts, [](UnitSetup& unit) { unit.srt = true; });
    forEach(mice, [](UnitSetup& unit) { unit.mouse = true; });
    forEach(notRunning, [](UnitSetup& unit) { unit.running = false; });
    forEach(buttonMode, [](UnitSetup& unit) { unit.buttonModeAtStart = true; });
    forEach(ignoreButtonMode, [](UnitSetup& unit) { unit.ignoresButtonMode = true; });
    for (const auto& entry : status) {
        forEach({entry.first}, [&](UnitSetup& unit) { unit.status = static_cast<int>(entry.second); });
    }
    for (const auto& entry : ercTransmitters) {
        const auto mask = static_cast<std::uint8_t>(entry.second);
        if (entry.first == 0) {
            forEach(ercs, [&](UnitSetup& unit) { unit.ercTransmitters = mask; });
        } else {
            forEach({entry.first}, [&](UnitSetup& unit) { unit.ercTransmitters = mask; });
        }
    }
    const Motion moving = motion == "still" ? stillMotion(pose) : namedMotion(motion);
    setup.motion = buttons.empty() ? moving : withButtons(moving, buttons);
    return good;
}

}  // namespace flocksim
