#pragma once
// What `run`, `demo` and `watch` share while the samples flow: the stop
// request (Ctrl-C, SIGTERM, a console event), the end of --duration, the
// publishers' refresh about 30 times a second, and the end of the run when an
// output cannot be written any more.
#include <chrono>
#include <functional>

namespace host {

class Publisher;

// The program's exit codes.
enum ExitCode : int {
    kExitOk = 0,        // ran and stopped cleanly
    kExitDevice = 1,    // a device failed (createDev, init, configure, start), or was lost for good
    kExitUsage = 2,     // command line, configuration file, library or output file
    kExitInterrupted = 130,  // a second stop request while a device was brought up again
};

class RunLoop {
public:
    // What a step returns to let the run go on; anything else is the exit
    // code that ends it.
    static constexpr int kGoOn = -1;
    // How often the publishers are refreshed: 30 times a second.
    static constexpr std::chrono::milliseconds kRefreshPeriod{33};

    // duration: seconds from the start of run(); 0: until stopped.
    RunLoop(double duration, Publisher& publishers);

    // Calls step every period until it ends the run, a stop is requested or
    // the duration is over (kExitOk), or an output breaks (said, kExitUsage).
    // Between two steps it sleeps for the period, or calls wait with the
    // period, which may return as soon as there is something to do.
    using Wait = std::function<void(std::chrono::milliseconds period)>;
    int run(std::chrono::milliseconds period, const std::function<int()>& step, const Wait& wait = Wait());

    // Asks every run of the process to stop; safe in a signal handler. A
    // second request while a device is being brought up again (whose steps
    // may take seconds) ends the process at once, with kExitInterrupted.
    static void requestStop();
    static bool stopRequested();
    // Around the bringing up again of a device.
    static void recoveryBegins();
    static void recoveryEnds();

private:
    double duration_;
    Publisher& publishers_;
};

}  // namespace host
