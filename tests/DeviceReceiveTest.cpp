// Records from the line to the shared storages.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "common/DataRecords.h"
#include "kit/DeviceHost.h"
#include "kit/FlockPartner.h"
#include "kit/StdoutCapture.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// A record of six words (low byte first, phasing bit on the first byte),
// an optional button byte and the unit's address.
Bytes record(std::uint8_t address, std::initializer_list<std::uint16_t> words, int buttons = -1)
{
    Bytes bytes;
    for (std::uint16_t word : words) {
        bytes.push_back(static_cast<std::uint8_t>((word >> 2) & 0x7F));
        bytes.push_back(static_cast<std::uint8_t>((word >> 9) & 0x7F));
    }
    bytes.resize(12, 0);
    bytes[0] |= 0x80;
    if (buttons >= 0) {
        bytes.push_back(static_cast<std::uint8_t>(buttons));
    }
    bytes.push_back(address);
    return bytes;
}

const Bytes kPhasing{0x80};

Bytes join(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

std::int32_t poseValue(const TrackerData& data, int index)
{
    return static_cast<std::int32_t>(fromNetwork32(static_cast<std::uint32_t>(data.pose[index])));
}

// An initialised device on a simulated flock that does not stream: the test
// puts the bytes on the line itself.
struct Receiver {
    Receiver(const flocksim::Setup& setup, const std::string& options, CDataStorage* trackers = nullptr)
        : partner(setup), host("Vantrel " + options + "\nport " + partner.portName() + "\n")
    {
        if (trackers != nullptr) {
            host.initInfo().trackerStorage = trackers;
        }
        kit::StdoutCapture capture;
        initResult = host.init();
        initOutput = capture.text();
    }

    // One recvData call with its output captured.
    std::int32_t receive(std::string* output = nullptr)
    {
        kit::StdoutCapture capture;
        const std::int32_t result = host.receive();
        if (output != nullptr) {
            *output = capture.text();
        }
        return result;
    }

    TrackerData& trackerEntry(std::uint32_t id) { return host.trackers().trackers()[id - 1]; }
    ControllerData& controllerEntry(std::uint32_t id) { return host.controllers().controllers()[id - 1]; }

    kit::FlockPartner partner;
    kit::DeviceHost host;
    std::int32_t initResult = 0;
    std::string initOutput;
};

TEST(DeviceReceive, WorkedRecordIsDecodedAndPublished)
{
    Receiver rx(flocksim::Setup::flock(3, 1), "");
    ASSERT_EQ(rx.initResult, 1) << rx.initOutput;
    rx.partner.send(join({record(2, {0, 0, 0, 0x4000, 0, 0}), kPhasing}));
    EXPECT_EQ(rx.receive(), 1);
    const TrackerData& entry = rx.trackerEntry(1);
    EXPECT_EQ(fromNetwork32(entry.storageIndex), 1u);
    // 16384 / 32767 x 180 degrees, negated by the CAVE convention.
    EXPECT_EQ(poseValue(entry, 3), -9000274);
    for (int i : {0, 1, 2, 4, 5}) {
        EXPECT_EQ(poseValue(entry, i), 0) << i;
    }
    EXPECT_EQ(rx.host.masks().trackerMask, toNetwork32(1u));
    EXPECT_EQ(fromNetwork32(entry.sampleMicroseconds), std::uint32_t{entry.timeRecord.milliseconds} * 1000u);
    EXPECT_EQ(fromNetwork32(entry.sampleSeconds), entry.timeRecord.seconds);
    EXPECT_NEAR(static_cast<double>(entry.timeRecord.seconds),
                static_cast<double>(std::chrono::duration_cast<std::chrono::seconds>(
                                        std::chrono::system_clock::now().time_since_epoch())
                                        .count()),
                5.0);
}

TEST(DeviceReceive, PositionWordsAndCaveConvention)
{
    Receiver rx(flocksim::Setup::flock(3, 1), "");
    ASSERT_EQ(rx.initResult, 1) << rx.initOutput;
    // x = the largest word, y = the smallest (clamped to -1), elevation and
    // roll 90 degrees: roll is negated, elevation is not.
    rx.partner.send(join({record(3, {0x7FFC, 0x8000, 0, 0, 0x4000, 0x4000}), kPhasing}));
    EXPECT_EQ(rx.receive(), 1);
    const TrackerData& entry = rx.trackerEntry(2);
    EXPECT_EQ(poseValue(entry, 0), 1199890);
    EXPECT_EQ(poseValue(entry, 1), -1200000);
    EXPECT_EQ(poseValue(entry, 4), 9000274);
    EXPECT_EQ(poseValue(entry, 5), -9000274);
    EXPECT_EQ(rx.host.masks().trackerMask, toNetwork32(2u));
}

TEST(DeviceReceive, CaveConventionOff)
{
    Receiver rx(flocksim::Setup::flock(3, 1), "\ncavecoord off");
    ASSERT_EQ(rx.initResult, 1) << rx.initOutput;
    rx.partner.send(join({record(2, {0, 0, 0, 0x4000, 0, 0x4000}), kPhasing}));
    EXPECT_EQ(rx.receive(), 1);
    EXPECT_EQ(poseValue(rx.trackerEntry(1), 3), 9000274);
    EXPECT_EQ(poseValue(rx.trackerEntry(1), 5), 9000274);
}

TEST(DeviceReceive, SrtScalesPositions)
{
    for (const char* scaling : {"36", "72"}) {
        Receiver rx(flocksim::Setup::flock(2, 0), std::string("2\nsrt 1\nscaling ") + scaling);
        ASSERT_EQ(rx.initResult, 1) << rx.initOutput;
        rx.partner.send(join({record(1, {0x8000, 0, 0, 0, 0, 0}), kPhasing}));
        EXPECT_EQ(rx.receive(), 1);
        EXPECT_EQ(poseValue(rx.trackerEntry(1), 0), scaling[0] == '3' ? -300000 : -600000) << scaling;
    }
}

TEST(DeviceReceive, StationarySensorPublishesOnce)
{
    Receiver rx(flocksim::Setup::flock(3, 1), "");
    ASSERT_EQ(rx.initResult, 1) << rx.initOutput;
    const Bytes same = record(2, {0x100, 0x200, 0x300, 0, 0, 0});
    rx.partner.send(join({same, same, same}));
    EXPECT_EQ(rx.receive(), 1);
    EXPECT_EQ(rx.host.masks().trackerMask, toNetwork32(1u));
    rx.trackerEntry(1).pose[0] = 12345;  // the host's copy; not written again
    EXPECT_EQ(rx.receive(), 1);
    EXPECT_EQ(rx.host.masks().trackerMask, 0u);
    EXPECT_EQ(rx.trackerEntry(1).pose[0], 12345);
}

TEST(DeviceReceive, NoiseAndBrokenRecordsAreDroppedAndTheNextIsReceived)
{
    Receiver rx(flocksim::Setup::flock(3, 1), "");
    ASSERT_EQ(rx.initResult, 1) << rx.initOutput;
    const Bytes full = record(2, {0x7FFC});
    const Bytes truncated(full.begin(), full.begin() + 5);
    Bytes overlong = record(3, {0x7FFC});
    overlong.insert(overlong.end(), 10, 0x11);  // a lost phasing byte: two records run together
    rx.partner.send(join({{0x12, 0x34, 0x7F}, truncated, overlong, record(2, {0, 0x4000}), kPhasing}));
    EXPECT_EQ(rx.receive(), 1);
    EXPECT_EQ(poseValue(rx.trackerEntry(1), 1), 600018);
    EXPECT_EQ(rx.host.masks().trackerMask, toNetwork32(1u));
    EXPECT_EQ(rx.trackerEntry(2).storageIndex, 0u);  // nothing reached tracker 2
}

TEST(DeviceReceive, RecordWithAddressZeroIsSkippedWithinTheCall)
{
    Receiver rx(flocksim::Setup::flock(3, 1), "");
    ASSERT_EQ(rx.initResult, 1) << rx.initOutput;
    rx.partner.send(join({record(0, {0x100}), record(3, {0x200}), kPhasing}));
    EXPECT_EQ(rx.receive(), 1);
    EXPECT_EQ(rx.host.masks().trackerMask, toNetwork32(2u));
}

TEST(DeviceReceive, RecordsFromTheErcOrOffTheBusAreDropped)
{
    Receiver rx(flocksim::Setup::flock(3, 1), "");
    ASSERT_EQ(rx.initResult, 1) << rx.initOutput;
    rx.partner.send(join({record(1, {0x100}), record(4, {0x100}), record(3, {0x100}), kPhasing}));
    EXPECT_EQ(rx.receive(), 1);  // the ERC's record
    EXPECT_EQ(rx.host.masks().trackerMask, 0u);
    EXPECT_EQ(rx.receive(), 1);  // address 4 is not on the configured bus
    EXPECT_EQ(rx.host.masks().trackerMask, 0u);
    EXPECT_EQ(rx.receive(), 1);
    EXPECT_EQ(rx.host.masks().trackerMask, toNetwork32(2u));
}

TEST(DeviceReceive, MouseButtonsThroughAReorderedMap)
{
    flocksim::Setup setup = flocksim::Setup::flock(3, 1);
    setup.units[1].mouse = true;
    Receiver rx(setup, "\nmouse 2\nbuttonorder 2 3 1 2");
    ASSERT_EQ(rx.initResult, 1) << rx.initOutput;
    rx.partner.send(join({record(2, {0x100}, 0x30), record(2, {0x100}, 0x50), record(2, {0x100}, 0x00), kPhasing}));
    EXPECT_EQ(rx.receive(), 1);
    const ControllerData& entry = rx.controllerEntry(1);
    EXPECT_EQ(fromNetwork32(entry.storageIndex), 1u);
    EXPECT_EQ(fromNetwork32(entry.buttonCount), 3u);
    EXPECT_EQ(fromNetwork32(entry.valuatorCount), 0u);
    EXPECT_EQ(fromNetwork32(entry.valuatorOffset), 36u);
    EXPECT_EQ(fromNetwork32(entry.buttonOffset), 36u);
    EXPECT_EQ(entry.buttonBytes, 4u);
    // Real button 2 drives output button 3.
    EXPECT_EQ(entry.buttonBits[0], 0x04);
    EXPECT_EQ(rx.host.masks().controllerMask, toNetwork32(1u));
    EXPECT_EQ(rx.host.masks().trackerMask, toNetwork32(1u));
    // 0x50 is no button byte: that record is damaged and dropped; the next
    // one releases every button.
    EXPECT_EQ(rx.receive(), 1);
    EXPECT_EQ(rx.controllerEntry(1).buttonBits[0], 0x00);
    EXPECT_EQ(rx.host.masks().controllerMask, toNetwork32(1u));
    EXPECT_EQ(rx.host.masks().trackerMask, 0u);
}

TEST(DeviceReceive, OneMousesButtonsNeverShowInAnothersRecord)
{
    flocksim::Setup setup = flocksim::Setup::flock(3, 1);
    setup.units[1].mouse = true;
    setup.units[2].mouse = true;
    // Mouse 2 leaves its real button 2 unmapped.
    Receiver rx(setup, "\nmouse 2 3\nbuttonorder 2 3 0 1");
    ASSERT_EQ(rx.initResult, 1) << rx.initOutput;
    rx.partner.send(join({record(3, {0x100}, 0x30), record(2, {0x100}, 0x00), kPhasing}));
    EXPECT_EQ(rx.receive(), 1);
    EXPECT_EQ(rx.controllerEntry(2).buttonBits[0], 0x02);  // mouse 3, button 2
    EXPECT_EQ(rx.receive(), 1);
    EXPECT_EQ(rx.controllerEntry(1).buttonBits[0], 0x00);  // mouse 2: nothing pressed
}

TEST(DeviceReceive, SecondDeviceOnTheStoragePublishesBehindTheFirst)
{
    kit::HostStorage shared(kit::HostStorage::Kind::Tracker);
    ASSERT_TRUE(shared.storage()->setTrackerDataCount(3));  // an earlier device's entries
    Receiver rx(flocksim::Setup::flock(3, 1), "", shared.storage());
    ASSERT_EQ(rx.initResult, 1) << rx.initOutput;
    EXPECT_EQ(shared.count(), 5u);
    rx.partner.send(join({record(3, {0x100}), kPhasing}));
    EXPECT_EQ(rx.receive(), 1);
    EXPECT_EQ(fromNetwork32(shared.trackers()[4].storageIndex), 5u);
    EXPECT_EQ(rx.host.masks().trackerMask, toNetwork32(1u << 4));
}

TEST(DeviceReceive, CalibrationSeesTheDecodedPose)
{
    Receiver rx(flocksim::Setup::flock(3, 1), std::string("\ncalibration ") + VANTREL_CALIB_TEST_PATH);
    ASSERT_EQ(rx.initResult, 1) << rx.initOutput;
    rx.partner.send(join({record(2, {0x8000}), kPhasing}));
    EXPECT_EQ(rx.receive(), 1);
    EXPECT_EQ(poseValue(rx.trackerEntry(1), 0), -1100000);  // -12 feet, one foot added
}

TEST(DeviceReceive, MissingEvaluationEntryFailsTheCall)
{
    Receiver rx(flocksim::Setup::flock(3, 1), std::string("\ncalibration ") + VANTREL_CALIB_NOEVALUATE_PATH);
    ASSERT_EQ(rx.initResult, 1) << rx.initOutput;
    rx.partner.send(join({record(2, {0x100}), record(2, {0x200}), kPhasing}));
    std::string output;
    EXPECT_EQ(rx.receive(&output), -1);
    EXPECT_EQ(output, "");
    EXPECT_EQ(rx.receive(), -1);
    EXPECT_EQ(rx.trackerEntry(1).storageIndex, 0u);
}

// True when a thread other than the caller takes the storage's mutex within
// two seconds. A mutex that the caller's thread left locked keeps that thread
// waiting: the caller, which owns it then, gives it back so that it ends.
bool lockableFromAnotherThread(kit::HostStorage& storage)
{
    std::promise<void> taken;
    std::future<void> done = taken.get_future();
    std::thread other([&] {
        storage.mutex().lock();
        storage.mutex().unlock();
        taken.set_value();
    });
    const bool lockable = done.wait_for(std::chrono::seconds(2)) == std::future_status::ready;
    if (!lockable) {
        storage.mutex().unlock();
    }
    other.join();
    return lockable;
}

TEST(DeviceReceive, EntryMissingFromTheStorageFailsTheCallButIsMarked)
{
    flocksim::Setup setup = flocksim::Setup::flock(3, 1);
    setup.units[2].mouse = true;
    Receiver rx(setup, "\nmouse 3");
    ASSERT_EQ(rx.initResult, 1) << rx.initOutput;
    *rx.host.trackers().storage()->countPtr = 1;  // the host shrank the list
    rx.partner.send(join({record(3, {0x100}, 0x00), record(3, {0x100}, 0x00), record(3, {0x200}, 0x10), kPhasing}));
    std::string output;
    EXPECT_EQ(rx.receive(&output), -1);
    EXPECT_EQ(output, "Dev: ERROR: CVantrel: TraData storage not found\n"
                      "Dev: ERROR: CVantrel: Receiving data failed.\n");
    EXPECT_EQ(rx.host.masks().trackerMask, toNetwork32(2u));
    // The failed look-up gave the storage back: other threads of the host
    // can take it.
    EXPECT_TRUE(lockableFromAnotherThread(rx.host.trackers()));
    // The sample counts as published: the same one again is not retried.
    EXPECT_EQ(rx.receive(&output), 1);
    EXPECT_EQ(output, "");

    // The same for the controller storage.
    *rx.host.trackers().storage()->countPtr = 2;
    *rx.host.controllers().storage()->countPtr = 0;
    EXPECT_EQ(rx.receive(&output), -1);
    EXPECT_EQ(output, "Dev: ERROR: CVantrel: ConData storage not found\n"
                      "Dev: ERROR: CVantrel: Receiving data failed.\n");
    EXPECT_EQ(rx.host.masks().controllerMask, toNetwork32(1u));
    EXPECT_EQ(poseValue(rx.trackerEntry(2), 0), 18750);  // the tracker sample went out: 512 / 32767 x 12 feet
    EXPECT_TRUE(lockableFromAnotherThread(rx.host.controllers()));
    EXPECT_TRUE(lockableFromAnotherThread(rx.host.trackers()));
}

TEST(DeviceReceive, TimeOutReturnsNormally)
{
    Receiver rx(flocksim::Setup::flock(3, 1), "");
    ASSERT_EQ(rx.initResult, 1) << rx.initOutput;
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(rx.receive(), 1);
    const auto elapsed = std::chrono::steady_clock::now() - begin;
    EXPECT_GE(elapsed, std::chrono::milliseconds(800));
    EXPECT_LT(elapsed, std::chrono::milliseconds(2500));
    EXPECT_EQ(rx.host.masks().trackerMask, 0u);
}

TEST(DeviceReceive, RunFlagEndsTheCall)
{
    Receiver rx(flocksim::Setup::flock(3, 1), "");
    ASSERT_EQ(rx.initResult, 1) << rx.initOutput;
    rx.host.runFlag() = 0;
    rx.partner.send(join({record(2, {0x100}), kPhasing}));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(rx.receive(), -1);
    // Nothing was read: the record is still there for the next call.
    rx.host.runFlag() = 1;
    EXPECT_EQ(rx.receive(), 1);
    EXPECT_EQ(rx.host.masks().trackerMask, toNetwork32(1u));
    // Cleared from another thread while bytes keep coming that never close a
    // record.
    rx.partner.send({0x80});
    rx.partner.sendEvery({0x01}, 5);
    std::thread host([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        __atomic_store_n(&rx.host.runFlag(), 0, __ATOMIC_RELAXED);
    });
    EXPECT_EQ(rx.receive(), -1);
    rx.partner.sendEvery({}, 0);
    host.join();
}

}  // namespace
