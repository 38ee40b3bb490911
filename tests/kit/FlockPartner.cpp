#include "kit/FlockPartner.h"

#include <chrono>
#include <iostream>
#include <thread>

#if defined(_WIN32)
#include "SetupOptions.h"
#include "kit/FlockProcess.h"
#else
#include "FlockSimulator.h"
#endif

namespace kit {

#if defined(_WIN32)

FlockPartner::FlockPartner(const flocksim::Setup& setup)
{
    if (setup.motion) {
        problem_ = "a motion cannot be given to the simulator program";
        reportProblem();
        return;
    }
    std::vector<std::string> options = flocksim::setupOptions(setup);
    options.insert(options.end(), {"--wine-com", "auto"});
    process_ = std::make_unique<FlockProcess>(VANTREL_FLOCKSIM_PATH, options);
    portName_ = process_->openName();
    problem_ = process_->problem();
    reportProblem();
}

FlockPartner::~FlockPartner() = default;

std::vector<std::uint8_t> FlockPartner::received() const
{
    return process_ ? process_->received() : std::vector<std::uint8_t>{};
}

void FlockPartner::clearLog()
{
    if (process_) {
        process_->clearLog();
    }
}

void FlockPartner::send(const std::vector<std::uint8_t>& bytes)
{
    if (process_) {
        process_->send(bytes);
    }
}

void FlockPartner::sendEvery(const std::vector<std::uint8_t>& bytes, int intervalMs)
{
    if (process_) {
        process_->sendEvery(bytes, intervalMs);
    }
}

#else

FlockPartner::FlockPartner(const flocksim::Setup& setup)
    : simulator_(std::make_unique<flocksim::FlockSimulator>(setup))
{
    if (simulator_->start(problem_)) {
        portName_ = simulator_->linePath();
    }
    reportProblem();
}

FlockPartner::~FlockPartner() = default;

std::vector<std::uint8_t> FlockPartner::received() const
{
    return simulator_->received();
}

void FlockPartner::clearLog()
{
    simulator_->clearLog();
}

void FlockPartner::send(const std::vector<std::uint8_t>& bytes)
{
    simulator_->send(bytes);
}

void FlockPartner::sendEvery(const std::vector<std::uint8_t>& bytes, int intervalMs)
{
    simulator_->sendEvery(bytes, std::chrono::milliseconds(intervalMs));
}

#endif

// A test sees a partner that did not start only as a device that cannot
// open its port; this says why.
void FlockPartner::reportProblem() const
{
    if (!started()) {
        std::cerr << "FlockPartner: no simulator: " << problem_ << std::endl;
    }
}

bool FlockPartner::waitForReceived(std::size_t count, int timeoutMs) const
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (received().size() < count) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace kit
