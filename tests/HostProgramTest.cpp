// The host program itself (vantrel-host) as a user runs it, against the flock
// simulator on a pseudo-terminal: its JSON lines, its stop on SIGTERM, and
// its exit codes and messages when a device cannot run.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "FlockSimulator.h"
#include "Motion.h"
#include "kit/ModuleLibrary.h"
#include "kit/TempFile.h"

namespace {

struct Finished {
    int status = -1;
    std::string out;
    std::string err;
};

std::string contentOf(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream input(text);
    for (std::string line; std::getline(input, line);) {
        lines.push_back(line);
    }
    return lines;
}

// Runs a shell script in which HOST stands for the program, OUT, ERR for its
// output files; the script's own exit status is its result.
Finished runScript(const std::string& script)
{
    kit::TempFile out(""), err(""), status("");
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

// Sensors at bus addresses 2 and 3 (output trackers 1 and 2) go round a
// circle; the mouse on 2 changes its buttons.
flocksim::Motion demoMotion()
{
    return flocksim::withButtons(flocksim::circleMotion(0.5, 200), {{0x00, 40}, {0x10, 30}, {0x30, 30}, {0x70, 30}});
}

struct SimulatedFlock {
    SimulatedFlock() : simulator(setup())
    {
        std::string problem;
        started = simulator.start(problem);
        EXPECT_TRUE(started) << problem;
    }
    static flocksim::Setup setup()
    {
        flocksim::Setup flock = flocksim::Setup::flock(3, 1);
        flock.units[1].mouse = true;
        flock.motion = demoMotion();
        return flock;
    }
    std::string config() const
    {
        return "# hand-written\n"
               "device flock \"" + kit::modulePath() + "\" 2\n"
               "  port " + simulator.linePath() + "\n"
               "  mouse 2\n";
    }
    flocksim::FlockSimulator simulator;
    bool started = false;
};

// What the module publishes for a word: a fraction of full scale (-32768
// clamped to -1) times 12 feet or 180 degrees.
double decoded(std::int16_t word, double fullScale)
{
    const double fraction = std::max(-1.0, static_cast<double>(word) / 32767.0);
    return fraction * fullScale;
}

TEST(HostProgram, JsonLinesCarryThePosesTheSimulatorSent)
{
    SimulatedFlock flock;
    ASSERT_TRUE(flock.started);
    kit::TempFile config(flock.config());
    const Finished run = runScript("HOST run '" + config.path() + "' --format jsonl --duration 3 >OUT 2>ERR");
    ASSERT_EQ(run.status, 0) << run.err;

    // Every pose that each sensor takes in a turn of the circle, decoded.
    const flocksim::Motion motion = demoMotion();
    std::vector<std::array<double, 6>> expected[2];
    for (std::uint32_t address : {2u, 3u}) {
        for (std::uint64_t cycle = 0; cycle < 200; ++cycle) {
            const flocksim::Sample sample = motion(address, cycle);
            std::array<double, 6> pose{};
            for (int i = 0; i < 6; ++i) {
                pose[i] = decoded(sample.words[i], i < 3 ? 12.0 : 180.0);
            }
            pose[3] = -pose[3];  // CAVE coordinates: azimuth and roll negated
            pose[5] = -pose[5];
            expected[address - 2].push_back(pose);
        }
    }
    const char* names[6] = {"x", "y", "z", "azimuth", "elevation", "roll"};
    const double now = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    int trackerLines[2] = {0, 0};
    std::vector<std::string> unmatched;
    std::vector<std::string> buttonStates;
    for (const std::string& line : linesOf(run.out)) {
        const nlohmann::json sample = nlohmann::json::parse(line);
        ASSERT_EQ(sample["device"], "flock") << line;
        EXPECT_NEAR(sample["time"].get<double>(), now, 30.0) << line;
        if (sample.contains("controller")) {
            EXPECT_EQ(sample["controller"], 1) << line;
            ASSERT_EQ(sample["buttons"].size(), 3u) << line;
            buttonStates.push_back(sample["buttons"].dump());
            continue;
        }
        const int tracker = sample["tracker"].get<int>();
        ASSERT_TRUE(tracker == 1 || tracker == 2) << line;
        ++trackerLines[tracker - 1];
        // One of the poses of the turn, to the fixed-point step (1e-5) and the
        // rounding of the module's 32-bit floats.
        bool found = false;
        for (const std::array<double, 6>& pose : expected[tracker - 1]) {
            bool same = true;
            for (int i = 0; i < 6 && same; ++i) {
                same = std::fabs(sample[names[i]].get<double>() - pose[i]) <= 1e-5 + 2.5e-7 * std::fabs(pose[i]);
            }
            found = found || same;
        }
        if (!found) {
            unmatched.push_back(line);
        }
    }
    EXPECT_TRUE(unmatched.empty()) << unmatched.size() << " lines match no pose of the simulator, first "
                                   << unmatched.front();
    // 100 cycles a second for 3 seconds, each sensor moving in every one.
    EXPECT_GT(trackerLines[0], 150);
    EXPECT_GT(trackerLines[1], 150);
    // The mouse's buttons change every 30 to 40 cycles.
    EXPECT_GE(buttonStates.size(), 4u);
}

TEST(HostProgram, SigtermStopsTheFlockAndEndsCleanly)
{
    SimulatedFlock flock;
    ASSERT_TRUE(flock.started);
    kit::TempFile config(flock.config());
    // Wait for the first sample (at most 30 s), then SIGTERM.
    const Finished run = runScript("HOST run '" + config.path() + "' --format csv >OUT 2>ERR & pid=\\$!; "
                                   "n=0; while [ \\$(wc -l <OUT) -lt 2 ] && [ \\$n -lt 300 ]; do sleep 0.1; n=\\$((n+1)); done; "
                                   "kill -TERM \\$pid; wait \\$pid");
    EXPECT_EQ(run.status, 0) << run.err;
    const std::vector<std::string> lines = linesOf(run.out);
    ASSERT_GE(lines.size(), 2u) << run.err;
    EXPECT_EQ(lines[0], "time,device,tracker,x,y,z,azimuth,elevation,roll,controller,buttons");
    // stop's point and sleep commands are the last bytes on the line.
    const std::vector<std::uint8_t> received = flock.simulator.received();
    ASSERT_GE(received.size(), 2u);
    EXPECT_EQ(received[received.size() - 2], 0x42);
    EXPECT_EQ(received[received.size() - 1], 0x47);
    EXPECT_TRUE(flock.simulator.unit(2).asleep);
}

TEST(HostProgram, DevicesThatCannotRunEndItWithTheirReason)
{
    // A library that is not there: the file's line, exit code 2.
    kit::TempFile missing("\ndevice flock /nonexistent/libvantrel.so 2\n");
    Finished run = runScript("HOST run '" + missing.path() + "' >OUT 2>ERR");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "vantrel-host: " + missing.path() + ":2: cannot load library \"/nonexistent/libvantrel.so\"\n");

    // init fails: the module's own message, then the host's summary, exit 1.
    kit::TempFile badUnits("device flock \"" + kit::modulePath() + "\" 33\n");
    run = runScript("HOST run '" + badUnits.path() + "' --format jsonl >OUT 2>ERR");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    const std::vector<std::string> lines = linesOf(run.err);
    ASSERT_GE(lines.size(), 2u) << run.err;
    EXPECT_NE(lines[lines.size() - 2].find("ERROR: CVantrel: Invalid arg found for Vantrel at line 1."), std::string::npos)
        << run.err;
    EXPECT_EQ(lines.back(), "vantrel-host: device \"flock\" (" + badUnits.path() + ":1): init failed");
}

}  // namespace
