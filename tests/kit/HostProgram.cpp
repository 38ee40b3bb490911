#include "kit/HostProgram.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <utility>

#include "kit/ModuleLibrary.h"
#include "kit/TempFile.h"

namespace kit {

Finished runScript(const std::string& script)
{
    TempFile out(""), err(""), status("");
    std::string text = script;
    for (const auto& [name, value] : {std::pair<std::string, std::string>{"HOST", VANTREL_HOST_PATH},
                                      {"OUT", out.path()},
                                      {"ERR", err.path()}}) {
        for (std::size_t at = text.find(name); at != std::string::npos; at = text.find(name, at + value.size())) {
            text.replace(at, name.size(), "'" + value + "'");
        }
    }
    const std::string command = "sh -c \"" + text + "\"; echo $? >'" + status.path() + "'";
    std::system(command.c_str());
    Finished finished;
    finished.status = std::atoi(contentOf(status.path()).c_str());
    finished.out = contentOf(out.path());
    finished.err = contentOf(err.path());
    return finished;
}

flocksim::Motion demoMotion()
{
    return flocksim::withButtons(flocksim::circleMotion(0.5, 200), {{0x00, 40}, {0x10, 30}, {0x30, 30}, {0x70, 30}});
}

SimulatedFlock::SimulatedFlock(std::uint32_t mouse) : simulator(setup(mouse)), mouse(mouse)
{
    std::string problem;
    started = simulator.start(problem);
    EXPECT_TRUE(started) << problem;
}

flocksim::Setup SimulatedFlock::setup(std::uint32_t mouse)
{
    flocksim::Setup flock = flocksim::Setup::flock(3, 1);
    flock.units[mouse - 1].mouse = true;
    flock.motion = demoMotion();
    return flock;
}

std::string SimulatedFlock::config(const std::string& name) const
{
    return "# hand-written\n"
           "device " + name + " \"" + modulePath() + "\" 2\n"
           "  port " + simulator.linePath() + "\n"
           "  mouse " + std::to_string(mouse) + "\n";
}

std::string blockName(const std::string& temporaryPath)
{
    return "vantrel-" + temporaryPath.substr(temporaryPath.find_last_of('/') + 1);
}

}  // namespace kit
