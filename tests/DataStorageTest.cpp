#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "common/DataRecords.h"
#include "kit/HostStorage.h"
#include "kit/StdoutCapture.h"

namespace {

using kit::HostStorage;

TEST(DataStorage, CountCheckOrderAndTexts)
{
    HostStorage trackers(HostStorage::Kind::Tracker);
    HostStorage controllers(HostStorage::Kind::Controller);
    HostStorage bare(HostStorage::Kind::Tracker);
    bare.storage()->trackerList = nullptr;
    HostStorage bareControllers(HostStorage::Kind::Controller);
    bareControllers.storage()->controllerList = nullptr;
    HostStorage noMutex(HostStorage::Kind::Tracker);
    noMutex.storage()->mutex = nullptr;

    kit::StdoutCapture capture;
    EXPECT_FALSE(controllers.storage()->setTrackerDataCount(33));  // size is checked first
    EXPECT_FALSE(trackers.storage()->setTrackerDataCount(33));
    EXPECT_FALSE(controllers.storage()->setTrackerDataCount(2));
    EXPECT_FALSE(trackers.storage()->setControllerDataCount(2));
    EXPECT_FALSE(bare.storage()->setTrackerDataCount(2));
    EXPECT_FALSE(bareControllers.storage()->setControllerDataCount(2));
    EXPECT_FALSE(noMutex.storage()->setTrackerDataCount(2));
    EXPECT_FALSE(trackers.storage()->setTrackerDataCount(0));
    EXPECT_FALSE(controllers.storage()->setControllerDataCount(0));
    EXPECT_EQ(capture.lines(), (std::vector<std::string>{
                                   "Host: ERROR: CDataStorage: The new number is too big.",
                                   "Host: ERROR: CDataStorage: The new number is too big.",
                                   "Host: ERROR: Delete controller data list first.",
                                   "Host: ERROR: CDataStorage: Delete tracker data list first.",
                                   "Host: ERROR: CDataStorage: Data storage has not been created yet.",
                                   "Host: ERROR: CDataStorage: Datt Storage has not been created yet.",
                                   "Host: ERROR: CDataStorage: Mutex has not been set up yet.",
                                   "Host: ERROR: CDataStorage: the number of data is zero.",
                                   "Host: ERROR: CDataStorage: the number of data is zero.",
                               }));
    // A failed operation changes nothing.
    EXPECT_EQ(trackers.count(), 0u);
    EXPECT_EQ(controllers.count(), 0u);
}

TEST(DataStorage, CountsAndEntries)
{
    HostStorage trackers(HostStorage::Kind::Tracker);
    HostStorage controllers(HostStorage::Kind::Controller);
    kit::StdoutCapture capture;
    EXPECT_TRUE(trackers.storage()->setTrackerDataCount(32));
    EXPECT_EQ(trackers.storage()->trackerDataCount(), 32u);
    EXPECT_TRUE(trackers.storage()->setTrackerDataCount(3));
    EXPECT_EQ(trackers.storage()->trackerDataCount(), 3u);
    EXPECT_EQ(trackers.storage()->controllerDataCount(), 0u);
    EXPECT_EQ(trackers.storage()->trackerEntry(1), trackers.trackers());
    EXPECT_EQ(trackers.storage()->trackerEntry(3), trackers.trackers() + 2);
    EXPECT_EQ(trackers.storage()->trackerEntry(4), nullptr);
    EXPECT_EQ(trackers.storage()->trackerEntry(0), nullptr);
    EXPECT_EQ(trackers.storage()->controllerEntry(1), nullptr);

    EXPECT_TRUE(controllers.storage()->setControllerDataCount(2));
    EXPECT_EQ(controllers.storage()->controllerDataCount(), 2u);
    EXPECT_EQ(controllers.storage()->trackerDataCount(), 0u);
    EXPECT_EQ(controllers.storage()->controllerEntry(2), controllers.controllers() + 1);
    EXPECT_EQ(controllers.storage()->controllerEntry(3), nullptr);
    EXPECT_EQ(controllers.storage()->trackerEntry(1), nullptr);
    EXPECT_EQ(capture.text(), "");
}

TEST(DataStorage, EntryBeyondTheListIsRefusedWhateverTheCount)
{
    HostStorage trackers(HostStorage::Kind::Tracker);
    *trackers.storage()->countPtr = 1000;  // a host's mistake
    EXPECT_NE(trackers.storage()->trackerEntry(32), nullptr);
    EXPECT_EQ(trackers.storage()->trackerEntry(33), nullptr);
}

TEST(DataStorage, LockExcludesOtherThreads)
{
    HostStorage trackers(HostStorage::Kind::Tracker);
    std::atomic<bool> entered{false};
    ASSERT_TRUE(trackers.storage()->lock());
    std::thread other([&] {
        trackers.storage()->lock();
        entered = true;
        trackers.storage()->unlock();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(entered.load());
    ASSERT_TRUE(trackers.storage()->unlock());
    other.join();
    EXPECT_TRUE(entered.load());
}

TEST(DataStorage, LockWithoutMutexIsRefused)
{
    HostStorage trackers(HostStorage::Kind::Tracker);
    trackers.storage()->mutex = nullptr;
    kit::StdoutCapture capture;
    EXPECT_FALSE(trackers.storage()->lock());
    EXPECT_FALSE(trackers.storage()->unlock());
    EXPECT_EQ(capture.lines(), (std::vector<std::string>{"Host: ERROR: CDataStorage: Mutex has not been set up yet.",
                                                         "Host: ERROR: CDataStorage: Mutex has not been set up yet."}));
}

TEST(DataRecords, InitialStatesAndByteOrder)
{
    TrackerData tracker;
    std::memset(&tracker, 0xAB, sizeof tracker);
    resetTrackerData(tracker);
    const auto* trackerBytes = reinterpret_cast<const unsigned char*>(&tracker);
    for (std::size_t i = 0; i < 44; ++i) {
        ASSERT_EQ(trackerBytes[i], 0) << i;
    }
    ControllerData controller;
    std::memset(&controller, 0xAB, sizeof controller);
    resetControllerData(controller);
    const auto* controllerBytes = reinterpret_cast<const unsigned char*>(&controller);
    for (std::size_t i = 0; i < 168; ++i) {
        ASSERT_EQ(controllerBytes[i], 0) << i;
    }
    EXPECT_EQ(controller.buttonBytes, 4u);

    std::uint32_t wire = toNetwork32(0x01020304u);
    const auto* bytes = reinterpret_cast<const unsigned char*>(&wire);
    EXPECT_EQ(bytes[0], 0x01);
    EXPECT_EQ(bytes[3], 0x04);
    EXPECT_EQ(fromNetwork32(wire), 0x01020304u);
}

}  // namespace
