// The path of a record, from the port to the storages, allocates nothing;
// nor does the host's publication of it (the shared storages' journal and an
// OSC bundle). This program counts every allocation that the receiving
// thread makes: C++ allocations and, for the publication, the C library's
// too, which liblo uses (except under AddressSanitizer, which owns malloc
// there).
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "FlockRecord.h"
#include "host/PosePredictor.h"
#include "host/publish/OscPublisher.h"
#include "host/publish/SampleRecords.h"
#include "host/publish/SharedStorages.h"
#include "calib/test/TestCalib.h"
#include "common/DataRecords.h"
#include "kit/DeviceHost.h"
#include "kit/FlockPartner.h"
#include "kit/ModuleLibrary.h"
#include "kit/StdoutCapture.h"
#include "kit/TempFile.h"
#include "host/publish/HttpView.h"
#include "host/publish/LinePublisher.h"
#include "host/publish/LiveTable.h"
#include "host/publish/Publishers.h"

namespace {

thread_local bool counting = false;
// The C library's allocations too (set only where asked for).
thread_local bool countingMalloc = false;
thread_local std::size_t allocations = 0;

// A failure made to order: the allocation with this number (counted from
// when it was set, on this thread) throws, as a bad_alloc or as another
// exception.
thread_local std::size_t failingAllocation = 0;
thread_local std::size_t allocationsSeen = 0;
thread_local bool failedOne = false;
thread_local bool failWithOther = false;

void failAllocation(std::size_t number, bool other)
{
    allocationsSeen = 0;
    failedOne = false;
    failWithOther = other;
    failingAllocation = number;
}

void* allocate(std::size_t size)
{
    if (counting) {
        ++allocations;
    }
    if (failingAllocation != 0 && ++allocationsSeen == failingAllocation) {
        failingAllocation = 0;
        failedOne = true;
        if (failWithOther) {
            throw std::runtime_error("made to fail");
        }
        throw std::bad_alloc();
    }
    void* memory = std::malloc(size == 0 ? 1 : size);
    if (memory == nullptr) {
        throw std::bad_alloc();
    }
    return memory;
}

}  // namespace

#if !defined(__SANITIZE_ADDRESS__)
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* memory, std::size_t size);

void* malloc(std::size_t size)
{
    if (countingMalloc) {
        ++allocations;
    }
    return __libc_malloc(size);
}

void* calloc(std::size_t count, std::size_t size)
{
    if (countingMalloc) {
        ++allocations;
    }
    return __libc_calloc(count, size);
}

void* realloc(void* memory, std::size_t size)
{
    if (countingMalloc) {
        ++allocations;
    }
    return __libc_realloc(memory, size);
}
}
#endif

void* operator new(std::size_t size)
{
    return allocate(size);
}

void* operator new[](std::size_t size)
{
    return allocate(size);
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    try {
        return allocate(size);
    } catch (...) {
        return nullptr;
    }
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    try {
        return allocate(size);
    } catch (...) {
        return nullptr;
    }
}

void operator delete(void* memory) noexcept
{
    std::free(memory);
}

void operator delete[](void* memory) noexcept
{
    std::free(memory);
}

void operator delete(void* memory, std::size_t) noexcept
{
    std::free(memory);
}

void operator delete[](void* memory, std::size_t) noexcept
{
    std::free(memory);
}

namespace {

constexpr int kRecords = 200;

struct Received {
    std::size_t allocations = 0;
    int trackers = 0;
    int controllers = 0;
    std::string output;  // what the device wrote while it received
};

// What a test adds around the device: its set-up before init, and what a
// host does with each received record (counted with the reception). With
// countMalloc the C library's allocations count too, from the second record
// on (the first is start-up: the C library reads the time zone's data then).
struct Around {
    std::function<void(kit::DeviceHost&)> beforeInit;
    std::function<void(kit::DeviceHost&)> afterRecord;
    bool countMalloc = false;
    std::int32_t debugLevel = 0;
};

// Receives 201 records of two units, every one different, the mouse's
// buttons changing, through a device with the given further options.
Received receiveRecords(const std::string& furtherOptions, const Around& around = Around())
{
    Received received;
    flocksim::Setup setup = flocksim::Setup::flock(3, 1);
    setup.units[1].mouse = true;
    kit::FlockPartner partner(setup);
    EXPECT_TRUE(partner.started()) << partner.problem();
    kit::DeviceHost host("Vantrel\nport " + partner.portName() +
                             "\nmouse 2\ntransmitterrotation 0 0 1 90\nsensoroffset 3 0 0 1\n" + furtherOptions,
                         around.debugLevel);
    if (around.beforeInit) {
        around.beforeInit(host);
    }
    {
        kit::StdoutCapture quiet;
        if (host.init() != 1) {
            ADD_FAILURE() << "init failed";
            return received;
        }
    }
    std::vector<std::uint8_t> bytes;
    for (int i = 0; i <= kRecords; ++i) {
        flocksim::Sample sample;
        sample.words = {static_cast<std::int16_t>(i * 8), 0x100, 0x200, static_cast<std::int16_t>(i * 4), 0, 0};
        sample.buttons = static_cast<std::uint8_t>((i / 2) % 2 == 0 ? 0x10 : 0x30);
        const std::uint32_t address = i % 2 == 0 ? 2 : 3;
        std::uint8_t record[flocksim::kMaxRecordLength];
        const std::size_t length = flocksim::encodeRecord(sample, address == 2, address, record);
        bytes.insert(bytes.end(), record, record + length);
    }
    bytes.push_back(0x80);
    partner.send(bytes);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));

    kit::StdoutCapture log;  // the DEBUG lines, when they are on
    allocations = 0;
    counting = true;
    for (int i = 0; i <= kRecords; ++i) {
        countingMalloc = around.countMalloc && i > 0;
        if (host.receive() != 1) {
            break;
        }
        received.trackers += host.masks().trackerMask != 0 ? 1 : 0;
        received.controllers += host.masks().controllerMask != 0 ? 1 : 0;
        if (around.afterRecord) {
            around.afterRecord(host);
        }
    }
    counting = countingMalloc = false;
    received.allocations = allocations;
    received.output = log.text();
    return received;
}

TEST(Allocation, NonePerReceivedRecord)
{
    const Received received = receiveRecords("");
    EXPECT_EQ(received.allocations, 0u);
    // Every record went the whole way to the storages.
    EXPECT_EQ(received.trackers, kRecords + 1);
    EXPECT_EQ(received.controllers, kRecords / 2 + 1);
}

// Nor are the receiving path's log lines allocated: each is composed in a
// buffer of its own.
TEST(Allocation, NonePerReceivedRecordWithEveryDebugLine)
{
    Around around;
    around.debugLevel = 4;
    const Received received = receiveRecords("", around);
    EXPECT_EQ(received.allocations, 0u);
    EXPECT_EQ(received.trackers, kRecords + 1);
    EXPECT_NE(received.output.find("Dev: DEBUG: CVantrel: TraData storage found\n"), std::string::npos);
}

// The first evaluation of a calibration library finds its entry point
// without growing anything.
TEST(Allocation, NonePerReceivedRecordThroughACalibrationLibrary)
{
    const kit::ModuleLibrary library(VANTREL_CALIB_TEST_PATH);
    const auto stateOf = reinterpret_cast<TestCalibStateFunction>(library.symbol("testcalib_state"));
    ASSERT_NE(stateOf, nullptr);
    TestCalibState* state = stateOf();
    std::memset(state, 0, sizeof *state);
    const Received received = receiveRecords(std::string("calibration ") + VANTREL_CALIB_TEST_PATH + "\n");
    EXPECT_EQ(received.allocations, 0u);
    EXPECT_EQ(received.trackers, kRecords + 1);
    EXPECT_EQ(received.controllers, kRecords / 2 + 1);
    EXPECT_EQ(state->evaluateCalls, kRecords + 1);
}

// Init fails cleanly wherever an allocation fails: the text copies, the
// layers, the sample arrays and the port. Each run ends with the device's
// deletion, which must free nothing twice; only a failed allocation is
// reported as a shortage of memory.
TEST(Allocation, InitFailsCleanlyWhereverAnAllocationFails)
{
    kit::FlockPartner partner(flocksim::Setup::flock(3, 1));
    ASSERT_TRUE(partner.started()) << partner.problem();
    const std::string text = "Vantrel\nport " + partner.portName() + "\nmouse 2\nport " + partner.portName() + "\n";
    for (const bool other : {false, true}) {
        std::size_t number = 1;
        for (;; ++number) {
            std::int32_t result = 0;
            std::string output;
            {
                kit::DeviceHost host(text);
                kit::StdoutCapture capture;
                std::cout.width(other ? 40 : 0);  // a field width the host left pending
                failAllocation(number, other);
                result = host.init();
                failingAllocation = 0;
                std::cout.clear();
                std::cout.width(0);
                output = capture.text();
            }
            if (!failedOne) {
                EXPECT_EQ(result, 1) << output;
                break;
            }
            EXPECT_EQ(result, -1) << "allocation " << number << "\n" << output;
            if (other) {
                // Its own message, whole (allocations that report a failure
                // instead of throwing it give their own messages).
                EXPECT_EQ(output.find("Not enough memory."), std::string::npos) << output;
                if (output.find("Init failed") != std::string::npos) {
                    EXPECT_NE(output.find("Dev: ERROR: CVantrel: Init failed: made to fail\n"), std::string::npos)
                        << output;
                }
            }
        }
        EXPECT_GT(number, 10u);
    }
}

// What the host does after each recvData: copy the changed entries under
// the mutex, predict the tracker's pose (--predict), then hand them to the
// publishers: the shared storages' journal and OSC.
TEST(Allocation, NonePerPublishedRecord)
{
    host::PosePredictor predictors[2];
    for (host::PosePredictor& predictor : predictors) {
        predictor.configure(0.02, host::PosePredictor::kLongestGap);
    }
    TrackerData published{};
    double time = 0.0;
    SharedStorages shared;
    OscPublisher osc;
    // Also with positions in metres and the orientation as a matrix.
    host::PoseForm form;
    form.units = host::Units::Meters;
    form.rotation = host::Rotation::Matrix;
    OscPublisher turned(form);
    std::string error;
    ASSERT_TRUE(osc.open("127.0.0.1:9", 0, error)) << error;  // the discard port: nothing needs to listen
    ASSERT_TRUE(turned.open("127.0.0.1:9", 0, error)) << error;
    host::Publishers publishers;
    publishers.add(&shared);
    publishers.add(&osc);
    publishers.add(&turned);
    TrackerData tracker{};
    ControllerData controller{};
    Around around;
    around.countMalloc = true;
    around.beforeInit = [&](kit::DeviceHost&) {
        ASSERT_TRUE(shared.create("vantrel-alloc-test", SharedStorages::kDefaultMode, error)) << error;
        osc.addDevice("flock", 1, 2, 1, 1);
        turned.addDevice("flock", 1, 2, 1, 1, true);
        shared.addDevice("flock", 1, 2, 1, 1, 20000);
        shared.setRunning();
    };
    around.afterRecord = [&](kit::DeviceHost& host) {
        const std::uint32_t trackerMask = fromNetwork32(host.masks().trackerMask);
        const std::uint32_t controllerMask = fromNetwork32(host.masks().controllerMask);
        host.trackers().storage()->lock();
        if (trackerMask != 0) {
            tracker = *host.trackers().storage()->trackerEntry(static_cast<std::uint32_t>(__builtin_ctz(trackerMask)) + 1);
        }
        host.trackers().storage()->unlock();
        host.controllers().storage()->lock();
        if (controllerMask != 0) {
            controller = *host.controllers().storage()->controllerEntry(
                static_cast<std::uint32_t>(__builtin_ctz(controllerMask)) + 1);
        }
        host.controllers().storage()->unlock();
        host::ReceivedRecord record;
        record.tracker = trackerMask != 0 ? &tracker : nullptr;
        record.controller = controllerMask != 0 ? &controller : nullptr;
        if (trackerMask != 0) {
            const std::uint32_t id = fromNetwork32(tracker.storageIndex);
            host::HostSample sample;
            host::trackerSample(tracker, 0, id, sample);
            host::PosePredictor::Pose pose;
            time += 0.005;
            record.predicted = predictors[(id - 1) % 2].take(sample.pose, time, pose);
            published = tracker;
            for (int i = 0; i < 6; ++i) {
                published.pose[i] = static_cast<std::int32_t>(toNetwork32(static_cast<std::uint32_t>(pose[i])));
            }
            record.tracker = &published;
            record.measured = &tracker;
        }
        publishers.publish(record);
    };
    const Received received = receiveRecords("", around);
    EXPECT_EQ(received.allocations, 0u);
    EXPECT_EQ(received.trackers, kRecords + 1);
    EXPECT_EQ(osc.sent() + osc.dropped(), static_cast<std::uint64_t>(kRecords + 1));
    EXPECT_EQ(osc.failed(), 0u);
    EXPECT_EQ(turned.sent() + turned.dropped(), static_cast<std::uint64_t>(kRecords + 1));
    EXPECT_EQ(turned.failed(), 0u);
}

// The host program's outputs take a sample without allocating: JSON lines,
// CSV and the live table, behind the lock of the set, and the view's table
// of the latest samples (whose pages' streams then carry them).
TEST(Allocation, NonePerSampleOnTheHostsOutputs)
{
    kit::TempFile jsonFile(""), csvFile(""), tableFile(""), quaternionFile(""), matrixFile("");
    host::LinePublisher json(std::fopen(jsonFile.path().c_str(), "wb"), host::Format::JsonLines, true);
    host::LinePublisher csv(std::fopen(csvFile.path().c_str(), "wb"), host::Format::Csv, true);
    host::LiveTable table(std::fopen(tableFile.path().c_str(), "wb"));
    // The other units and orientation forms too.
    host::PoseForm metres;
    metres.units = host::Units::Meters;
    metres.rotation = host::Rotation::Quaternion;
    host::PoseForm inches;
    inches.units = host::Units::Inches;
    inches.rotation = host::Rotation::Matrix;
    host::LinePublisher quaternion(std::fopen(quaternionFile.path().c_str(), "wb"), host::Format::JsonLines, true,
                                   "quaternion", metres);
    host::LinePublisher matrix(std::fopen(matrixFile.path().c_str(), "wb"), host::Format::Csv, true, "matrix", inches);
    host::HttpView view;
    std::string error;
    ASSERT_TRUE(view.start("127.0.0.1", 0, VANTREL_VIEW_FOLDER, error)) << error;
    host::Publishers publishers;
    for (host::Publisher* publisher :
         std::initializer_list<host::Publisher*>{&json, &csv, &table, &quaternion, &matrix, &view}) {
        publishers.add(publisher);
    }
    host::DeviceInfo device;
    device.name = "a device with a name longer than any short-string buffer";
    device.firstTracker = 1;
    device.trackerCount = 2;
    device.firstController = 1;
    device.controllerCount = 1;
    publishers.begin({device});

    host::HostSample tracker;
    tracker.id = 2;
    tracker.pose[0] = -1234567;
    host::HostSample controller;
    controller.tracker = false;
    controller.id = 1;
    controller.buttonCount = 3;
    controller.buttonBits[0] = 0x5;
    host::ReceivedRecord trackerRecord;
    trackerRecord.samples = &tracker;
    trackerRecord.sampleCount = 1;
    host::ReceivedRecord controllerRecord;
    controllerRecord.samples = &controller;
    controllerRecord.sampleCount = 1;
    counting = true;
    for (int i = 0; i < 200; ++i) {
        tracker.pose[3] = i * 1000;
        publishers.publish(trackerRecord);
        publishers.publish(controllerRecord);
    }
    counting = false;
    EXPECT_EQ(allocations, 0u);
    // The last of them in a page's stream.
    host::HttpView::Page page;
    ASSERT_TRUE(view.step(page));
    EXPECT_NE(page.text.find("\"trackers\":[{\"id\":2,\"device\":0,\"time\":[0,0],\"pose\":[-1234567,0,0,199000,0,0],"),
              std::string::npos)
        << page.text;
    EXPECT_NE(page.text.find("\"controllers\":[{\"id\":1,\"device\":0,\"time\":[0,0],\"buttons\":[1,0,1],"),
              std::string::npos)
        << page.text;
    publishers.finish();
    // The samples did reach the files.
    std::FILE* written = std::fopen(csvFile.path().c_str(), "rb");
    ASSERT_NE(written, nullptr);
    int lines = 0;
    for (int c = std::fgetc(written); c != EOF; c = std::fgetc(written)) {
        lines += c == '\n' ? 1 : 0;
    }
    std::fclose(written);
    EXPECT_EQ(lines, 401);
}

}  // namespace
