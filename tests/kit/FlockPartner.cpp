#include "kit/FlockPartner.h"

#include <chrono>
#include <thread>

#include "FlockSimulator.h"

namespace kit {

FlockPartner::FlockPartner(const flocksim::Setup& setup)
    : simulator_(std::make_unique<flocksim::FlockSimulator>(setup))
{
    if (simulator_->start(problem_)) {
        portName_ = simulator_->linePath();
    }
}

FlockPartner::~FlockPartner() = default;

std::vector<std::uint8_t> FlockPartner::received() const
{
    return simulator_->received();
}

bool FlockPartner::waitForReceived(std::size_t count, int timeoutMs) const
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (simulator_->received().size() < count) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

void FlockPartner::clearLog()
{
    simulator_->clearLog();
}

void FlockPartner::send(const std::vector<std::uint8_t>& bytes)
{
    simulator_->send(bytes);
}

}  // namespace kit
