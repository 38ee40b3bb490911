// The host program itself (vantrel-host) as a user runs it, against the flock
// simulator on a pseudo-terminal: its JSON lines, its stop on SIGTERM, its
// exit codes and messages when a device cannot run, and its publication to
// other processes (shared storages read by a second process, OSC received by
// oscdump).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "PseudoTerminal.h"
#include "kit/HostProgram.h"
#include "kit/ModuleLibrary.h"
#include "kit/TempFile.h"
#include "kit/TempFolder.h"
#include "kit/TextFile.h"

namespace {

using kit::blockName;
using kit::contentOf;
using kit::demoMotion;
using kit::Finished;
using kit::linesOf;
using kit::runScript;
using kit::SimulatedFlock;

// What the module publishes for a word: a fraction of full scale (-32768
// clamped to -1) times 12 feet or 180 degrees.
double decoded(std::int16_t word, double fullScale)
{
    const double fraction = std::max(-1.0, static_cast<double>(word) / 32767.0);
    return fraction * fullScale;
}

// Two devices, each on a flock of its own, share the host's storages: the
// first has output trackers 1 and 2 and controller 1, the second 3, 4 and 2.
TEST(HostProgram, JsonLinesCarryThePosesTheSimulatorsSent)
{
    SimulatedFlock flock, second;
    ASSERT_TRUE(flock.started && second.started);
    kit::TempFile config(flock.config() + second.config("second"));
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
    int trackerLines[4] = {0, 0, 0, 0};
    std::vector<std::string> unmatched;
    std::vector<std::string> buttonStates;
    for (const std::string& line : linesOf(run.out)) {
        const nlohmann::json sample = nlohmann::json::parse(line);
        const int id = sample.value("tracker", 0) + sample.value("controller", 0);
        const bool first = sample.contains("tracker") ? id <= 2 : id == 1;
        ASSERT_EQ(sample["device"], first ? "flock" : "second") << line;
        EXPECT_NEAR(sample["time"].get<double>(), now, 30.0) << line;
        if (sample.contains("controller")) {
            ASSERT_TRUE(id == 1 || id == 2) << line;
            ASSERT_EQ(sample["buttons"].size(), 3u) << line;
            if (id == 1) {
                buttonStates.push_back(sample["buttons"].dump());
            }
            continue;
        }
        const int tracker = sample["tracker"].get<int>();
        ASSERT_TRUE(tracker >= 1 && tracker <= 4) << line;
        ++trackerLines[tracker - 1];
        // One of the poses of the turn, to the fixed-point step (1e-5) and the
        // rounding of the module's 32-bit floats.
        bool found = false;
        for (const std::array<double, 6>& pose : expected[(tracker - 1) % 2]) {
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
    for (int lines : trackerLines) {
        EXPECT_GT(lines, 150);
    }
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
    EXPECT_EQ(lines[0], "time,device,tracker,x,y,z,azimuth,elevation,roll,controller,buttons,status,since,attempt");
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
    EXPECT_EQ(run.err, "vantrel-host: " + missing.path() +
                           ":2: cannot load library \"/nonexistent/libvantrel.so\" (/nonexistent/libvantrel.so: cannot "
                           "open shared object file: No such file or directory): give the module's path, absolute or "
                           "from the file's folder\n");

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

// Options that cannot be meant as given end the program with exit code 2 and
// one short line, before any device is touched.
TEST(HostProgram, OptionsOutOfTheirRangeAreUsageErrors)
{
    SimulatedFlock flock;
    ASSERT_TRUE(flock.started);
    kit::TempFile config(flock.config());
    const std::string range = "--duration: give more than 0 and at most 31536000 seconds (one year), not ";
    const std::vector<std::pair<std::string, std::string>> cases{
        {"--duration abc", "--duration: \"abc\" is not a number of seconds"},
        {"--duration 1e10", range + "1e10"},
        {"--duration 1e308", range + "1e308"},
        {"--duration nan", range + "nan"},
        {"--duration inf", range + "inf"},
        {"--duration -1", range + "-1"},
        {"--duration 0", range + "0"},
        {"--osc 127.0.0.1:99999", "--osc: port 99999 is out of range: give 1 to 65535"},
        {"--osc 127.0.0.1:0x50", "--osc: port 0x50 is out of range: give 1 to 65535"},
        {"--osc-ttl 4", "--osc-ttl needs --osc HOST:PORT"},
        {"--shm ''", "the name of shared storages \"\" is empty"},
    };
    for (const auto& [options, message] : cases) {
        // Where a case would run, it is ended after 10 s.
        const Finished run =
            runScript("timeout -k 5 10 HOST run '" + config.path() + "' --format jsonl " + options + " >OUT 2>ERR");
        EXPECT_EQ(run.status, 2) << options << "\n" << run.err;
        EXPECT_EQ(run.err, "vantrel-host: " + message + "\n") << options;
        EXPECT_EQ(run.out, "") << options;
    }
    // No device was started: nothing reached the flock.
    EXPECT_TRUE(flock.simulator.received().empty());
    // Within the range, a fraction of a second runs.
    const Finished brief = runScript("HOST run '" + config.path() + "' --format jsonl --duration 0.5 >OUT 2>ERR");
    EXPECT_EQ(brief.status, 0) << brief.err;
}

using kit::TempFolder;

// The picture's name reaches the plot script as one word, whatever it holds:
// no shell runs a command hidden in it.
TEST(HostProgram, ThePlotsNameIsNoCommand)
{
    SimulatedFlock flock;
    ASSERT_TRUE(flock.started);
    kit::TempFile config(flock.config());
    TempFolder folder;
    // Run in the folder: a shell would make the file "injected" there. (The
    // record in metres and quaternions: the script draws those too.)
    const Finished run = runScript("cd '" + folder.path + "' && HOST run '" + config.path() +
                                   "' --format jsonl --units m --rotation quaternion --duration 1 "
                                   "--plot 'p\\$(touch injected).png' >OUT 2>ERR");
    EXPECT_FALSE(std::filesystem::exists(folder.path + "/injected")) << run.err;
    // The record and the picture under the names as given.
    const std::string literal = folder.path + "/p$(touch injected).png";
    EXPECT_TRUE(std::filesystem::exists(literal + ".jsonl")) << run.err;
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(std::filesystem::exists(literal)) << run.err;
}

// A script that fails is named with its exit code, its own messages follow.
TEST(HostProgram, APlotThatFailsShowsTheScriptsMessages)
{
    SimulatedFlock flock;
    ASSERT_TRUE(flock.started);
    kit::TempFile config(flock.config()), record("");
    const Finished run = runScript("HOST run '" + config.path() + "' --format jsonl --duration 1 --record '" +
                                   record.path() + "' --plot /nonexistent/folder/p.png >OUT 2>ERR");
    EXPECT_EQ(run.status, 2) << run.err;
    const std::vector<std::string> lines = linesOf(run.err);
    ASSERT_GE(lines.size(), 3u) << run.err;
    // Python's report of the exception that ended the script, after the
    // host's line.
    const std::string said = "vantrel-host: no picture: " + std::string(VANTREL_PLOT_SCRIPT) +
                             " ended with exit code 1 (the samples are in " + record.path() + "); it said:";
    const auto at = std::find(lines.begin(), lines.end(), said);
    ASSERT_NE(at, lines.end()) << run.err;
    EXPECT_EQ(*(at + 1), "Traceback (most recent call last):") << run.err;
    EXPECT_NE(lines.back().find("/nonexistent/folder/p.png"), std::string::npos) << run.err;
}

// The record never takes the place of the configuration or a library, also
// when its name is another path to the same file.
TEST(HostProgram, TheRecordIsNeverTheConfigurationOrTheLibrary)
{
    SimulatedFlock flock;
    ASSERT_TRUE(flock.started);
    TempFolder folder;
    const std::string config = folder.path + "/mine.cfg";
    std::ofstream(config) << flock.config();
    std::filesystem::create_hard_link(config, folder.path + "/other-name.cfg");
    std::filesystem::create_directory(folder.path + "/sub");
    std::filesystem::create_symlink(kit::modulePath(), folder.path + "/module-link.so");
    const std::vector<std::pair<std::string, std::string>> cases{
        {"mine.cfg", "--record mine.cfg is the configuration file " + config},
        {"sub/../other-name.cfg", "--record sub/../other-name.cfg is the configuration file " + config},
        {"module-link.so", "--record module-link.so is the library of device \"flock\" (" + config + ":2)"},
        {"R.jsonl --plot ./R.jsonl", "--record R.jsonl and --plot ./R.jsonl are one file"},
    };
    for (const auto& [options, message] : cases) {
        const Finished run = runScript("cd '" + folder.path + "' && timeout -k 5 10 HOST run '" + config +
                                       "' --format jsonl --duration 1 --record " + options + " >OUT 2>ERR");
        EXPECT_EQ(run.status, 2) << options;
        EXPECT_EQ(run.err, "vantrel-host: " + message + ": give the samples a file of their own\n") << options;
    }
    EXPECT_EQ(contentOf(config), flock.config());
    EXPECT_TRUE(flock.simulator.received().empty());
}

// A record replaces a file of its name only when the devices ran: not after a
// failed init, and no empty record of --plot is left behind.
TEST(HostProgram, ARecordReplacesAFileOnlyWhenTheDevicesRan)
{
    SimulatedFlock flock;
    ASSERT_TRUE(flock.started);
    TempFolder folder;
    const std::string record = folder.path + "/R.csv";
    std::ofstream(record) << "an earlier record\n";
    kit::TempFile badUnits("device flock \"" + kit::modulePath() + "\" 33\n"), config(flock.config());
    Finished run = runScript("HOST run '" + badUnits.path() + "' --format jsonl --record '" + record + "' >OUT 2>ERR");
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(contentOf(record), "an earlier record\n");
    run = runScript("HOST run '" + badUnits.path() + "' --format jsonl --plot '" + folder.path + "/P.png' >OUT 2>ERR");
    EXPECT_EQ(run.status, 1) << run.err;
    // Nothing else in the folder: no P.png.jsonl, no temporary file.
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder.path)) {
        names.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(names, std::vector<std::string>{"R.csv"});

    run = runScript("HOST run '" + config.path() + "' --format jsonl --duration 1 --record '" + record + "' >OUT 2>ERR");
    EXPECT_EQ(run.status, 0) << run.err;
    const std::vector<std::string> lines = linesOf(contentOf(record));
    ASSERT_GT(lines.size(), 50u);
    EXPECT_EQ(lines.front(), "time,device,tracker,x,y,z,azimuth,elevation,roll,controller,buttons,status,since,attempt");
    EXPECT_EQ(lines.size(), linesOf(run.out).size() + 1);
    names.clear();
    for (const auto& entry : std::filesystem::directory_iterator(folder.path)) {
        names.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(names, std::vector<std::string>{"R.csv"});
}

// An output that stops taking lines ends the run, named with the system's
// reason.
TEST(HostProgram, AnOutputThatBreaksIsNamedWithTheReason)
{
    SimulatedFlock flock;
    ASSERT_TRUE(flock.started);
    kit::TempFile config(flock.config()), status("");
    // head takes the first line and closes the pipe.
    const Finished run = runScript("{ timeout -k 5 30 HOST run '" + config.path() + "' --format jsonl 2>ERR; echo \\$? >'" +
                                   status.path() + "'; } | head -n 1 >OUT");
    EXPECT_EQ(contentOf(status.path()), "2\n");
    const std::vector<std::string> lines = linesOf(run.err);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "vantrel-host: an output cannot be written any more (standard output: Broken pipe): stopping")
        << run.err;
}

// The rows of the live table as last drawn: each redraw starts with the
// cursor moved up and every line cleared; the escape sequences are left out.
std::vector<std::string> lastTable(const std::string& screen)
{
    const std::size_t redraw = screen.rfind("A\x1b[2K");
    std::vector<std::string> rows;
    for (const std::string& line : linesOf(screen.substr(redraw == std::string::npos ? 0 : redraw + 1))) {
        if (line.compare(0, 4, "\x1b[2K") == 0) {
            rows.push_back(line.substr(4));
        }
    }
    return rows;
}

// The buttons of a mouse show on the row of the sensor of its unit: with a
// mouse on the second sensor (bus address 3), on output tracker 2's row.
TEST(HostProgram, TheTableShowsAMousesButtonsBesideItsOwnSensor)
{
    SimulatedFlock flock(3);
    ASSERT_TRUE(flock.started);
    kit::TempFile config(flock.config());
    const Finished run =
        runScript("HOST run '" + config.path() + "' --format table --quiet --duration 2 >OUT 2>ERR");
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<std::string> rows = lastTable(run.out);
    ASSERT_EQ(rows.size(), 3u) << run.out.substr(run.out.size() > 2000 ? run.out.size() - 2000 : 0);
    std::istringstream first(rows[1]), second(rows[2]);
    std::string words[2][10];
    for (int i = 0; i < 10; ++i) {
        first >> words[0][i];
        second >> words[1][i];
    }
    // device, ID, x, y, z, azimuth, elevation, roll, buttons, samples/s
    EXPECT_EQ(words[0][1], "1");
    EXPECT_EQ(words[0][8], "-") << rows[1];
    EXPECT_EQ(words[1][1], "2");
    EXPECT_EQ(words[1][8].size(), 3u) << rows[2];
    EXPECT_EQ(words[1][8].find_first_not_of("01"), std::string::npos) << rows[2];
}

// A port that opens but where no flock answers: after the module's own
// message, what to look at.
TEST(HostProgram, APortWhereNoFlockAnswersSaysWhatToCheck)
{
    flocksim::PseudoTerminal line;
    std::string problem;
    ASSERT_TRUE(line.open(problem)) << problem;
    kit::TempFile config("device flock \"" + kit::modulePath() + "\" 2\n  port " + line.slavePath() + "\n");
    const Finished run = runScript("timeout -k 5 60 HOST run '" + config.path() + "' --format jsonl >OUT 2>ERR");
    EXPECT_EQ(run.status, 1) << run.err;
    const std::vector<std::string> lines = linesOf(run.err);
    ASSERT_GE(lines.size(), 2u) << run.err;
    EXPECT_NE(lines[lines.size() - 2].find("ERROR: CVantrel: Could not start group mode."), std::string::npos) << run.err;
    EXPECT_EQ(lines.back(), "vantrel-host: device \"flock\" (" + config.path() +
                                ":1): configure failed: the flock did not answer as it should; check that it is "
                                "switched on, the cable, that its baud rate is the configuration's (38400 unless a "
                                "baud line says otherwise), and the flock's address switches");
}

// The configurations that the README shows (not the transcripts of a shell),
// each with the built module as its library and pseudo-terminals as ports.
std::vector<std::string> readmeConfigurations(std::vector<std::unique_ptr<flocksim::PseudoTerminal>>& lines)
{
    std::vector<std::string> configurations;
    std::istringstream readme(contentOf(std::string(VANTREL_SOURCE_DIR) + "/README.md"));
    const std::regex deviceLine("^(\\s*device\\s+\\S+\\s+)\\S+(.*)$");
    const std::regex portLine("^(\\s*)(port|serialport)\\s.*$");
    std::string block;
    bool inBlock = false;
    for (std::string line; std::getline(readme, line);) {
        if (line.compare(0, 3, "```") == 0) {
            if (inBlock && block.find("\ndevice ") != std::string::npos && block.find("\n$ ") == std::string::npos) {
                configurations.push_back(block.substr(1));
            }
            inBlock = !inBlock;
            block.clear();
            continue;
        }
        if (!inBlock) {
            continue;
        }
        if (std::regex_match(line, portLine)) {
            lines.push_back(std::make_unique<flocksim::PseudoTerminal>());
            std::string problem;
            EXPECT_TRUE(lines.back()->open(problem)) << problem;
            line = std::regex_replace(line, portLine, "$1port " + lines.back()->slavePath());
        } else {
            line = std::regex_replace(line, deviceLine, "$1\"" + kit::modulePath() + "\"$2");
        }
        block += "\n" + line;
    }
    return configurations;
}

// Every configuration of the README and of these tests would run: check
// says so (exit 0) and sends nothing to the flock.
TEST(HostProgram, CheckTakesTheConfigurationsOfTheReadmeAndTheTests)
{
    std::vector<std::unique_ptr<flocksim::PseudoTerminal>> lines;
    std::vector<std::string> configurations = readmeConfigurations(lines);
    ASSERT_GE(configurations.size(), 1u);
    SimulatedFlock flock;
    ASSERT_TRUE(flock.started);
    configurations.push_back(flock.config());
    for (const std::string& text : configurations) {
        kit::TempFile config(text);
        const Finished run = runScript("HOST check '" + config.path() + "' >OUT 2>ERR");
        EXPECT_EQ(run.status, 0) << text << "\n" << run.out << run.err;
        const std::vector<std::string> said = linesOf(run.out);
        ASSERT_EQ(said.size(), 1u) << run.out;
        EXPECT_EQ(said[0].substr(0, config.path().size() + 21), config.path() + ": the file would run:") << run.out;
    }
    EXPECT_TRUE(flock.simulator.received().empty());
}

// A file with a fault of every kind that the host and the module report:
// every line is named, with what it wants.
TEST(HostProgram, CheckNamesEveryFaultyLine)
{
    flocksim::PseudoTerminal line, second;
    std::string problem;
    ASSERT_TRUE(line.open(problem) && second.open(problem)) << problem;
    const std::string module = "\"" + kit::modulePath() + "\"";
    const std::string text =
        "device a " + module + " 2\n"                                     // 1
        "  port " + line.slavePath() + "\n"                               // 2
        "  baud 1234\n"                                                   // 3: the port takes no such rate
        "  mouse 2\n"                                                     // 4
        "  srt\n"                                                         // 5: incomplete
        "  filter on off\n"                                               // 6: too many
        "  hemisphere w\n"                                                // 7: invalid string
        "  sync maybe\n"                                                  // 8: found invalid string
        "  measurementrate 300\n"                                         // 9: invalid ID
        "  transmitterrotation 0 0 1 abc\n"                               // 10: invalid arg
        "  sensoroffset 2 0 0 1 yards\n"                                  // 11: invalid unit
        "  sensorrotation 9 0 1 0 90\n"                                   // 12: invalid tracker ID
        "  order 3 2\n"                                                   // 13: refused
        "  buttonorder 5 1 2 3\n"                                         // 14: invalid controller ID
        "  buttonorder 2 1 1\n"                                           // 15: same ID
        "  buttonorder 2 4\n"                                             // 16: invalid ID
        "  valuatorscale 2 1.5 1\n"                                       // 17: invalid valuator ID
        "  emulatetracker 2 [0,0,0,0,0,0] 0 0 0 0 0 0 7\n"                // 18: invalid button ID
        "  hemispere -z\n"                                                // 19: unknown, near hemisphere
        "  colour blue\n"                                                 // 20: unknown
        "  controllerorder 2\n"                                           // 21: refused
        "device b " + module + " 2\n"                                     // 22
        "  mouse 2 200\n"                                                 // 23: invalid sensor ID
        "  calibration /nonexistent/calib.so\n"                           // 24: cannot be loaded
        "device c " + module + " 33\n"                                    // 25: invalid device line
        "device d " + module + "\n"                                       // 26
        "  port /nonexistent/port\n"                                      // 27: cannot be opened
        "  port \"COM1\n"                                                 // 28: the host's: open quote
        "device e /nonexistent/libvantrel.so\n"                          // 29: no library
        "device f " + module + " 2\n"                                     // 30: a device that would run
        "  port " + second.slavePath() + "\n"                             // 31
        "device g " + module + " 31\n";                                   // 32: 2 + 31 trackers > 32
    kit::TempFile config(text);
    const Finished run = runScript("HOST check '" + config.path() + "' >OUT 2>ERR");
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    const std::string f = config.path() + ":";
    const std::vector<std::string> expected{
        f + "28: unterminated quote: close it with a second \"",
        f + "3: CRS232H: Could not set the baud rate 1234. Expected: baud RATE: 1200, 2400, 4800, 9600, 19200, "
            "38400, 57600 or 115200.",
        f + "5: CVantrel: Incomplete option line found for SRT at line 5. Expected: srt ADDRESS: 1 to UNITS.",
        f + "6: CVantrel: Too many args found for Filter at line 6. Expected: filter yes, on, no or off.",
        f + "7: CVantrel: Invalid string found for Hemisphere at line 7. Expected: hemisphere +x, x, -x, +y, y, -y, "
            "+z, z or -z.",
        f + "8: CVantrel: Found Invalid string for Sync at line 8. Expected: sync yes, on, type1, type2, type3, no "
            "or off.",
        f + "9: CVantrel: Invalid ID found for MeasurementRate at line 9. Expected: measurementrate RATE: 20 to 144.",
        f + "10: Invalid arg found for TransmitterRotation at line 10. Expected: transmitterrotation AXISX AXISY "
            "AXISZ DEGREES.",
        f + "11: Invalid unit found for SensorOffset at line 11. Expected: sensoroffset TRACKER X Y Z [UNIT: feet, "
            "inches, meters, m or cm].",
        f + "12: Invalid tracker ID found for SensorRotation at line 12. Expected: sensorrotation TRACKER AXISX "
            "AXISY AXISZ DEGREES.",
        f + "13: Can not change the order on input connector at line 13. The order of the flock's sensors is fixed "
            "by their bus addresses: remove the line.",
        f + "14: Invalid controller ID found for Order option at line 14. Expected: buttonorder CONTROLLER BUTTON....",
        f + "15: Same ID found more than once in Order option at line 15. Expected: buttonorder CONTROLLER BUTTON....",
        f + "16: Invalid ID found in Order option at line 16. Expected: buttonorder CONTROLLER BUTTON....",
        f + "17: Invalid valuator ID found for ValuatorScale option at line 17. Expected: valuatorscale CONTROLLER "
            "GAIN or [A3,A2,A1,A0], then VALUATOR... or all.",
        f + "18: Invalid button ID found for EmulateTracker option at line 18. Ignored. Expected: emulatetracker "
            "CONTROLLER [X,Y,Z,AZIM,ELEV,ROLL] V1 ... V6 [BUTTON].",
        f + "19: CConfigH: Unknown option \"hemispere\" found at line 19. Did you mean hemisphere?",
        f + "20: CConfigH: Unknown option \"colour\" found at line 20. The module knows no such keyword (README: the "
            "table of keywords).",
        f + "21: CConfigH: Unknown option \"controllerorder\" found at line 21. The order of the flock's mice is "
            "fixed: remove the line.",
        f + "23: CVantrel: Invalid sensor ID found for Mouse at line 23. Expected: mouse ADDRESS...: each 1 to 126.",
        f + "24: CDynamicLibH: Can not load the library /nonexistent/calib.so. Give the calibration library's path.",
        f + "25: CVantrel: Invalid arg found for Vantrel at line 25. The device line takes the number of tracker "
            "units, 1 to 32: device NAME LIBRARY [UNITS].",
        f + "27: CRS232H: Opening port /nonexistent/port: No such file or directory. Give the flock's serial port "
            "(such as /dev/ttyS0 or /dev/ttyUSB0; on Windows COM3).",
        f + "29: cannot load library \"/nonexistent/libvantrel.so\" (/nonexistent/libvantrel.so: cannot open shared "
            "object file: No such file or directory): give the module's path, absolute or from the file's folder",
        f + "32: CDataStorage: The new number is too big. The devices of the file take more than 32 trackers or "
            "controllers together.",
        config.path() + ": 25 problems; the file would not run",
    };
    EXPECT_EQ(linesOf(run.out), expected);
}

TEST(HostProgram, WatchWritesTheSamplesOfTheSharedStoragesAsRunDoes)
{
    SimulatedFlock flock;
    ASSERT_TRUE(flock.started);
    kit::TempFile config(flock.config()), watched(""), watchErrors(""), watchStatus("");
    const std::string name = blockName(watchStatus.path());
    // The reader starts while the host sets its devices up.
    const Finished run = runScript("HOST run '" + config.path() + "' --format jsonl --duration 3 --shm " + name +
                                   " >OUT 2>ERR & pid=\\$!; sleep 0.2; timeout -k 5 30 HOST watch " + name + " --format jsonl >'" +
                                   watched.path() + "' 2>'" + watchErrors.path() + "'; echo \\$? >'" +
                                   watchStatus.path() + "'; wait \\$pid");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(contentOf(watchStatus.path()), "0\n") << contentOf(watchErrors.path());
    const std::vector<std::string> written = linesOf(run.out);
    EXPECT_GT(written.size(), 300u);
    EXPECT_EQ(linesOf(contentOf(watched.path())), written);
    // The host removed the block's name at its end.
    EXPECT_FALSE(std::ifstream("/dev/shm/" + name).good());
}

// oscdump's line for a message: time tag (seconds.fraction since 1900, in
// hexadecimal), address, type tags, arguments.
struct DumpedMessage {
    double time = 0.0;  // since 1970
    std::string address;
    std::string types;
    std::vector<double> arguments;
};

DumpedMessage parseDumped(const std::string& line)
{
    DumpedMessage message;
    std::istringstream fields(line);
    std::string tag;
    fields >> tag >> message.address >> message.types;
    const std::size_t dot = tag.find('.');
    if (dot != std::string::npos) {
        message.time = static_cast<double>(std::stoul(tag.substr(0, dot), nullptr, 16)) - 2208988800.0 +
                       static_cast<double>(std::stoul(tag.substr(dot + 1), nullptr, 16)) / 4294967296.0;
    }
    for (double value = 0.0; fields >> value;) {
        message.arguments.push_back(value);
    }
    return message;
}

TEST(HostProgram, OscdumpReceivesEverySampleWithItsAddressAndValues)
{
    SimulatedFlock flock;
    ASSERT_TRUE(flock.started);
    kit::TempFile config(flock.config()), dump(""), dumpErrors("");
    // A port of its own: from the unique part of a temporary file's name.
    const std::string port = std::to_string(20000 + std::hash<std::string>()(dump.path()) % 20000);
    const Finished run = runScript("oscdump -L " + port + " >'" + dump.path() + "' 2>'" + dumpErrors.path() +
                                   "' & dump=\\$!; sleep 0.3; HOST run '" + config.path() +
                                   "' --format jsonl --duration 3 --osc 127.0.0.1:" + port +
                                   " >OUT 2>ERR; status=\\$?; sleep 0.5; kill \\$dump; exit \\$status");
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<std::string> samples = linesOf(run.out);
    const std::vector<std::string> messages = linesOf(contentOf(dump.path()));
    ASSERT_GT(samples.size(), 300u);
    ASSERT_EQ(messages.size(), samples.size()) << contentOf(dumpErrors.path());
    const char* names[6] = {"x", "y", "z", "azimuth", "elevation", "roll"};
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const nlohmann::json sample = nlohmann::json::parse(samples[i]);
        const DumpedMessage message = parseDumped(messages[i]);
        EXPECT_NEAR(message.time, sample["time"].get<double>(), 1e-6) << messages[i] << "\n" << samples[i];
        if (sample.contains("tracker")) {
            EXPECT_EQ(message.address, "/vantrel/flock/tracker/" + std::to_string(sample["tracker"].get<int>()));
            ASSERT_EQ(message.types, "ffffff") << messages[i];
            for (int k = 0; k < 6; ++k) {
                // 32-bit floats, printed with six decimals.
                const double value = sample[names[k]].get<double>();
                EXPECT_NEAR(message.arguments[k], value, 1e-6 + 1.2e-7 * std::fabs(value)) << messages[i] << "\n" << samples[i];
            }
        } else {
            EXPECT_EQ(message.address, "/vantrel/flock/controller/" + std::to_string(sample["controller"].get<int>()));
            ASSERT_EQ(message.types, "i") << messages[i];
            int bits = 0;
            for (std::size_t b = 0; b < sample["buttons"].size(); ++b) {
                bits |= sample["buttons"][b].get<int>() << b;
            }
            EXPECT_EQ(message.arguments[0], bits) << messages[i] << "\n" << samples[i];
        }
    }
}

}  // namespace
