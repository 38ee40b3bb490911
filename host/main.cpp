// vantrel-host: runs device libraries from a configuration file, shows their
// samples live and writes them for other programs. See the README's "Host
// program" section, or vantrel-host --help.
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include <CLI/CLI.hpp>

#include "ConfigCheck.h"
#include "ConfigFile.h"
#include "DemoFlock.h"
#include "HostRun.h"
#include "Say.h"
#include "WatchRun.h"
#include "platform/HostPlatform.h"

namespace {

// What the command line gives as words and the program checks after parsing
// (CLI11 would answer a bad value with a message of its own, and a negative
// duration with a number of 309 digits).
struct Words {
    std::string format;    // turned into OutputOptions::format (formatOf)
    std::string duration;  // turned into RunOptions::duration (readDuration)
    std::string units = "feet";        // OutputOptions::pose
    std::string rotation = "euler";
    std::string predict;   // turned into RunOptions::predict (readPrediction)
};

// The outputs, which run, demo and watch have alike.
void addOutputOptions(CLI::App& command, host::RunOptions& options, Words& words)
{
    command.add_option("--format", words.format,
                       "table: the live table; jsonl or csv: one line per changed sample "
                       "(default: the table on a terminal, jsonl elsewhere)")
        ->check(CLI::IsMember({"table", "jsonl", "csv"}));
    command.add_option("--duration", words.duration, "end the run after SECONDS (more than 0, at most one year)");
    command.add_option("--record", options.outputs.record,
                       "write the samples' lines to FILE too (.csv: CSV, else jsonl)");
    command.add_option("--units", words.units, "the positions of jsonl, csv and OSC in feet (default), inches or m")
        ->check(CLI::IsMember({"feet", "inches", "m"}));
    command.add_option("--rotation", words.rotation,
                       "the orientations of jsonl, csv and OSC as euler angles (default), a quaternion (w, x, y, z) "
                       "or a matrix (row by row)")
        ->check(CLI::IsMember({"euler", "quaternion", "matrix"}));
}

// The options of run and demo.
void addRunOptions(CLI::App& command, host::RunOptions& options, Words& words)
{
    addOutputOptions(command, options, words);
    command.add_option("--plot", options.plot, "at the end, draw the recorded samples into FILE.png (tools/plot.py)");
    command.add_option("--debug", options.debugLevel,
                       "the module's debug level: 1 the device, 3 the layers, 4 and up everything");
    command.add_flag("--quiet", options.quiet, "the module writes no log lines");
    command.add_option("--shm", options.outputs.shm,
                       "keep the storages in shared memory of this NAME (vantrel-host watch NAME reads them)");
    command.add_option("--shm-mode", options.outputs.shmMode,
                       "the permissions of the shared memory, octal (default 0600: the user's own; 0640: a group "
                       "may watch too)");
    command.add_option("--osc", options.outputs.osc,
                       "send every record as an OSC bundle over UDP to HOST:PORT (Linux; [IPv6]:PORT)");
    command.add_option("--osc-ttl", options.outputs.oscHops, "hops that multicast OSC datagrams may take")
        ->check(CLI::Range(1, 255));
    command.add_option("--http", options.outputs.http,
                       "serve a live 3D view of the flock to browsers at [ADDRESS:]PORT (address 127.0.0.1 unless "
                       "given; port 0: a free one; the address is said at the start)");
    // When a line fails (README, "When the line fails").
    command.add_option("--silence", options.health.silence,
                       "a device is silent after SECONDS without a record (default 2)")
        ->check(CLI::PositiveNumber);
    command.add_option("--reconnect-after", options.health.reconnectAfter,
                       "bring a device up again when it has been silent SECONDS (default 5)")
        ->check(CLI::NonNegativeNumber);
    command.add_flag_callback("--no-reconnect", [&options] { options.health.reconnect = false; },
                              "never bring a device up again: a failed port ends its part of the run (exit 1)");
    command.add_option("--give-up-after", options.health.giveUpAfter,
                       "stop bringing a device up again after SECONDS of outage (default: never)")
        ->check(CLI::NonNegativeNumber);
    command.add_option("--predict", words.predict,
                       "publish every device's tracker poses predicted MILLISECONDS ahead (0 to 100; 0: as measured), "
                       "in place of the devices' predict lines");
}

// The longest run that --duration takes: one year.
constexpr double kLongestDuration = 365.0 * 24.0 * 3600.0;

// --duration SECONDS: a number above 0 and at most a year. False with the
// message.
bool readDuration(const std::string& text, double& seconds, std::string& error)
{
    const char* begin = text.c_str();
    char* end = nullptr;
    const double value = std::strtod(begin, &end);
    if (text.empty() || end == begin || *end != '\0') {
        error = "--duration: \"" + text + "\" is not a number of seconds";
        return false;
    }
    // Also "nan", which fails every comparison.
    if (!(value > 0.0 && value <= kLongestDuration)) {
        error = "--duration: give more than 0 and at most " + std::to_string(static_cast<long>(kLongestDuration)) +
                " seconds (one year), not " + text;
        return false;
    }
    seconds = value;
    return true;
}

// What the parser cannot check alone: the words' values and the options that
// need one another. False with the message.
bool checkWords(const CLI::App& command, const Words& words, host::RunOptions& options, std::string& error)
{
    if (command.count("--duration") > 0 && !readDuration(words.duration, options.duration, error)) {
        return false;
    }
    if (command.get_option_no_throw("--predict") != nullptr && command.count("--predict") > 0) {
        double milliseconds = 0.0;
        if (!host::readPrediction(words.predict, milliseconds)) {
            error = "--predict: give how far ahead to publish the poses, in milliseconds from 0 to 100, not " +
                    words.predict;
            return false;
        }
        options.predict = milliseconds;
    }
    if (command.get_option_no_throw("--osc-ttl") != nullptr && command.count("--osc-ttl") > 0 &&
        options.outputs.osc.empty()) {
        error = "--osc-ttl needs --osc HOST:PORT";
        return false;
    }
    return true;
}

host::Format formatOf(const std::string& name)
{
    if (name == "table") {
        return host::Format::Table;
    }
    if (name == "jsonl") {
        return host::Format::JsonLines;
    }
    if (name == "csv") {
        return host::Format::Csv;
    }
    return host::Format::Automatic;
}

std::string plotScript()
{
    const std::string installed = platform::programFolder() + "/plot.py";
    return std::filesystem::exists(installed) ? installed : std::string(VANTREL_PLOT_SCRIPT);
}

// The Python that runs the plot script, with its first arguments. POSIX: the
// system's, which has the system's matplotlib, else the first python3 of the
// search path. Windows: the first python.exe of the search path, else the
// Python launcher py.exe with -3 (found here, by full path, so that no
// program of the current folder is started instead).
std::vector<std::string> python()
{
#if defined(_WIN32)
    const char* path = std::getenv("PATH");
    const std::string folders = path != nullptr ? path : "";
    for (const auto& [program, arguments] : {std::pair<const char*, std::vector<std::string>>{"python.exe", {}},
                                             {"py.exe", {"-3"}}}) {
        for (std::size_t begin = 0; begin <= folders.size();) {
            std::size_t end = folders.find(';', begin);
            end = end == std::string::npos ? folders.size() : end;
            const std::string folder = folders.substr(begin, end - begin);
            std::error_code failure;
            if (!folder.empty() && std::filesystem::is_regular_file(std::filesystem::path(folder) / program, failure)) {
                std::vector<std::string> command{(std::filesystem::path(folder) / program).string()};
                command.insert(command.end(), arguments.begin(), arguments.end());
                return command;
            }
            begin = end + 1;
        }
    }
    return {"python.exe"};
#else
    return {std::filesystem::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3"};
#endif
}

// Runs a configuration that was read (or made) with success: true.
int runConfig(host::ConfigFile& config, bool read, host::RunOptions options)
{
    if (!read) {
        for (const std::string& error : config.errors()) {
            host::say(error);
        }
        return host::kExitUsage;
    }
    host::HostRun run(config, std::move(options));
    return run.run();
}

int runFile(const std::string& path, host::RunOptions options)
{
    host::ConfigFile config;
    const bool read = config.read(path);
    return runConfig(config, read, std::move(options));
}

int runDemo(const std::string& port, host::RunOptions options, bool durationGiven)
{
    host::DemoFlock flock;
    std::string line = port;
    if (line.empty()) {
        std::string error;
        if (!flock.start(error)) {
            host::say(error);
            return host::kExitUsage;
        }
        line = flock.portName();
    }
    // The configuration in memory, the module by its full path beside the
    // program: the demo writes no file and looks for no library elsewhere.
    std::string module;
    std::string error;
    if (!host::DemoFlock::findModule(module, error)) {
        host::say(error);
        return host::kExitUsage;
    }
    host::say("demo: the module " + module + ", the flock at " + line);
    if (!durationGiven) {
        options.duration = 10.0;
    }
    host::ConfigFile config;
    const bool made = config.parse(host::DemoFlock::configText(line, module), "demo configuration");
    return runConfig(config, made, std::move(options));
}

}  // namespace

int main(int argc, char** argv)
{
    CLI::App app{"vantrel-host: runs tracker devices from a configuration file and shows or writes their samples"};
    app.set_version_flag("--version", std::string("vantrel-host ") + VANTREL_VERSION);
    app.require_subcommand(1);

    host::RunOptions runOptions;
    std::string file;
    Words runWords;
    CLI::App* run = app.add_subcommand("run", "run the devices of a configuration file");
    run->add_option("FILE", file, "the configuration file")->required();
    addRunOptions(*run, runOptions, runWords);

    host::RunOptions demoOptions;
    std::string port;
    Words demoWords;
    CLI::App* demo = app.add_subcommand(
        "demo", "run a simulated flock (two moving sensors, a mouse) for 10 seconds or --duration");
    addRunOptions(*demo, demoOptions, demoWords);
    demo->add_option("--port", port,
                     std::string("the port of a flock simulator that runs already (needed where none is built in; "
                                 "flocksim ") +
                         host::DemoFlock::simulatorOptions() + " --wine-com 7 makes COM7)");

    host::RunOptions watchOptions;
    std::string shmName;
    Words watchWords;
    CLI::App* watch = app.add_subcommand(
        "watch", "show the samples of a host that runs with --shm NAME, as run shows them, until that host ends");
    watch->add_option("NAME", shmName, "the name given to --shm")->required();
    addOutputOptions(*watch, watchOptions, watchWords);

    std::string checked;
    CLI::App* check = app.add_subcommand(
        "check", "tell whether a configuration file would run: every problem with its line, no device started "
                 "(exit 0: it would run, 1: it would not)");
    check->add_option("FILE", checked, "the configuration file")->required();

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int status = app.exit(error);
        return status == 0 ? 0 : host::kExitUsage;
    }

    if (check->parsed()) {
        host::ConfigCheck checker;
        return checker.run(checked, std::cout);
    }
    CLI::App* command = watch->parsed() ? watch : run->parsed() ? run : demo;
    host::RunOptions& options = watch->parsed() ? watchOptions : run->parsed() ? runOptions : demoOptions;
    const Words& words = watch->parsed() ? watchWords : run->parsed() ? runWords : demoWords;
    std::string problem;
    if (!checkWords(*command, words, options, problem)) {
        host::say(problem);
        return host::kExitUsage;
    }
    options.outputs.format = formatOf(words.format);
    options.outputs.pose.units = words.units == "inches" ? host::Units::Inches
                                 : words.units == "m"    ? host::Units::Meters
                                                         : host::Units::Feet;
    options.outputs.pose.rotation = words.rotation == "quaternion" ? host::Rotation::Quaternion
                                    : words.rotation == "matrix"   ? host::Rotation::Matrix
                                                                   : host::Rotation::Euler;

    platform::installStopHandler(&host::RunLoop::requestStop);
    if (watch->parsed()) {
        return host::watchStorages(shmName, watchOptions);
    }
    options.plotScript = plotScript();
    options.outputs.viewFolder = platform::programFolder() + "/" + VANTREL_VIEW_FROM_PROGRAM;
    options.python = python();
    if (run->parsed()) {
        return runFile(file, std::move(runOptions));
    }
    return runDemo(port, std::move(demoOptions), demo->count("--duration") > 0);
}
