#include "DemoFlock.h"

#include <filesystem>

#include "platform/HostPlatform.h"

#if defined(VANTREL_HOST_FLOCKSIM)
#include "FlockSimulator.h"
#include "Motion.h"
#endif

namespace host {

#if defined(VANTREL_HOST_FLOCKSIM)
struct DemoFlock::Engine {
    explicit Engine(flocksim::Setup setup) : simulator(std::move(setup)) {}
    flocksim::FlockSimulator simulator;
};
#else
struct DemoFlock::Engine {};
#endif

DemoFlock::DemoFlock() = default;
DemoFlock::~DemoFlock() = default;

bool DemoFlock::start(std::string& error)
{
#if defined(VANTREL_HOST_FLOCKSIM)
    // Bus address 1 is the ERC, 2 and 3 the sensors; the mouse is on 2.
    flocksim::Setup setup = flocksim::Setup::flock(3, 1);
    setup.units[1].mouse = true;
    setup.rate = 100.0;
    setup.motion = flocksim::withButtons(flocksim::namedMotion("demo"),
                                         {{0x00, 100}, {0x10, 50}, {0x30, 50}, {0x70, 50}});
    engine_ = std::make_unique<Engine>(std::move(setup));
    return engine_->simulator.start(error);
#else
    error = std::string("this program has no simulated flock built in: start the simulator (flocksim ") +
            simulatorOptions() + " --wine-com 7) and give its port (demo --port COM7)";
    return false;
#endif
}

std::string DemoFlock::portName() const
{
#if defined(VANTREL_HOST_FLOCKSIM)
    if (engine_) {
        return engine_->simulator.linePath();
    }
#endif
    return {};
}

bool DemoFlock::findModule(std::string& path, std::string& error)
{
    const std::filesystem::path folder(platform::programFolder());
    if (!folder.is_absolute()) {
        error = "the demo cannot tell the program's folder, where its module is";
        return false;
    }
    // VANTREL_MODULE_FROM_PROGRAM (set by the install rules): the path from
    // the programs' folder to the libraries' folder.
    const std::filesystem::path places[] = {
        folder / VANTREL_MODULE_FILE,
#if defined(VANTREL_MODULE_FROM_PROGRAM)
        (folder / VANTREL_MODULE_FROM_PROGRAM / VANTREL_MODULE_FILE).lexically_normal(),
#endif
    };
    std::string tried;
    for (const std::filesystem::path& place : places) {
        if (std::filesystem::is_regular_file(place)) {
            path = place.string();
            return true;
        }
        tried += (tried.empty() ? "" : " nor ") + place.string();
    }
    error = "the demo's module is not where it belongs: not " + tried;
    return false;
}

std::string DemoFlock::configText(const std::string& port, const std::string& library)
{
    return "# The demo flock, written by vantrel-host demo: an ERC at bus address 1,\n"
           "# sensors at 2 and 3 (output trackers 1 and 2), a mouse on sensor 2.\n"
           "device demo \"" + library + "\" 2\n"
           "  port \"" + port + "\"\n"
           "  mouse 2\n";
}

const char* DemoFlock::simulatorOptions()
{
    return "--units 3 --mice 2 --motion demo --buttons 0x00:100,0x10:50,0x30:50,0x70:50";
}

}  // namespace host
