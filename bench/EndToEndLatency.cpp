// The latency of a sample from the line to a consumer in another process than
// the host: from the moment the flock simulator hands a record's closing
// phasing byte to the line (the device knows the record is whole only then)
// to the moment a consumer sees the sample.
//
// The simulator runs in this process, so its stamps and the consumers' clock
// are one (the steady clock); vantrel-host runs in a process of its own on the
// simulator's line, with every output on; the consumers are threads of this
// process:
//   shared storages  a reader of the block (--shm), waiting for the host's
//                    wake-up between polls, as a program that reads the
//                    block with vantrel/SharedStorages.h would;
//   OSC              a UDP receiver on loopback (--osc 127.0.0.1:PORT);
//   lines            the host's JSON lines on a pipe (--format jsonl);
//   watch            `vantrel-host watch NAME --format jsonl` on a pipe (the
//                    shared storages read by the host's own reader, then its
//                    lines);
// and, alone and without a host, for what the system's part of the path
// costs:
//   line             a bare reader of the simulator's pseudo-terminal (poll
//                    and read), which sees each record's closing byte.
// Another output is one more Consumer below: a thread that hands each
// sample it sees, with the moment, to Consumer::saw. (The browser view is no
// stream of every sample but the latest poses 60 times a second; its own
// test measures its delays.)
//
// Each record carries its own number: the simulator's motion puts the
// measurement cycle into the sensor's x and y words (13 bits each), so every
// record is a changed sample and every output says which record it is (the
// output ID names the sensor). The stream is untouched: no byte is added.
//
// 823 records a second, as a 115200-baud line that they fill carries them (a
// 14-byte record every 1.215 ms): one sensor, 823 cycles a second; N
// sensors, 823/N cycles a second of N records each, one after another over
// the cycle (--together: each cycle's records at once, as fast as the
// pseudo-terminal takes them, which no serial line does).
//
// Usage: vantrel_latency [--sensors N] [--together] [--samples N] [--outputs LIST]
//                        [--samples-file FILE] [-- HOST OPTION...]
// Prints median, 99th percentile and maximum per output over the samples
// after the first two seconds. --outputs: the outputs that the host makes
// and the bench consumes, of shm, osc, lines and watch (default all of them;
// without lines the host draws its table to the null device 30 times a
// second), or line alone; on a machine of few cores the consumers of several
// outputs compete for them.
// --samples-file writes every latency (CSV: sensors,output,microseconds)
// for bench/latency-plot.py.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "FlockSimulator.h"
#include "HostChild.h"
#include "JournalFollower.h"
#include "host/publish/SampleRecords.h"

namespace {

using Clock = std::chrono::steady_clock;

std::int64_t nanoseconds(Clock::time_point at)
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(at.time_since_epoch()).count();
}

// The cycle in the x and y words: 13 bits each, as 4 * (v - 4096) (the
// words' two lowest bits stay clear, as on the line).
flocksim::Sample numbered(std::uint32_t address, std::uint64_t cycle)
{
    flocksim::Sample sample;
    sample.words[0] = static_cast<std::int16_t>(4 * (static_cast<int>(cycle % 8192) - 4096));
    sample.words[1] = static_cast<std::int16_t>(4 * (static_cast<int>((cycle / 8192) % 8192) - 4096));
    sample.words[2] = static_cast<std::int16_t>(4 * address);
    return sample;
}

// A published position in feet back to its 13 bits (the module makes the
// word w into w / 32767 * 12 feet).
std::uint64_t bitsOf(double feet)
{
    return static_cast<std::uint64_t>(std::lround(feet * 32767.0 / 48.0) + 4096) & 8191u;
}

std::uint64_t cycleOf(double xFeet, double yFeet)
{
    return bitsOf(yFeet) * 8192 + bitsOf(xFeet);
}

// One output's consumer: what it saw, in the order it saw it.
class Consumer {
public:
    explicit Consumer(std::string name) : name_(std::move(name)) { seen_.reserve(1 << 18); }
    // From the consumer's thread.
    void saw(std::uint32_t id, std::uint64_t cycle, Clock::time_point at)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        seen_.push_back({id, cycle, nanoseconds(at)});
        count_.store(seen_.size(), std::memory_order_relaxed);
    }
    void failed(const std::string& why)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        problem_ = why;
        failed_ = true;
    }
    bool failed() const { return failed_.load(); }
    std::size_t count() const { return count_.load(std::memory_order_relaxed); }
    const std::string& name() const { return name_; }

    struct Seen {
        std::uint32_t id;
        std::uint64_t cycle;
        std::int64_t at;
    };
    // After the run.
    const std::vector<Seen>& seen() const { return seen_; }
    const std::string& problem() const { return problem_; }

private:
    std::string name_;
    std::mutex mutex_;
    std::vector<Seen> seen_;
    std::atomic<std::size_t> count_{0};
    std::atomic<bool> failed_{false};
    std::string problem_;
};

// JSON lines from a pipe: each tracker line's ID, x and y.
void readLines(int fd, Consumer& consumer)
{
    std::string pending;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got <= 0) {
            return;
        }
        const Clock::time_point at = Clock::now();
        pending.append(buffer, static_cast<std::size_t>(got));
        std::size_t begin = 0;
        for (std::size_t end; (end = pending.find('\n', begin)) != std::string::npos; begin = end + 1) {
            pending[end] = '\0';  // each search within its line
            const char* line = pending.c_str() + begin;
            const char* tracker = std::strstr(line, "\"tracker\":");
            const char* x = std::strstr(line, "\"x\":");
            const char* y = std::strstr(line, "\"y\":");
            if (tracker == nullptr || x == nullptr || y == nullptr) {
                continue;
            }
            consumer.saw(static_cast<std::uint32_t>(std::strtoul(tracker + 10, nullptr, 10)),
                         cycleOf(std::strtod(x + 4, nullptr), std::strtod(y + 4, nullptr)), at);
        }
        pending.erase(0, begin);
    }
}

std::uint32_t bigEndian32(const unsigned char* at)
{
    return std::uint32_t{at[0]} << 24 | std::uint32_t{at[1]} << 16 | std::uint32_t{at[2]} << 8 | at[3];
}

float bigEndianFloat(const unsigned char* at)
{
    const std::uint32_t bits = bigEndian32(at);
    float value = 0.0f;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// One OSC bundle: its tracker message /vantrel/DEVICE/tracker/ID with x and
// y first. False for anything else.
bool trackerOf(const unsigned char* bundle, std::size_t size, std::uint32_t& id, double& x, double& y)
{
    if (size < 24 || std::memcmp(bundle, "#bundle", 8) != 0) {
        return false;
    }
    const std::size_t length = bigEndian32(bundle + 16);
    const unsigned char* message = bundle + 20;
    if (20 + length > size) {
        return false;
    }
    const std::string address(reinterpret_cast<const char*>(message), ::strnlen(reinterpret_cast<const char*>(message), length));
    const std::size_t at = address.find("/tracker/");
    if (at == std::string::npos) {
        return false;
    }
    id = static_cast<std::uint32_t>(std::strtoul(address.c_str() + at + 9, nullptr, 10));
    const std::size_t types = (address.size() + 4) & ~std::size_t{3};
    const char* tags = reinterpret_cast<const char*>(message + types);
    const std::size_t tagLength = ::strnlen(tags, length - types);
    const std::size_t arguments = types + ((tagLength + 4) & ~std::size_t{3});
    if (arguments + 8 > length) {
        return false;
    }
    x = bigEndianFloat(message + arguments);
    y = bigEndianFloat(message + arguments + 4);
    return true;
}

// The shared storages' journal: each tracker slot's ID, x and y.
void followJournal(const std::string& block, Consumer& consumer)
{
    std::string error;
    const bool followed = bench::JournalFollower::follow(
        block, 30.0,
        [&consumer](const SharedJournalSlot& slot, Clock::time_point at) {
            if (slot.kind != kSharedTrackerRecord) {
                return;
            }
            const std::int32_t* pose = slot.record.tracker.pose;
            const auto feet = [pose](int i) {
                return static_cast<std::int32_t>(host::fromNetworkOrder(static_cast<std::uint32_t>(pose[i]))) /
                       100000.0;
            };
            consumer.saw(slot.entry, cycleOf(feet(0), feet(1)), at);
        },
        error);
    if (!followed) {
        consumer.failed(error);
    }
}

// OSC bundles from a UDP socket (with a receive time-out), until ended.
void receiveBundles(int udp, const std::atomic<bool>& ended, Consumer& consumer)
{
    unsigned char bundle[2048];
    while (!ended.load()) {
        const ssize_t got = ::recv(udp, bundle, sizeof bundle, 0);
        if (got <= 0) {
            continue;
        }
        const Clock::time_point at = Clock::now();
        std::uint32_t id = 0;
        double x = 0.0;
        double y = 0.0;
        if (trackerOf(bundle, static_cast<std::size_t>(got), id, x, y)) {
            consumer.saw(id, cycleOf(x, y), at);
        }
    }
}

// The simulator's line read as a driver would, without one: after the
// commands that start the stream, every byte; each phasing byte closes the
// record before it, whose words say its cycle and whose last byte its unit.
void readLine(int fd, const std::atomic<bool>& ended, Consumer& consumer)
{
    std::vector<std::uint8_t> record;
    std::uint8_t buffer[4096];
    while (!ended.load()) {
        pollfd entry{fd, POLLIN, 0};
        if (::poll(&entry, 1, 100) <= 0) {
            continue;
        }
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        const Clock::time_point at = Clock::now();
        for (ssize_t i = 0; i < got; ++i) {
            if ((buffer[i] & 0x80u) != 0 && record.size() == 13) {
                const auto word = [&record](int k) {
                    return flocksim::wordFromBytes(record[static_cast<std::size_t>(2 * k)],
                                                   record[static_cast<std::size_t>(2 * k + 1)]);
                };
                const std::uint64_t cycle =
                    static_cast<std::uint64_t>(word(1) / 4 + 4096) * 8192 + static_cast<std::uint64_t>(word(0) / 4 + 4096);
                consumer.saw(record[12] - 1u, cycle, at);
            }
            if ((buffer[i] & 0x80u) != 0) {
                record.clear();
            }
            record.push_back(buffer[i]);
        }
    }
}

struct Figures {
    std::size_t samples = 0;
    double median = 0.0;
    double p99 = 0.0;
    double max = 0.0;
    std::size_t unstamped = 0;
};

int usage(const char* problem)
{
    std::fprintf(stderr,
                 "vantrel_latency: %s\nUsage: vantrel_latency [--sensors 1..32] [--together] [--samples N] "
                 "[--outputs shm,osc,lines,watch] [--samples-file FILE] [-- HOST OPTION...]\n",
                 problem);
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    std::uint32_t sensors = 1;
    std::size_t wanted = 10000;
    std::string samplesFile;
    std::string outputs = ",shm,osc,lines,watch,";
    bool together = false;
    std::vector<std::string> hostOptions;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--") {
            hostOptions.assign(argv + i + 1, argv + argc);
            break;
        }
        if (option == "--together") {
            together = true;
            continue;
        }
        if (i + 1 >= argc) {
            return usage(("a value is missing after " + option).c_str());
        }
        const std::string value = argv[++i];
        if (option == "--sensors") {
            sensors = static_cast<std::uint32_t>(std::strtoul(value.c_str(), nullptr, 10));
        } else if (option == "--samples") {
            wanted = std::strtoul(value.c_str(), nullptr, 10);
        } else if (option == "--outputs") {
            outputs = "," + value + ",";
        } else if (option == "--samples-file") {
            samplesFile = value;
        } else {
            return usage(("unknown option " + option).c_str());
        }
    }
    if (sensors < 1 || sensors > 32 || wanted < 100) {
        return usage("give 1 to 32 sensors and at least 100 samples");
    }
    const auto consumed = [&outputs](const char* name) {
        return outputs.find("," + std::string(name) + ",") != std::string::npos;
    };
    if (outputs.find_first_not_of(",") == std::string::npos ||
        outputs.find_first_not_of(",shmoclinewatc") != std::string::npos ||
        (consumed("line") && outputs != ",line,")) {
        return usage("--outputs takes shm, osc, lines and watch, or line alone");
    }

    // 823 records a second in all; the first two seconds are left out.
    const double rate = 823.0 / sensors;
    const std::uint64_t warmUpCycles = static_cast<std::uint64_t>(std::ceil(2.0 * rate));
    const std::size_t records = (wanted + 4 * 823) * 2 + warmUpCycles * sensors;
    const auto closed = std::make_unique<std::atomic<std::int64_t>[]>(records);
    const auto indexOf = [sensors](std::uint32_t id, std::uint64_t cycle) { return cycle * sensors + (id - 1); };

    flocksim::Setup setup = flocksim::Setup::flock(sensors + 1, 1);
    setup.maxAddress = sensors + 1 <= 14 ? 14 : 126;
    setup.rate = rate;
    setup.spreadCycle = !together;
    setup.motion = numbered;
    flocksim::FlockSimulator flock(setup);
    flock.stampClosingBytes([&](std::uint32_t address, std::uint64_t cycle, Clock::time_point at) {
        const std::uint64_t index = indexOf(address - 1, cycle);
        if (address >= 2 && index < records) {
            closed[index].store(nanoseconds(at), std::memory_order_relaxed);
        }
    });
    std::string error;
    if (!flock.start(error)) {
        std::fprintf(stderr, "vantrel_latency: the simulator: %s\n", error.c_str());
        return 1;
    }

    // The OSC receiver's port, before the host sends there.
    const int udp = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t localSize = sizeof local;
    const timeval patience{0, 100000};
    const int buffer = 4 << 20;
    if (udp < 0 || ::bind(udp, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        ::getsockname(udp, reinterpret_cast<sockaddr*>(&local), &localSize) != 0 ||
        ::setsockopt(udp, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience) != 0) {
        std::fprintf(stderr, "vantrel_latency: no UDP socket for OSC: %s\n", std::strerror(errno));
        return 1;
    }
    ::setsockopt(udp, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    const std::string block = "vantrel-latency-" + std::to_string(::getpid());

    std::string configuration = "device lat \"" + bench::HostChild::modulePath() + "\" " + std::to_string(sensors) +
                                "\n  port \"" + flock.linePath() + "\"\n";
    if (sensors + 1 > 14) {
        configuration += "  addressingmode super\n";
    }
    // The lines, when they are not measured, as the table (30 times a
    // second, to the null device): no write for each record besides the
    // outputs measured.
    std::vector<std::string> arguments{"--format", consumed("lines") ? "jsonl" : "table", "--quiet"};
    if (consumed("shm") || consumed("watch")) {
        arguments.insert(arguments.end(), {"--shm", block});
    }
    if (consumed("osc")) {
        arguments.insert(arguments.end(), {"--osc", "127.0.0.1:" + std::to_string(ntohs(local.sin_port))});
    }
    arguments.insert(arguments.end(), hostOptions.begin(), hostOptions.end());
    bench::HostChild host;
    if (!consumed("line") && !host.run(configuration, arguments, consumed("lines"), error)) {
        std::fprintf(stderr, "vantrel_latency: %s\n", error.c_str());
        return 1;
    }

    Consumer shared("shared storages"), osc("OSC"), lines("lines"), watched("watch"), bare("line");
    std::vector<Consumer*> consumers;
    std::atomic<bool> ended{false};
    std::vector<std::thread> threads;
    int line = -1;
    if (consumed("line")) {
        // Raw, then group mode (the ERC's) and the stream, as the device
        // would start it.
        line = ::open(flock.linePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios raw{};
        const std::uint8_t start[] = {0x50, 0x23, 0x01, 0x40};
        if (line < 0 || ::tcgetattr(line, &raw) != 0) {
            std::fprintf(stderr, "vantrel_latency: cannot open the line %s\n", flock.linePath().c_str());
            return 1;
        }
        ::cfmakeraw(&raw);
        if (::tcsetattr(line, TCSANOW, &raw) != 0 || ::write(line, start, sizeof start) != sizeof start) {
            std::fprintf(stderr, "vantrel_latency: cannot start the stream\n");
            return 1;
        }
        consumers.push_back(&bare);
        threads.emplace_back([&] { readLine(line, ended, bare); });
    }
    if (consumed("shm")) {
        consumers.push_back(&shared);
        threads.emplace_back([&] { followJournal(block, shared); });
    }
    if (consumed("osc")) {
        consumers.push_back(&osc);
        threads.emplace_back([&] { receiveBundles(udp, ended, osc); });
    }
    if (consumed("lines")) {
        consumers.push_back(&lines);
        threads.emplace_back([&] { readLines(host.outputPipe(), lines); });
    }
    bench::HostChild watch;
    if (consumed("watch")) {
        // watch waits two seconds for the block at most: it starts once the
        // host has made it.
        const std::string path = "/dev/shm/" + block;
        const Clock::time_point made = Clock::now() + std::chrono::seconds(30);
        while (::access(path.c_str(), F_OK) != 0 && Clock::now() < made) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (!watch.start({"watch", block, "--format", "jsonl"}, true, error)) {
            std::fprintf(stderr, "vantrel_latency: %s\n", error.c_str());
            return 1;
        }
        consumers.push_back(&watched);
        threads.emplace_back([&] { readLines(watch.outputPipe(), watched); });
    }

    // Until every output has its samples after the warm-up (with room for
    // the records that arrive in between), or a minute more.
    const std::size_t enough = wanted + warmUpCycles * sensors + 823;
    const Clock::time_point giveUp = Clock::now() + std::chrono::seconds(60) +
                                     std::chrono::duration_cast<Clock::duration>(
                                         std::chrono::duration<double>(static_cast<double>(enough) / 823.0));
    for (Consumer* consumer : consumers) {
        while (consumer->count() < enough && Clock::now() < giveUp) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    const int status = consumed("line") ? 0 : host.stop();
    watch.stop();
    ended = true;
    for (std::thread& thread : threads) {
        thread.join();
    }
    flock.stop();
    ::close(udp);
    if (line >= 0) {
        ::close(line);
    }

    std::FILE* out = samplesFile.empty() ? nullptr : std::fopen(samplesFile.c_str(), "w");
    if (!samplesFile.empty() && out == nullptr) {
        std::fprintf(stderr, "vantrel_latency: cannot write %s\n", samplesFile.c_str());
    }
    if (out != nullptr) {
        std::fprintf(out, "sensors,output,microseconds\n");
    }
    std::printf("%u sensor%s, %.1f cycles/s, 823 records/s%s; host exit status %d\n", sensors,
                sensors == 1 ? "" : "s", rate, sensors > 1 && together ? " (each cycle's records together)" : "",
                status);
    std::printf("| Output | Samples | Median | 99th percentile | Maximum |\n|---|---|---|---|---|\n");
    for (const Consumer* consumer : consumers) {
        if (!consumer->problem().empty()) {
            std::printf("| %s | failed: %s | | | |\n", consumer->name().c_str(), consumer->problem().c_str());
            continue;
        }
        std::vector<double> latencies;
        Figures figures;
        for (const Consumer::Seen& seen : consumer->seen()) {
            if (seen.cycle < warmUpCycles || seen.id < 1 || seen.id > sensors || latencies.size() >= wanted) {
                continue;
            }
            const std::uint64_t index = indexOf(seen.id, seen.cycle);
            const std::int64_t at = index < records ? closed[index].load() : 0;
            if (at == 0) {
                ++figures.unstamped;
                continue;
            }
            latencies.push_back(static_cast<double>(seen.at - at) / 1000.0);
        }
        if (out != nullptr) {
            for (double latency : latencies) {
                std::fprintf(out, "%u,%s,%.3f\n", sensors, consumer->name().c_str(), latency);
            }
        }
        std::sort(latencies.begin(), latencies.end());
        figures.samples = latencies.size();
        if (!latencies.empty()) {
            figures.median = latencies[latencies.size() / 2];
            figures.p99 = latencies[static_cast<std::size_t>(0.99 * static_cast<double>(latencies.size() - 1))];
            figures.max = latencies.back();
        }
        std::printf("| %s | %zu%s | %.0f µs | %.0f µs | %.0f µs |\n", consumer->name().c_str(), figures.samples,
                    figures.unstamped == 0 ? "" : (" (" + std::to_string(figures.unstamped) + " unstamped)").c_str(),
                    figures.median, figures.p99, figures.max);
    }
    if (out != nullptr) {
        std::fclose(out);
    }
    return status == 0 ? 0 : 1;
}
