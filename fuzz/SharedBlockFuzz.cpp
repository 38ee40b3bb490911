// Fuzz target: `watch` (the shared storages reader, the live table and JSON
// lines) on blocks that someone else made and changes while it reads. Every
// input starts from a block that the host's own writer made (two devices, a
// journal that has gone round), written to a real shared memory block, and
// then applies its commands to that block:
//   byte % 3 == 0: patch: offset (4 bytes, little-endian), length (1 byte),
//                  that many bytes;
//   byte % 3 == 1: resize the block to a size (4 bytes) modulo twice its size;
//   byte % 3 == 2: one step of watch (a poll, its samples to the outputs, the
//                  outputs' refresh).
// watch attaches after the first command (or at once without any) and takes
// a last step at the end. Whatever the block holds, watch must neither crash
// nor read outside it: it ends with its reason instead.
#include <algorithm>
#include <arpa/inet.h>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "host/RunLoop.h"
#include "host/WatchRun.h"
#include "host/publish/LinePublisher.h"
#include "host/publish/LiveTable.h"
#include "host/publish/Publishers.h"
#include "host/publish/SharedStorages.h"
#include "kit/QuietOutput.h"

namespace {

std::string blockName;
std::vector<char> made;  // the writer's block

std::string blockPath()
{
    return "/dev/shm/" + blockName;
}

void removeBlock()
{
    std::remove(blockPath().c_str());
}

TrackerData tracker(std::uint32_t id, std::uint32_t k)
{
    TrackerData entry{};
    entry.storageIndex = htonl(id);
    entry.sampleSeconds = htonl(1700000000 + k / 100);
    entry.sampleMicroseconds = htonl((k % 100) * 10000);
    for (int i = 0; i < 6; ++i) {
        entry.pose[i] = static_cast<std::int32_t>(htonl(static_cast<std::uint32_t>(k * 1000 + i)));
    }
    return entry;
}

ControllerData controller(std::uint32_t id, std::uint32_t k)
{
    ControllerData entry{};
    entry.storageIndex = htonl(id);
    entry.buttonCount = htonl(3);
    entry.buttonBits[0] = static_cast<std::uint8_t>(k & 7);
    entry.buttonBytes = 4;
    return entry;
}

// The block as a host with two devices leaves it after 700 samples.
void makeBlock()
{
    SharedStorages writer;
    std::string error;
    if (!writer.create(blockName, SharedStorages::kDefaultMode, error)) {
        std::cerr << error << std::endl;
        std::abort();
    }
    host::DeviceInfo first;
    first.name = "left";
    first.firstTracker = 1;
    first.trackerCount = 2;
    first.firstController = 1;
    first.controllerCount = 1;
    host::DeviceInfo second;
    second.name = "right \"hand\"";
    second.firstTracker = 3;
    second.trackerCount = 1;
    writer.begin({first, second});
    for (std::uint32_t k = 0; k < 700; ++k) {
        const TrackerData left = tracker(1 + k % 2, k);
        const ControllerData buttons = controller(1, k);
        const TrackerData right = tracker(3, k);
        writer.record(0, &left, k % 5 == 0 ? &buttons : nullptr);
        writer.record(1, &right, nullptr);
    }
    std::ifstream file(blockPath(), std::ios::binary);
    made.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    // The writer removes the block when it goes; every input writes its own.
}

std::uint32_t word(const std::uint8_t*& at, const std::uint8_t* end, bool& complete)
{
    if (end - at < 4) {
        complete = false;
        return 0;
    }
    const std::uint32_t value = at[0] | (at[1] << 8) | (at[2] << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
    at += 4;
    return value;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzkit::quietStandardOutput();
    static std::ostringstream nowhere;
    if (std::getenv("VANTREL_FUZZ_OUTPUT") == nullptr) {
        std::cerr.rdbuf(nowhere.rdbuf());  // watch's reasons; libFuzzer writes to the descriptor itself
    }
    blockName = "vantrel-fuzz-" + std::to_string(::getpid());
    makeBlock();
    std::atexit(removeBlock);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    {
        std::ofstream file(blockPath(), std::ios::binary | std::ios::trunc);
        file.write(made.data(), static_cast<std::streamsize>(made.size()));
    }
    std::FILE* nothing = std::fopen("/dev/null", "w");
    host::LiveTable table(nothing);
    host::LinePublisher lines(nothing, host::Format::JsonLines, false);
    host::Publishers publishers;
    publishers.add(&table);
    publishers.add(&lines);
    host::WatchRun watch(blockName, publishers);

    const std::uint8_t* at = data;
    const std::uint8_t* end = data + size;
    bool attached = false;
    bool attachedOnce = false;
    bool going = true;
    const auto attach = [&] {
        if (!attachedOnce) {
            attachedOnce = true;
            attached = watch.attach() == host::WatchRun::Attach::Done;
            going = attached;
        }
    };
    const auto step = [&] {
        attach();
        if (going) {
            going = watch.step() == host::RunLoop::kGoOn;
            publishers.refresh();
        }
    };
    bool complete = true;
    while (at < end && complete) {
        const std::uint8_t command = *at++;
        if (command % 3 == 0) {
            const std::uint32_t offset = word(at, end, complete) % static_cast<std::uint32_t>(2 * made.size());
            const std::size_t length = at < end ? *at++ : 0;
            const std::size_t taken = std::min<std::size_t>(length, static_cast<std::size_t>(end - at));
            std::fstream file(blockPath(), std::ios::binary | std::ios::in | std::ios::out);
            file.seekp(offset);
            file.write(reinterpret_cast<const char*>(at), static_cast<std::streamsize>(taken));
            at += taken;
        } else if (command % 3 == 1) {
            const std::uint32_t bytes = word(at, end, complete) % static_cast<std::uint32_t>(2 * made.size());
            std::error_code ignored;
            std::filesystem::resize_file(blockPath(), bytes, ignored);
        } else {
            step();
        }
        attach();
    }
    step();
    publishers.finish();
    std::fclose(nothing);
    return 0;
}
