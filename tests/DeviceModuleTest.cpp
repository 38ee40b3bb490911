// A host's whole round with the real module against a simulated flock:
// createDev, init, configure, start, stop and deleteDev, with the pauses in
// full, and every byte that reached the flock.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "kit/ConfigText.h"
#include "kit/FlockPartner.h"
#include "kit/HostStorage.h"
#include "kit/ModuleLibrary.h"
#include "kit/StdoutCapture.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Lines = std::vector<std::string>;
using Clock = std::chrono::steady_clock;

std::int64_t millisecondsSince(Clock::time_point begin)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begin).count();
}

TEST(DeviceModule, HostDrivesTheFlockFromCreationToDeletion)
{
    kit::FlockPartner flock(flocksim::Setup::flock(3, 1));  // an ERC and two receivers
    ASSERT_TRUE(flock.started()) << flock.problem();
    kit::ModuleLibrary module(kit::modulePath());
    ASSERT_TRUE(module.loaded()) << kit::modulePath();
    const CreateDevFunction createDev = module.createDev();
    const DeleteDevFunction deleteDev = module.deleteDev();
    ASSERT_NE(createDev, nullptr);
    ASSERT_NE(deleteDev, nullptr);

    kit::ConfigText config("Vantrel 2\nport " + flock.portName() + "\n");
    LogSettings settings = kit::plainLogSettings("Host");
    kit::HostStorage trackers(kit::HostStorage::Kind::Tracker);
    kit::HostStorage controllers(kit::HostStorage::Kind::Controller);
    std::int32_t run = 1;
    InitInfo info{};
    info.trackerStorage = trackers.storage();
    info.controllerStorage = controllers.storage();
    info.runFlag = &run;

    // Results first, assertions after: the captures take standard output.
    CBase* device = createDev(config.block(), &settings);
    ASSERT_NE(device, nullptr);
    kit::StdoutCapture initCapture;
    const std::int32_t initResult = device->init(&info);
    const Lines initLines = initCapture.lines();
    kit::StdoutCapture runCapture;
    Clock::time_point begin = Clock::now();
    const std::int32_t configureResult = device->configure();
    const std::int64_t configureMs = millisecondsSince(begin);
    const bool started = device->start();
    begin = Clock::now();
    const bool stopped = device->stop();
    const std::int64_t stopMs = millisecondsSince(begin);
    const std::string runOutput = runCapture.text();
    EXPECT_TRUE(deleteDev(device));

    EXPECT_EQ(initResult, 1);
    EXPECT_EQ(initLines, (Lines{
                             "Host: INFO: DEVICE NAME           : Vantrel",
                             "Host: INFO: DEVICE TYPE           : Vantrel(tm)",
                             "Host: INFO: VERSION               : 5.5",
                             "Host: INFO: DATA TYPE             : Tracker",
                             "Host: INFO: SERIAL PORT           : " + flock.portName(),
                             "Host: INFO: BAUD RATE             : 38400",
                             "Host: INFO: ADDRESSING MODE       : Normal",
                             "Host: INFO: HEMISPEHRE            : +Z",
                             "Host: INFO: SYNC TYPE             : Off",
                             "Host: INFO: FILTER                : Unused",
                             "Host: INFO: REPORT RATE           : Every single sampling",
                             "Host: INFO: TRANSMITTER           : ERC on device ID:1",
                             "Host: INFO: NUMBER OF DEVICES     : 3",
                             "Host: INFO: NUMBER OF TRACKERS    : 2",
                             "Host: INFO: CAVE COORDINATES      : Used",
                             "Host: INFO: TRACKER ORDER         : <Real tra> -> <Output tra>",
                             "Host: INFO:                       : 2->1 3->2",
                             "Host: INFO: -----------------------",
                         }));
    EXPECT_EQ(configureResult, 2);
    EXPECT_TRUE(started);
    EXPECT_TRUE(stopped);
    EXPECT_EQ(runOutput, "");
    // 600 ms before and after the auto-configuration; 500 ms after point
    // and after sleep.
    EXPECT_GE(configureMs, 1200);
    EXPECT_GE(stopMs, 1000);

    // What the flock streamed between start and stop went the other way.
    const Bytes expected{
        0x50, 0x23, 0x01, 0x4F, 0x23,                    // group mode on, and its check
        0x50, 0x32, 0x03,                                // auto-configuration of 3 units
        0x4F, 0x24,                                      // system status
        0xF2, 0x4C, 0x0C, 0x00, 0xF3, 0x4C, 0x0C, 0x00,  // hemisphere +Z to units 2 and 3
        0xF2, 0x72, 0x00, 0xC0, 0x00, 0x40, 0x00, 0x00,  // reference frame to unit 2
        0xF3, 0x72, 0x00, 0xC0, 0x00, 0x40, 0x00, 0x00,  // and to unit 3
        0xF2, 0x59, 0xF3, 0x59,                          // position/angles to units 2 and 3
        0x51,                                            // report rate: every cycle
        0x40,                                            // stream
        0x42,                                            // point
        0x47,                                            // sleep
    };
    flock.waitForReceived(expected.size(), 2000);
    EXPECT_EQ(flock.received(), expected);
}

}  // namespace
