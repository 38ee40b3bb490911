// A line that carries nothing but random bytes: how many poses the device
// publishes from them.
//
// A pseudo-terminal carries the bytes that a line at BAUD (10 bits a byte)
// would carry in SECONDS, as fast as the device reads them: the device sees
// the same bytes in the same order as on the real line, only sooner (it never
// waits for its read time-out while bytes come). Every published tracker
// sample is a random pose. Two flocks: an ERC and three receivers without
// mice, and the same with a mouse on two of the receivers.
//
// Usage: vantrel_random_line [SECONDS [BAUD [SEED]]]   (default 600 115200 1)
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "PseudoTerminal.h"
#include "common/DataRecords.h"
#include "kit/DeviceHost.h"
#include "kit/StdoutCapture.h"

namespace {

struct Count {
    std::uint64_t bytes = 0;
    std::uint64_t trackers = 0;
    std::uint64_t controllers = 0;
};

unsigned bitsSet(std::uint32_t mask)
{
    unsigned count = 0;
    for (; mask != 0; mask &= mask - 1) {
        ++count;
    }
    return count;
}

bool measure(const std::string& options, std::uint64_t byteCount, std::uint32_t seed, Count& count)
{
    flocksim::PseudoTerminal line;
    std::string problem;
    if (!line.open(problem)) {
        std::fprintf(stderr, "pseudo-terminal: %s\n", problem.c_str());
        return false;
    }
    kit::DeviceHost host("Vantrel 3\n" + options + "port " + line.slavePath() + "\nbaud 115200\n");
    {
        kit::StdoutCapture quiet;
        if (host.init() != 1) {
            std::fprintf(stderr, "init failed: %s\n", quiet.text().c_str());
            return false;
        }
    }
    std::atomic<bool> written{false};
    std::thread writer([&] {
        std::mt19937 random(seed);
        std::vector<std::uint8_t> chunk(4096);
        std::uint64_t left = byteCount;
        while (left > 0) {
            const std::size_t size = left < chunk.size() ? static_cast<std::size_t>(left) : chunk.size();
            for (std::size_t i = 0; i < size; ++i) {
                chunk[i] = static_cast<std::uint8_t>(random() & 0xFFu);
            }
            std::size_t done = 0;
            while (done < size) {
                pollfd entry{line.master(), POLLOUT, 0};
                ::poll(&entry, 1, 1000);
                const ssize_t n = ::write(line.master(), chunk.data() + done, size - done);
                done += n > 0 ? static_cast<std::size_t>(n) : 0;
            }
            left -= size;
        }
        written = true;
    });
    count.bytes = byteCount;
    for (;;) {
        const auto begin = std::chrono::steady_clock::now();
        host.receive();
        count.trackers += bitsSet(fromNetwork32(host.masks().trackerMask));
        count.controllers += bitsSet(fromNetwork32(host.masks().controllerMask));
        // A call that waited for its read time-out found the line empty.
        if (written && std::chrono::steady_clock::now() - begin >= std::chrono::milliseconds(500)) {
            break;
        }
    }
    writer.join();
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 600.0;
    const double baud = argc > 2 ? std::atof(argv[2]) : 115200.0;
    const auto seed = static_cast<std::uint32_t>(argc > 3 ? std::atol(argv[3]) : 1);
    if (seconds <= 0.0 || baud <= 0.0) {
        std::fprintf(stderr, "Usage: vantrel_random_line [SECONDS [BAUD [SEED]]]\n");
        return 2;
    }
    const auto bytes = static_cast<std::uint64_t>(seconds * baud / 10.0);
    const struct {
        const char* name;
        const char* options;
    } flocks[] = {{"3 receivers, no mice", ""}, {"3 receivers, mice on 2", "mouse 2\nmouse 4\n"}};
    for (const auto& flock : flocks) {
        Count count;
        if (!measure(flock.options, bytes, seed, count)) {
            return 1;
        }
        const double megabytes = static_cast<double>(count.bytes) / 1e6;
        std::printf("%-24s %.2f MB of random bytes (%.0f s at %.0f baud): %llu poses published (%.2f per MB), "
                    "%llu button samples\n",
                    flock.name, megabytes, seconds, baud, static_cast<unsigned long long>(count.trackers),
                    static_cast<double>(count.trackers) / megabytes,
                    static_cast<unsigned long long>(count.controllers));
    }
    return 0;
}
