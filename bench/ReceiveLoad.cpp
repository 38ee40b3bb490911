// recvData over a pseudo-terminal, as a host runs it.
//
// 1. Load: one unit streams at 823 records per second (a 13-byte record
//    each, as a 115200-baud line carries them), every record written whole.
//    Reports the CPU time (user + system) of the receiving thread per record.
// 2. Latency: records already on the line are received one call at a time.
//    The duration of such a call (reading the record's last bytes and the
//    closing phasing byte, decoding, publishing under the mutex) bounds the
//    time from the closing phasing byte's return from the port to the end of
//    the storage write. Reports its median and 99th percentile.
//
// Usage: vantrel_receive_load [seconds]
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "FlockSimulator.h"
#include "kit/DeviceHost.h"
#include "kit/StdoutCapture.h"

namespace {

double threadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// User-mode CPU seconds of the calling thread: the part of the CPU time that
// the code itself spends, without the kernel's work of waking it.
double threadUserSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec) + static_cast<double>(usage.ru_utime.tv_usec) * 1e-6;
}

// A sensor that moves a little in every cycle, so every record is published.
flocksim::Sample moving(std::uint32_t, std::uint64_t cycle)
{
    flocksim::Sample sample;
    const auto step = static_cast<std::int16_t>((cycle % 4000) * 4);
    sample.words = {step, static_cast<std::int16_t>(-step), 0x1000, 0x2000, 0, static_cast<std::int16_t>(step / 2)};
    return sample;
}

// An ERC and one receiver unit that streams 823 records per second once
// told to.
flocksim::Setup streamingFlock()
{
    flocksim::Setup setup = flocksim::Setup::flock(2, 1);
    setup.rate = 823.0;
    setup.motion = moving;
    return setup;
}

bool started(flocksim::FlockSimulator& flock)
{
    std::string problem;
    if (!flock.start(problem)) {
        std::fprintf(stderr, "simulator: %s\n", problem.c_str());
        return false;
    }
    return true;
}

bool initDevice(kit::DeviceHost& host)
{
    kit::StdoutCapture quiet;
    return host.init() == 1 && host.device().configure() == 2;
}

int load(double seconds)
{
    flocksim::FlockSimulator flock(streamingFlock());
    if (!started(flock)) {
        return 1;
    }
    kit::DeviceHost host("Vantrel 1\nport " + flock.linePath() + "\n");
    if (!initDevice(host) || !host.device().start()) {
        std::fprintf(stderr, "the device did not start\n");
        return 1;
    }
    // Settle: the first calls find the stream mid-record.
    for (int i = 0; i < 10; ++i) {
        host.receive();
    }
    std::uint64_t records = 0;
    const double cpuStart = threadCpuSeconds();
    const double userStart = threadUserSeconds();
    const auto wallStart = std::chrono::steady_clock::now();
    const auto wallEnd = wallStart + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < wallEnd) {
        if (host.receive() == 1 && host.masks().trackerMask != 0) {
            ++records;
        }
    }
    const double cpu = threadCpuSeconds() - cpuStart;
    const double user = threadUserSeconds() - userStart;
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    {
        kit::StdoutCapture quiet;
        host.device().stop();
    }
    std::printf("load: %llu records in %.2f s (%.0f per second), receiving thread CPU %.4f s\n",
                static_cast<unsigned long long>(records), wall, static_cast<double>(records) / wall, cpu);
    std::printf("load: CPU per record %.2f us (user %.2f us), %.3f %% of one core\n",
                cpu / static_cast<double>(records) * 1e6, user / static_cast<double>(records) * 1e6, cpu / wall * 100.0);
    return 0;
}

// The same stream read by a bare poll-and-read loop: what a wake-up per
// record costs on this machine before any driver work.
int baseline(double seconds)
{
    flocksim::FlockSimulator flock(streamingFlock());
    if (!started(flock)) {
        return 1;
    }
    const int fd = open(flock.linePath().c_str(), O_RDWR | O_NOCTTY);
    termios raw{};
    tcgetattr(fd, &raw);
    cfmakeraw(&raw);
    tcsetattr(fd, TCSANOW, &raw);
    const std::uint8_t start[] = {0x50, 0x23, 0x01, 0x40};  // group mode, stream
    if (write(fd, start, sizeof start) != static_cast<ssize_t>(sizeof start)) {
        return 1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::uint64_t bytes = 0;
    const double cpuStart = threadCpuSeconds();
    const double userStart = threadUserSeconds();
    const auto wallEnd = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    std::uint8_t buffer[256];
    while (std::chrono::steady_clock::now() < wallEnd) {
        pollfd entry{fd, POLLIN, 0};
        if (poll(&entry, 1, 1000) > 0) {
            const ssize_t n = read(fd, buffer, sizeof buffer);
            bytes += n > 0 ? static_cast<std::uint64_t>(n) : 0;
        }
    }
    const double cpu = threadCpuSeconds() - cpuStart;
    const double user = threadUserSeconds() - userStart;
    close(fd);
    const double records = static_cast<double>(bytes) / 13.0;
    std::printf("baseline: bare poll and read, %.0f records, CPU per record %.2f us (user %.2f us)\n", records,
                cpu / records * 1e6, user / records * 1e6);
    return 0;
}

int latency()
{
    flocksim::FlockSimulator flock(flocksim::Setup::flock(2, 1));
    if (!started(flock)) {
        return 1;
    }
    kit::DeviceHost host("Vantrel 1\nport " + flock.linePath() + "\n");
    {
        kit::StdoutCapture quiet;
        if (host.init() != 1) {
            std::fprintf(stderr, "init failed\n");
            return 1;
        }
    }
    std::vector<double> durations;
    for (int batch = 0; batch < 40; ++batch) {
        std::vector<std::uint8_t> bytes;
        constexpr int kRecords = 250;
        for (int i = 0; i <= kRecords; ++i) {
            const flocksim::Sample sample = moving(2, static_cast<std::uint64_t>(batch * kRecords + i));
            std::uint8_t record[flocksim::kMaxRecordLength];
            const std::size_t length = flocksim::encodeRecord(sample, false, 2, record);
            bytes.insert(bytes.end(), record, record + length);
        }
        flock.send(bytes);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        host.receive();  // the first record of a batch closes the last one of the previous batch
        for (int i = 1; i < kRecords; ++i) {
            const auto begin = std::chrono::steady_clock::now();
            host.receive();
            durations.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - begin).count());
        }
        host.receive();
    }
    std::sort(durations.begin(), durations.end());
    const auto at = [&](double fraction) { return durations[static_cast<std::size_t>(fraction * (durations.size() - 1))]; };
    std::printf("latency: %zu calls, median %.2f us, p99 %.2f us, max %.2f us\n", durations.size(), at(0.5), at(0.99),
                durations.back());
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    if (baseline(seconds) != 0 || load(seconds) != 0) {
        return 1;
    }
    return latency();
}
