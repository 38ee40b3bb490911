// flocksim: a flock of tracker units on a pseudo-terminal, for trying and
// testing a driver without the hardware. See --help.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <sys/prctl.h>
#include <unistd.h>

#include "FlockSimulator.h"
#include "Motion.h"
#include "WineComLink.h"

namespace {

const char kUsage[] =
    "Usage: flocksim [options]\n"
    "Simulates a flock of tracker units on one serial line: creates a pseudo-terminal,\n"
    "prints the path that the driver opens as its serial port and answers the driver\n"
    "until it is interrupted (Ctrl-C, SIGTERM).\n"
    "\n"
    "The flock:\n"
    "  --units N              units at bus addresses 1..N (default 2)\n"
    "  --erc A                the unit at A is an ERC without receiver (default 1; 0: none)\n"
    "  --erc-transmitters M   the ERC's transmitters 0..3 as a bit mask (default 1)\n"
    "  --srt A                an SRT is attached to the unit at A (default: none)\n"
    "  --no-receiver A[,B..]  units without a receiver\n"
    "  --mice A[,B..]         units with a mouse (14-byte records in button mode)\n"
    "  --not-running A[,B..]  units whose status says \"not running\" (they send no records)\n"
    "  --status A=BYTE        report BYTE as the status of the unit at A (repeatable)\n"
    "  --addressing N         addressing mode: 14 (normal), 30 (expanded) or 126 (super)\n"
    "  --line-unit A          the unit on the serial line (default 1)\n"
    "  --group-reply N        answer the group-mode query with N instead of the group mode\n"
    "\n"
    "Streaming (after STREAM, until POINT or SLEEP):\n"
    "  --rate R               measurement cycles per second, one record per receiver unit\n"
    "                         each (default 100); 0: as fast as the line takes them\n"
    "  --motion still|circle  still: the pose of --pose (default); circle: the units go round\n"
    "  --pose X,Y,Z,A,E,R     the still pose in fractions of full scale, -1..1 (default all 0)\n"
    "  --buttons B:N[,B:N..]  button byte B for N cycles, and so on, repeating\n"
    "                         (0x00 none, 0x10, 0x30, 0x70 buttons 1 to 3)\n"
    "\n"
    "Faults:\n"
    "  --noise-every N        after every N-th record, noise bytes\n"
    "  --noise-length L       noise bytes each time (default 1)\n"
    "  --drop-every N         every N-th record loses one byte\n"
    "  --hang-up-after N      after N records the flock hangs up\n"
    "  --hang-up silence|close  silence: no more records or replies (default);\n"
    "                         close: the line is closed\n"
    "  --seed S               seed for the noise values and dropped positions (default 1)\n"
    "\n"
    "Running:\n"
    "  --wine-com N|auto      make COM<N> of the Wine prefix ($WINEPREFIX, default ~/.wine)\n"
    "                         lead to the line; auto takes the first free number from 20 on\n"
    "  --ready-file FILE      when ready, write the name a driver opens into FILE\n"
    "                         (\\\\.\\COM<N> with --wine-com, else the line's path)\n"
    "  --die-with-parent      end when the process that started flocksim ends\n"
    "  --hold-line            run in a session of its own with the line as its terminal, so\n"
    "                         that no other program (Wine's server) takes the line as its\n"
    "                         terminal and gets a hang-up signal when flocksim ends; for\n"
    "                         programs that start flocksim (Ctrl-C no longer reaches it)\n"
    "  --verbose              print every command received on standard error\n"
    "  --help                 this text\n"
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

struct Options {
    unsigned units = 2;
    long erc = 1;
    long ercTransmitters = 1;
    long srt = 0;
    std::vector<long> noReceiver, mice, notRunning;
    std::vector<std::pair<long, long>> status;
    long addressing = 14;
    long lineUnit = 1;
    long groupReply = -1;
    double rate = 100.0;
    std::string motion = "still";
    flocksim::Sample pose;
    std::vector<flocksim::ButtonStep> buttons;
    flocksim::Faults faults;
    long wineCom = -1;  // 0: automatic
    std::string readyFile;
    bool dieWithParent = false;
    bool holdLine = false;
    bool verbose = false;
};

bool parseAddresses(const std::string& text, std::vector<long>& out)
{
    for (const std::string& part : split(text, ',')) {
        long value = 0;
        if (!parseNumber(part, 1, 126, value)) {
            return false;
        }
        out.push_back(value);
    }
    return !out.empty();
}

bool parseOption(const std::string& name, const std::string& value, Options& options)
{
    long number = 0;
    if (name == "--units") {
        if (!parseNumber(value, 1, 126, number)) return false;
        options.units = static_cast<unsigned>(number);
    } else if (name == "--erc") {
        return parseNumber(value, 0, 126, options.erc);
    } else if (name == "--erc-transmitters") {
        return parseNumber(value, 0, 15, options.ercTransmitters);
    } else if (name == "--srt") {
        return parseNumber(value, 0, 126, options.srt);
    } else if (name == "--no-receiver") {
        return parseAddresses(value, options.noReceiver);
    } else if (name == "--mice") {
        return parseAddresses(value, options.mice);
    } else if (name == "--not-running") {
        return parseAddresses(value, options.notRunning);
    } else if (name == "--status") {
        const std::vector<std::string> parts = split(value, '=');
        long address = 0;
        if (parts.size() != 2 || !parseNumber(parts[0], 1, 126, address) || !parseNumber(parts[1], 0, 255, number))
            return false;
        options.status.emplace_back(address, number);
    } else if (name == "--addressing") {
        return parseNumber(value, 14, 126, options.addressing) &&
               (options.addressing == 14 || options.addressing == 30 || options.addressing == 126);
    } else if (name == "--line-unit") {
        return parseNumber(value, 1, 126, options.lineUnit);
    } else if (name == "--group-reply") {
        return parseNumber(value, 0, 255, options.groupReply);
    } else if (name == "--rate") {
        char* end = nullptr;
        options.rate = std::strtod(value.c_str(), &end);
        return !value.empty() && *end == '\0' && options.rate >= 0.0 && options.rate <= 100000.0;
    } else if (name == "--motion") {
        options.motion = value;
        return value == "still" || value == "circle";
    } else if (name == "--pose") {
        const std::vector<std::string> parts = split(value, ',');
        if (parts.size() != 6) return false;
        for (std::size_t i = 0; i < 6; ++i) {
            char* end = nullptr;
            const double fraction = std::strtod(parts[i].c_str(), &end);
            if (parts[i].empty() || *end != '\0' || fraction < -1.0 || fraction > 1.0) return false;
            options.pose.words[i] = flocksim::wordFromFraction(fraction);
        }
    } else if (name == "--buttons") {
        for (const std::string& step : split(value, ',')) {
            const std::vector<std::string> parts = split(step, ':');
            long cycles = 0;
            if (parts.size() != 2 || !parseNumber(parts[0], 0, 127, number) ||
                !parseNumber(parts[1], 1, 1000000, cycles))
                return false;
            options.buttons.push_back({static_cast<std::uint8_t>(number), static_cast<std::uint32_t>(cycles)});
        }
    } else if (name == "--noise-every") {
        if (!parseNumber(value, 0, 1000000000, number)) return false;
        options.faults.noiseEvery = static_cast<std::uint32_t>(number);
    } else if (name == "--noise-length") {
        if (!parseNumber(value, 1, 4096, number)) return false;
        options.faults.noiseLength = static_cast<std::uint32_t>(number);
    } else if (name == "--drop-every") {
        if (!parseNumber(value, 0, 1000000000, number)) return false;
        options.faults.dropEvery = static_cast<std::uint32_t>(number);
    } else if (name == "--hang-up-after") {
        if (!parseNumber(value, 0, 2000000000, number)) return false;
        options.faults.hangUpAfter = static_cast<std::uint64_t>(number);
    } else if (name == "--hang-up") {
        if (value != "silence" && value != "close") return false;
        options.faults.hangUp = value == "close" ? flocksim::HangUp::Close : flocksim::HangUp::Silence;
    } else if (name == "--seed") {
        if (!parseNumber(value, 0, 0x7FFFFFFF, number)) return false;
        options.faults.seed = static_cast<std::uint32_t>(number);
    } else if (name == "--wine-com") {
        if (value == "auto") {
            options.wineCom = 0;
            return true;
        }
        return parseNumber(value, 1, flocksim::WineComLink::kLast, options.wineCom);
    } else if (name == "--ready-file") {
        options.readyFile = value;
        return !value.empty();
    } else {
        return false;
    }
    return true;
}

bool buildSetup(const Options& options, flocksim::Setup& setup, std::string& error)
{
    setup = flocksim::Setup::flock(options.units, static_cast<std::uint32_t>(options.erc));
    setup.maxAddress = static_cast<std::uint32_t>(options.addressing);
    setup.lineAddress = static_cast<std::uint32_t>(options.lineUnit);
    setup.groupModeReply = static_cast<int>(options.groupReply);
    setup.rate = options.rate;
    setup.faults = options.faults;
    auto unitAt = [&](long address) -> flocksim::UnitSetup* {
        if (address < 1 || address > static_cast<long>(options.units)) {
            error = "there is no unit at address " + std::to_string(address);
            return nullptr;
        }
        return &setup.units[static_cast<std::size_t>(address - 1)];
    };
    if (options.erc != 0) {
        flocksim::UnitSetup* unit = unitAt(options.erc);
        if (unit == nullptr) return false;
        unit->ercTransmitters = static_cast<std::uint8_t>(options.ercTransmitters);
    }
    if (options.srt != 0) {
        flocksim::UnitSetup* unit = unitAt(options.srt);
        if (unit == nullptr) return false;
        unit->srt = true;
    }
    for (long address : options.noReceiver) {
        flocksim::UnitSetup* unit = unitAt(address);
        if (unit == nullptr) return false;
        unit->receiver = false;
    }
    for (long address : options.mice) {
        flocksim::UnitSetup* unit = unitAt(address);
        if (unit == nullptr) return false;
        unit->mouse = true;
    }
    for (long address : options.notRunning) {
        flocksim::UnitSetup* unit = unitAt(address);
        if (unit == nullptr) return false;
        unit->running = false;
    }
    for (const auto& entry : options.status) {
        flocksim::UnitSetup* unit = unitAt(entry.first);
        if (unit == nullptr) return false;
        unit->status = static_cast<int>(entry.second);
    }
    flocksim::Motion motion = options.motion == "circle" ? flocksim::circleMotion(0.5, 200)
                                                         : flocksim::stillMotion(options.pose);
    setup.motion = options.buttons.empty() ? motion : flocksim::withButtons(motion, options.buttons);
    return true;
}

std::string describe(const flocksim::Command& command)
{
    std::ostringstream text;
    text << (command.address == 0 ? std::string("line unit") : "unit " + std::to_string(command.address)) << ":";
    char hex[8];
    for (std::uint8_t byte : command.bytes) {
        std::snprintf(hex, sizeof hex, " %02X", byte);
        text << hex;
    }
    if (!command.recognised) {
        text << " (not recognised)";
    }
    return text.str();
}

bool writeReadyFile(const std::string& path, const std::string& name)
{
    const std::string temporary = path + ".tmp";
    std::FILE* file = std::fopen(temporary.c_str(), "w");
    if (file == nullptr) {
        return false;
    }
    const bool written = std::fprintf(file, "%s\n", name.c_str()) > 0;
    return std::fclose(file) == 0 && written && std::rename(temporary.c_str(), path.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--help" || name == "-h") {
            std::cout << kUsage;
            return 0;
        }
        if (name == "--die-with-parent") {
            options.dieWithParent = true;
            continue;
        }
        if (name == "--hold-line") {
            options.holdLine = true;
            continue;
        }
        if (name == "--verbose") {
            options.verbose = true;
            continue;
        }
        if (i + 1 >= argc || !parseOption(name, argv[i + 1], options)) {
            std::cerr << "flocksim: bad or incomplete option " << name << (i + 1 < argc ? " " + std::string(argv[i + 1]) : "")
                      << "\n(flocksim --help lists the options)\n";
            return 2;
        }
        ++i;
    }
    flocksim::Setup setup;
    std::string error;
    if (!buildSetup(options, setup, error)) {
        std::cerr << "flocksim: " << error << "\n";
        return 2;
    }

    // The signals that end the program are taken by sigwait below; block
    // them before any thread starts so that none of them takes one.
    sigset_t endSignals;
    sigemptyset(&endSignals);
    sigaddset(&endSignals, SIGINT);
    sigaddset(&endSignals, SIGTERM);
    if (options.holdLine) {
        // The line's own hang-up (a fault, or the end) is no reason to stop.
        std::signal(SIGHUP, SIG_IGN);
        setsid();
    } else {
        sigaddset(&endSignals, SIGHUP);
    }
    pthread_sigmask(SIG_BLOCK, &endSignals, nullptr);
    if (options.dieWithParent) {
        const pid_t parent = getppid();
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) {
            return 0;
        }
    }

    flocksim::FlockSimulator simulator(std::move(setup));
    if (options.verbose) {
        simulator.onCommand([](const flocksim::Command& command) { std::cerr << describe(command) << std::endl; });
    }
    if (!simulator.start(error)) {
        std::cerr << "flocksim: " << error << "\n";
        return 1;
    }
    if (options.holdLine && !simulator.line().becomeControllingTerminal()) {
        std::cerr << "flocksim: cannot make " << simulator.linePath() << " the terminal of its session: "
                  << std::strerror(errno) << "\n";
        return 1;
    }
    std::string openName = simulator.linePath();
    std::cout << "flocksim: " << options.units << " units on " << simulator.linePath() << std::endl;
    flocksim::WineComLink link;
    if (options.wineCom >= 0) {
        if (!link.create(static_cast<unsigned>(options.wineCom), simulator.linePath(), error)) {
            std::cerr << "flocksim: " << error << "\n";
            return 1;
        }
        openName = link.openName();
        std::cout << "flocksim: Wine port " << link.comName() << " leads there (open it as " << openName << ")"
                  << std::endl;
    }
    if (!options.readyFile.empty() && !writeReadyFile(options.readyFile, openName)) {
        std::cerr << "flocksim: cannot write " << options.readyFile << "\n";
        return 1;
    }
    int signal = 0;
    sigwait(&endSignals, &signal);
    simulator.stop();
    link.remove();
    if (!options.readyFile.empty()) {
        std::remove(options.readyFile.c_str());
    }
    return 0;
}
