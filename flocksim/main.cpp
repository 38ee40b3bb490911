// flocksim: a flock of tracker units on a pseudo-terminal, for trying and
// testing a driver without the hardware. See --help.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>
#include <sys/prctl.h>
#include <unistd.h>

#include "CommandLine.h"
#include "ControlChannel.h"
#include "FlockSimulator.h"
#include "WineComLink.h"

namespace {

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

// Reports why the program ends, in one write: a program that waits for the
// text in a file never sees half of it.
int fail(int status, const std::string& text)
{
    std::cerr << ("flocksim: " + text + "\n") << std::flush;
    return status;
}

}  // namespace

int main(int argc, char** argv)
{
    flocksim::CommandLine options;
    std::string error;
    if (!options.parse(argc - 1, argv + 1, error)) {
        return fail(2, error + "\n(flocksim --help lists the options)");
    }
    if (options.help) {
        std::cout << flocksim::CommandLine::usage();
        return 0;
    }
    if (options.version) {
        std::cout << "flocksim " << VANTREL_VERSION << std::endl;
        return 0;
    }
    flocksim::Setup setup;
    if (!options.buildSetup(setup, error)) {
        return fail(2, error);
    }

    // The signals that end the program are taken by sigwait below; block
    // them before any thread starts so that none of them takes one.
    sigset_t endSignals;
    sigemptyset(&endSignals);
    sigaddset(&endSignals, SIGINT);
    sigaddset(&endSignals, SIGTERM);
    sigaddset(&endSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &endSignals, nullptr);
    if (options.wineCom >= 0) {
        // The program leads a session of its own whose terminal is the line
        // (below): closing the line for a hang-up sends it SIGHUP, which is
        // no request to end. It stays blocked and is not waited for.
        sigdelset(&endSignals, SIGHUP);
    }
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
        return fail(1, error);
    }
    std::string openName = simulator.linePath();
    std::cout << "flocksim: " << options.units << " units on " << simulator.linePath() << std::endl;
    flocksim::WineComLink link;
    // A closed line that comes back is a new pseudo-terminal: the Wine port
    // leads there, and it becomes the session's terminal as the first one.
    simulator.onNewLine([&link, &simulator, &options](const std::string& path) {
        std::string problem;
        if (options.wineCom >= 0 &&
            (!simulator.line().takeAsControllingTerminal() || !link.retarget(path, problem))) {
            std::cerr << ("flocksim: the Wine port cannot follow the line: " + problem + "\n") << std::flush;
        }
        std::cout << "flocksim: the line is back on " << path << std::endl;
    });
    if (options.wineCom >= 0) {
        // Wine's server opens the port as a terminal and leads a session: in
        // a session of the program's own, with the line as its terminal, the
        // server does not take the line and is not hung up when it closes.
        ::setsid();
        simulator.line().takeAsControllingTerminal();
        if (!link.create(static_cast<unsigned>(options.wineCom), simulator.linePath(), error)) {
            return fail(1, error);
        }
        openName = link.openName();
        std::cout << "flocksim: Wine port " << link.comName() << " leads there (open it as " << openName << ")"
                  << std::endl;
    }
    if (!options.readyFile.empty() && !writeReadyFile(options.readyFile, openName)) {
        return fail(1, "cannot write " + options.readyFile);
    }
    bool ownerGone = false;
    if (options.controlDirectory.empty() && options.ownerPid == 0) {
        int signal = 0;
        sigwait(&endSignals, &signal);
    } else {
        // Every millisecond: the control directory's commands, the owner's
        // life and the end signals.
        flocksim::ControlChannel control(options.controlDirectory);
        const timespec interval{0, 1000000};
        while (sigtimedwait(&endSignals, nullptr, &interval) < 0) {
            if (!options.controlDirectory.empty() && !control.serve(simulator)) {
                break;
            }
            if (options.ownerPid != 0 && ::kill(static_cast<pid_t>(options.ownerPid), 0) != 0 && errno == ESRCH) {
                // Nobody is left to remove the control directory.
                ownerGone = true;
                break;
            }
        }
    }
    simulator.stop();
    link.remove();
    if (!options.readyFile.empty()) {
        std::remove(options.readyFile.c_str());
    }
    if (ownerGone && !options.controlDirectory.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(options.controlDirectory, ignored);
    }
    return 0;
}
