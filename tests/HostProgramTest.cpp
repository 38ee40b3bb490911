// The host program itself (vantrel-host) as a user runs it, against the flock
// simulator on a pseudo-terminal: its JSON lines, its stop on SIGTERM, its
// exit codes and messages when a device cannot run, and its publication to
// other processes (shared storages read by a second process, OSC received by
// oscdump).
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iomanip>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "FlockSimulator.h"
#include "Motion.h"
#include "kit/ModuleLibrary.h"
#include "kit/TempFile.h"
#include "kit/TextFile.h"

namespace {

struct Finished {
    int status = -1;
    std::string out;
    std::string err;
};

using kit::contentOf;
using kit::linesOf;

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
    std::string config(const std::string& name = "flock") const
    {
        return "# hand-written\n"
               "device " + name + " \"" + kit::modulePath() + "\" 2\n"
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

// A name for a test's shared storages that no other run uses: the unique
// part of a temporary file's name.
std::string blockName(const kit::TempFile& marker)
{
    return "vantrel-" + marker.path().substr(marker.path().find_last_of('/') + 1);
}

TEST(HostProgram, WatchWritesTheSamplesOfTheSharedStoragesAsRunDoes)
{
    SimulatedFlock flock;
    ASSERT_TRUE(flock.started);
    kit::TempFile config(flock.config()), watched(""), watchErrors(""), watchStatus("");
    const std::string name = blockName(watchStatus);
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

TEST(HostProgram, AReaderThatDiesHoldingTheMutexDoesNotStopTheHost)
{
    SimulatedFlock flock;
    ASSERT_TRUE(flock.started);
    // Another program, with nothing of ours but the documented layout: waits
    // until the host publishes, takes the block's mutex and kills itself.
    kit::TempFile config(flock.config()), reader(R"(import ctypes, mmap, os, signal, struct, sys, time
name = sys.argv[1]
for attempt in range(300):
    try:
        block = mmap.mmap(os.open('/dev/shm/' + name, os.O_RDWR), 0)
        if block[0:8] == b'vantrel\0' and struct.unpack_from('=I', block, 1808)[0] > 0:
            break
    except (OSError, ValueError):
        pass
    time.sleep(0.05)
mutex = ctypes.addressof(ctypes.c_char.from_buffer(block, struct.unpack_from('=I', block, 20)[0]))
locked = ctypes.CDLL(None).pthread_mutex_lock(ctypes.c_void_p(mutex))
print(locked, '%.6f' % time.time(), flush=True)
os.kill(os.getpid(), signal.SIGKILL)
)"), died("");
    const std::string name = blockName(died);
    // A host that waits for the dead reader for ever is ended after 30 s.
    const Finished run = runScript("timeout -k 5 30 HOST run '" + config.path() + "' --format jsonl --duration 4 --shm " + name +
                                   " >OUT 2>ERR & pid=\\$!; python3 '" + reader.path() + "' " + name + " >'" +
                                   died.path() + "'; wait \\$pid");
    ASSERT_EQ(run.status, 0) << run.err;
    // The reader held the mutex (pthread_mutex_lock gave 0) when it died.
    std::istringstream death(contentOf(died.path()));
    int locked = -1;
    double deathTime = 0.0;
    death >> locked >> deathTime;
    ASSERT_EQ(locked, 0) << contentOf(died.path());
    // Its death was found and reported once.
    int reports = 0;
    for (const std::string& line : linesOf(run.err)) {
        reports += line.find("Owner died") != std::string::npos || line.find("died holding") != std::string::npos;
    }
    EXPECT_EQ(reports, 1) << run.err;
    // The host went on publishing for the rest of its run.
    int after = 0;
    for (const std::string& line : linesOf(run.out)) {
        after += nlohmann::json::parse(line)["time"].get<double>() > deathTime + 0.5;
    }
    EXPECT_GT(after, 100) << "samples after the reader's death at " << std::fixed << deathTime;
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
