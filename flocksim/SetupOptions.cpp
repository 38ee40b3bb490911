#include "SetupOptions.h"

#include <cstdio>

namespace flocksim {

namespace {

// "A,B,.." of the addresses of the units for which test holds; empty for none.
template <typename Test>
std::string addressesWhere(const Setup& setup, Test test)
{
    std::string list;
    for (std::size_t i = 0; i < setup.units.size(); ++i) {
        if (test(setup.units[i])) {
            list += (list.empty() ? "" : ",") + std::to_string(i + 1);
        }
    }
    return list;
}

void addLineAsFound(const LeftOver& faults, std::vector<std::string>& options)
{
    if (!faults.staleBytes.empty()) {
        std::string list;
        for (std::uint8_t byte : faults.staleBytes) {
            list += (list.empty() ? "" : ",") + std::to_string(byte);
        }
        options.push_back("--stale-bytes");
        options.push_back(list);
    }
    if (faults.streamingAtStart) {
        options.push_back("--streaming-at-start");
    }
}

}  // namespace

std::vector<std::string> setupOptions(const Setup& setup)
{
    std::vector<std::string> options{"--units", std::to_string(setup.units.size())};
    auto add = [&](const char* name, const std::string& value) {
        options.push_back(name);
        options.push_back(value);
    };
    auto addList = [&](const char* name, const std::string& list) {
        if (!list.empty()) {
            add(name, list);
        }
    };
    const std::string ercs = addressesWhere(setup, [](const UnitSetup& unit) { return unit.erc; });
    add("--erc", ercs.empty() ? "0" : ercs);
    // An ERC comes without a receiver, any other unit with one.
    addList("--receiver", addressesWhere(setup, [](const UnitSetup& unit) { return unit.erc && unit.receiver; }));
    addList("--no-receiver",
            addressesWhere(setup, [](const UnitSetup& unit) { return !unit.erc && !unit.receiver; }));
    addList("--srt", addressesWhere(setup, [](const UnitSetup& unit) { return unit.srt; }));
    addList("--mice", addressesWhere(setup, [](const UnitSetup& unit) { return unit.mouse; }));
    addList("--button-mode", addressesWhere(setup, [](const UnitSetup& unit) { return unit.buttonModeAtStart; }));
    addList("--ignore-button-mode",
            addressesWhere(setup, [](const UnitSetup& unit) { return unit.ignoresButtonMode; }));
    addList("--not-running", addressesWhere(setup, [](const UnitSetup& unit) { return !unit.running; }));
    for (std::size_t i = 0; i < setup.units.size(); ++i) {
        const UnitSetup& unit = setup.units[i];
        if (unit.ercTransmitters != UnitSetup{}.ercTransmitters) {
            add("--erc-transmitters", std::to_string(i + 1) + "=" + std::to_string(unit.ercTransmitters));
        }
        if (unit.status >= 0) {
            add("--status", std::to_string(i + 1) + "=" + std::to_string(unit.status));
        }
    }
    add("--addressing", std::to_string(setup.maxAddress));
    add("--line-unit", std::to_string(setup.lineAddress));
    if (setup.groupModeReply >= 0) {
        add("--group-reply", std::to_string(setup.groupModeReply));
    }
    if (setup.finishesGroup) {
        options.push_back("--finish-group");
    }
    if (setup.spreadCycle) {
        options.push_back("--spread-cycle");
    }
    char rate[32];
    std::snprintf(rate, sizeof rate, "%.17g", setup.rate);
    add("--rate", rate);
    if (setup.positionNoise > 0.0 || setup.angleNoise > 0.0) {
        char noise[64];
        std::snprintf(noise, sizeof noise, "%.17g,%.17g", setup.positionNoise, setup.angleNoise);
        add("--pose-noise", noise);
    }
    const Faults& faults = setup.faults;
    add("--noise-every", std::to_string(faults.noiseEvery));
    add("--noise-length", std::to_string(faults.noiseLength));
    add("--drop-every", std::to_string(faults.dropEvery));
    add("--hang-up-after", std::to_string(faults.hangUpAfter));
    add("--hang-up", hangUpName(faults.hangUp));
    if (faults.backAfterMs != 0) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.3f", faults.backAfterMs / 1000.0);
        add("--back-after", seconds);
    }
    add("--seed", std::to_string(faults.seed));
    add("--cut-every", std::to_string(faults.cutEvery));
    add("--burst-every", std::to_string(faults.burstEvery));
    add("--burst-length", std::to_string(faults.burstLength));
    if (faults.statusBytes >= 0) {
        add("--status-bytes", std::to_string(faults.statusBytes));
    }
    addLineAsFound(setup.leftOver, options);
    if (!setup.linkPath.empty()) {
        add("--link", setup.linkPath);
    }
    return options;
}

}  // namespace flocksim
