#include "ControlChannel.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <unistd.h>
#include <utility>

#include "FlockSimulator.h"

namespace flocksim {

ControlChannel::ControlChannel(std::string directory) : directory_(std::move(directory)) {}

bool ControlChannel::serve(FlockSimulator& simulator)
{
    if (::access(directory_.c_str(), F_OK) != 0 && errno == ENOENT) {
        return false;
    }
    bool goOn = true;
    for (;;) {
        const std::string path = directory_ + "/command-" + std::to_string(done_ + 1);
        std::ifstream file(path, std::ios::binary);
        if (!file) {
            break;
        }
        std::ostringstream command;
        command << file.rdbuf();
        file.close();
        std::remove(path.c_str());
        ++done_;
        if (!carryOut(command.str(), simulator)) {
            goOn = false;
            break;
        }
    }
    // The log is copied only when it changed.
    const std::uint64_t changes = simulator.receivedChanges();
    if (!published_ || done_ != publishedDone_ || changes != publishedChanges_) {
        published_ = publish(simulator.received());
        publishedDone_ = done_;
        publishedChanges_ = changes;
    }
    return goOn;
}

bool ControlChannel::carryOut(const std::string& command, FlockSimulator& simulator)
{
    std::istringstream words(command);
    std::string verb;
    words >> verb;
    if (verb == "stop") {
        return false;
    }
    if (verb == "clear") {
        simulator.clearLog();
        return true;
    }
    if (verb == "hang-up") {
        std::string how;
        long backAfter = -1;
        HangUp kind = HangUp::Silence;
        if (!(words >> how >> backAfter) || !parseHangUp(how, kind) || backAfter < 0) {
            std::cerr << "flocksim: a hang-up command is \"hang-up silence|close|power-off MS\"" << std::endl;
            return true;
        }
        simulator.hangUpNow(kind, std::chrono::milliseconds(backAfter));
        return true;
    }
    if (verb == "send" || verb == "every") {
        long interval = 0;
        if (verb == "every" && !(words >> interval)) {
            std::cerr << "flocksim: no interval in an every command" << std::endl;
            return true;
        }
        std::vector<std::uint8_t> bytes;
        std::string word;
        while (words >> word) {
            char* end = nullptr;
            const unsigned long value = std::strtoul(word.c_str(), &end, 16);
            if (*end != '\0' || value > 0xFF) {
                std::cerr << "flocksim: not a byte in a " << verb << " command: " << word << std::endl;
                return true;
            }
            bytes.push_back(static_cast<std::uint8_t>(value));
        }
        if (verb == "send") {
            simulator.send(std::move(bytes));
        } else {
            simulator.sendEvery(std::move(bytes), std::chrono::milliseconds(interval));
        }
        return true;
    }
    std::cerr << "flocksim: unknown command " << verb << " in " << directory_ << std::endl;
    return true;
}

bool ControlChannel::publish(const std::vector<std::uint8_t>& received)
{
    const std::string path = directory_ + "/received";
    const std::string temporary = path + ".tmp";
    std::FILE* file = std::fopen(temporary.c_str(), "w");
    if (file == nullptr) {
        return false;
    }
    bool written = std::fprintf(file, "done %llu\n", static_cast<unsigned long long>(done_)) > 0;
    for (std::size_t i = 0; i < received.size(); ++i) {
        written = written && std::fprintf(file, i == 0 ? "%02X" : " %02X", received[i]) > 0;
    }
    written = written && std::fputc('\n', file) != EOF;
    return std::fclose(file) == 0 && written && std::rename(temporary.c_str(), path.c_str()) == 0;
}

}  // namespace flocksim
