// vantrel-host: runs device libraries from a configuration file, shows their
// samples live and writes them for other programs. See the README's "Host
// program" section, or vantrel-host --help.
#include <filesystem>
#include <fstream>
#include <string>

#include <CLI/CLI.hpp>

#include "ConfigFile.h"
#include "DemoFlock.h"
#include "HostRun.h"
#include "Say.h"
#include "WatchRun.h"
#include "platform/HostPlatform.h"

namespace {

// The outputs, which run, demo and watch have alike; the format's name is
// turned into OutputOptions::format after parsing (formatOf).
void addOutputOptions(CLI::App& command, host::RunOptions& options, std::string& format)
{
    command.add_option("--format", format,
                       "table: the live table; jsonl or csv: one line per changed sample "
                       "(default: the table on a terminal, jsonl elsewhere)")
        ->check(CLI::IsMember({"table", "jsonl", "csv"}));
    command.add_option("--duration", options.duration, "end the run after SECONDS")->check(CLI::NonNegativeNumber);
    command.add_option("--record", options.outputs.record,
                       "write the samples' lines to FILE too (.csv: CSV, else jsonl)");
}

// The options of run and demo.
void addRunOptions(CLI::App& command, host::RunOptions& options, std::string& format)
{
    addOutputOptions(command, options, format);
    command.add_option("--plot", options.plot, "at the end, draw the recorded samples into FILE.png (tools/plot.py)");
    command.add_option("--debug", options.debugLevel,
                       "the module's debug level: 1 the device, 3 the layers, 4 and up everything");
    command.add_flag("--quiet", options.quiet, "the module writes no log lines");
    command.add_option("--shm", options.outputs.shm,
                       "keep the storages in shared memory of this NAME (vantrel-host watch NAME reads them)");
    command.add_option("--osc", options.outputs.osc,
                       "send every record as an OSC bundle over UDP to HOST:PORT (Linux; [IPv6]:PORT)");
    command.add_option("--osc-ttl", options.outputs.oscHops, "hops that multicast OSC datagrams may take")
        ->check(CLI::Range(1, 255));
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

// The module beside the program (the build), or where an installed tree keeps
// it (VANTREL_MODULE_FROM_PROGRAM, the path from the programs' folder to the
// libraries' folder, set by the install rules).
std::string demoModule()
{
#if defined(VANTREL_MODULE_FROM_PROGRAM)
    const std::string installed = std::string(VANTREL_MODULE_FROM_PROGRAM) + "/" + VANTREL_MODULE_FILE;
    if (!std::filesystem::exists(platform::programFolder() + "/" + VANTREL_MODULE_FILE) &&
        std::filesystem::exists(platform::programFolder() + "/" + installed)) {
        return installed;
    }
#endif
    return VANTREL_MODULE_FILE;
}

std::string plotScript()
{
    const std::string installed = platform::programFolder() + "/plot.py";
    return std::filesystem::exists(installed) ? installed : std::string(VANTREL_PLOT_SCRIPT);
}

// The system's Python, which has the system's matplotlib, before whatever
// else the search path offers.
std::string python()
{
#if defined(_WIN32)
    return "python";
#else
    return std::filesystem::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
#endif
}

int runFile(const std::string& path, host::RunOptions options)
{
    host::ConfigFile config;
    if (!config.read(path)) {
        for (const std::string& error : config.errors()) {
            host::say(error);
        }
        return host::kExitUsage;
    }
    host::HostRun run(config, std::move(options));
    return run.run();
}

bool writeFile(const std::string& path, const std::string& text)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
    file.close();
    return static_cast<bool>(file);
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
    // Next to the program; where that folder is not writable (an installed
    // program), in the temporary folder.
    const std::string text = host::DemoFlock::configText(line, demoModule());
    std::string path = platform::programFolder() + "/vantrel-demo.cfg";
    if (!writeFile(path, text)) {
        std::error_code failure;
        const std::filesystem::path temporary = std::filesystem::temp_directory_path(failure);
        const std::string first = path;
        path = (temporary / "vantrel-demo.cfg").string();
        if (failure || !writeFile(path, text)) {
            host::say("cannot write " + first + " nor " + path);
            return host::kExitUsage;
        }
    }
    host::say("demo configuration in " + path);
    if (!durationGiven) {
        options.duration = 10.0;
    }
    return runFile(path, std::move(options));
}

}  // namespace

int main(int argc, char** argv)
{
    CLI::App app{"vantrel-host: runs tracker devices from a configuration file and shows or writes their samples"};
    app.set_version_flag("--version", std::string("vantrel-host ") + VANTREL_VERSION);
    app.require_subcommand(1);

    host::RunOptions runOptions;
    std::string file;
    std::string runFormat;
    CLI::App* run = app.add_subcommand("run", "run the devices of a configuration file");
    run->add_option("FILE", file, "the configuration file")->required();
    addRunOptions(*run, runOptions, runFormat);

    host::RunOptions demoOptions;
    std::string port;
    std::string demoFormat;
    CLI::App* demo = app.add_subcommand(
        "demo", "run a simulated flock (two moving sensors, a mouse) for 10 seconds or --duration");
    addRunOptions(*demo, demoOptions, demoFormat);
    demo->add_option("--port", port,
                     std::string("the port of a flock simulator that runs already (needed where none is built in; "
                                 "flocksim ") +
                         host::DemoFlock::simulatorOptions() + " --wine-com 7 makes COM7)");

    host::RunOptions watchOptions;
    std::string shmName;
    std::string watchFormat;
    CLI::App* watch = app.add_subcommand(
        "watch", "show the samples of a host that runs with --shm NAME, as run shows them, until that host ends");
    watch->add_option("NAME", shmName, "the name given to --shm")->required();
    addOutputOptions(*watch, watchOptions, watchFormat);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int status = app.exit(error);
        return status == 0 ? 0 : host::kExitUsage;
    }

    platform::installStopHandler(&host::RunLoop::requestStop);
    if (watch->parsed()) {
        watchOptions.outputs.format = formatOf(watchFormat);
        return host::watchStorages(shmName, watchOptions);
    }
    if (run->parsed()) {
        runOptions.plotScript = plotScript();
        runOptions.python = python();
        runOptions.outputs.format = formatOf(runFormat);
        return runFile(file, std::move(runOptions));
    }
    demoOptions.plotScript = plotScript();
    demoOptions.python = python();
    demoOptions.outputs.format = formatOf(demoFormat);
    return runDemo(port, std::move(demoOptions), demo->get_option("--duration")->count() > 0);
}
