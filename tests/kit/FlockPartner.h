#pragma once
// A flock simulator at the far end of a device's serial line, one per test.
// Natively the simulator runs in this process on a pseudo-terminal of its
// own. Under Wine it is the native simulator program beside the test
// program, started for the partner with the same set-up (plain data: a
// motion function does not travel, so a set-up with one is refused there)
// and driven through a control directory.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "FlockSetup.h"

namespace flocksim {
class FlockSimulator;
}

namespace kit {

class FlockProcess;

class FlockPartner {
public:
    explicit FlockPartner(const flocksim::Setup& setup);
    ~FlockPartner();
    FlockPartner(const FlockPartner&) = delete;
    FlockPartner& operator=(const FlockPartner&) = delete;

    // False when the simulator could not be started; problem() says why.
    bool started() const { return !portName_.empty(); }
    const std::string& problem() const { return problem_; }
    // The name that the device opens as its port.
    const std::string& portName() const { return portName_; }

    // Every byte the flock received so far, in order.
    std::vector<std::uint8_t> received() const;
    // Waits until at least count bytes were received; false on time-out.
    bool waitForReceived(std::size_t count, int timeoutMs) const;
    void clearLog();
    // Puts bytes on the line in one write, as they are.
    void send(const std::vector<std::uint8_t>& bytes);
    // Puts them on the line now and every interval, from the simulator's
    // side (a thread of the test that calls send in a loop while another
    // reads the port has crashed Wine here); no bytes: no more.
    void sendEvery(const std::vector<std::uint8_t>& bytes, int intervalMs);

#if !defined(_WIN32)
    // The simulator in this process, for a look at the line from the far end.
    flocksim::FlockSimulator* simulator() { return simulator_.get(); }
#endif

private:
    void reportProblem() const;

    std::string portName_;
    std::string problem_;
#if defined(_WIN32)
    std::unique_ptr<FlockProcess> process_;
#else
    std::unique_ptr<flocksim::FlockSimulator> simulator_;
#endif
};

}  // namespace kit
