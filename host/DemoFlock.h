#pragma once
// The demo's flock: the flock simulator in this process on a pseudo-terminal,
// an ERC and two sensors that move on all six axes (flocksim's demo motion: a
// figure of eight and a slow helix), and a mouse on the first sensor that
// presses its buttons in turn. Where the simulator engine is not built in
// (the Windows program), the demo needs the port of a simulator that runs
// elsewhere.
#include <memory>
#include <string>

namespace host {

class DemoFlock {
public:
    DemoFlock();
    ~DemoFlock();
    DemoFlock(const DemoFlock&) = delete;
    DemoFlock& operator=(const DemoFlock&) = delete;

    // Starts the simulated flock. False with the reason.
    bool start(std::string& error);
    // The port that the device opens.
    std::string portName() const;

    // The module's full path: beside the program (the build), or where an
    // installed tree keeps it, relative to the program's folder. False with
    // the reason when neither holds it.
    static bool findModule(std::string& path, std::string& error);
    // The configuration of the demo device for a flock at port, with the
    // module's full path.
    static std::string configText(const std::string& port, const std::string& library);
    // The options of the simulator program that make the same flock.
    static const char* simulatorOptions();

private:
    struct Engine;
    std::unique_ptr<Engine> engine_;
};

}  // namespace host
