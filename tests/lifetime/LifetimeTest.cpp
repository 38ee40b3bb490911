// Lifetimes of the device: created and deleted a thousand times, once with an
// init that fails at each of its stages in turn, once through a whole run
// against a simulated flock. The program is run under valgrind memcheck
// (CTest test lifetime_memcheck) and, in the asan preset, under the
// sanitizers: nothing may leak and nothing may be touched after it is freed.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/DataRecords.h"
#include "kit/ConfigText.h"
#include "kit/DeviceHost.h"
#include "kit/FlockPartner.h"
#include "kit/HostRecords.h"
#include "kit/ModuleLibrary.h"
#include "kit/StdoutCapture.h"

namespace {

constexpr int kRounds = 1000;

// The last lines of a long capture, for a failure message.
std::string tail(kit::StdoutCapture& capture)
{
    const std::string text = capture.text();
    return text.size() > 2000 ? text.substr(text.size() - 2000) : text;
}

// Through the real module, as a host does it: createDev, an init that fails,
// deleteDev. Each round fails at another stage, so that every stage's
// leftovers go through the destructor.
TEST(Lifetime, CreateFailingInitDelete)
{
    kit::FlockPartner flock(flocksim::Setup::flock(3, 1));
    ASSERT_TRUE(flock.started()) << flock.problem();
    kit::ModuleLibrary module(kit::modulePath());
    ASSERT_TRUE(module.loaded()) << kit::modulePath();
    const CreateDevFunction createDev = module.createDev();
    const DeleteDevFunction deleteDev = module.deleteDev();
    ASSERT_NE(createDev, nullptr);
    ASSERT_NE(deleteDev, nullptr);
    const std::string calibration = std::string("calibration ") + VANTREL_CALIB_TEST_PATH + "\n";
    const std::vector<std::string> configs{
        "Vantrel 99\n",                                                 // the device line
        "Vantrel\nhemisphere w\n",                                      // an option
        "Vantrel 2\nmouse 2\nport /nonexistent/port\n",                 // the port, after both layers
        "Vantrel\n" + calibration + "port /nonexistent/port\n",         // the port, after the calibration library
        "Vantrel\nport " + flock.portName() + "\nbaud 14400\n",         // the baud rate, with the port open
    };
    LogSettings settings = kit::plainLogSettings("Host");
    int failed = 0;
    std::string output;
    {
        kit::StdoutCapture capture;
        for (int round = 0; round < kRounds; ++round) {
            kit::ConfigText config(configs[static_cast<std::size_t>(round) % configs.size()]);
            kit::HostRecords records;
            CBase* device = createDev(config.block(), &settings);
            if (device == nullptr) {
                break;
            }
            failed += device->init(&records.info) == -1 ? 1 : 0;
            deleteDev(device);
        }
        if (failed != kRounds) {
            output = tail(capture);
        }
    }
    EXPECT_EQ(failed, kRounds) << output;
}

// A whole run a thousand times: create, init, configure, start, two
// receptions, stop, delete, each against a flock of its own (one that was
// streaming would leave its records on the line for the next configure).
// Calibration library, mouse and controller layer included.
TEST(Lifetime, CreateInitConfigureStartStopDelete)
{
    flocksim::Setup setup = flocksim::Setup::flock(3, 1);
    setup.units[2].mouse = true;
    setup.rate = 1000;
    int completed = 0;
    int published = 0;
    std::string output;
    {
        kit::StdoutCapture capture;
        for (int round = 0; round < kRounds; ++round) {
            kit::FlockPartner flock(setup);
            kit::DeviceHost host("Vantrel 2\nmouse 3\ncalibration " + std::string(VANTREL_CALIB_TEST_PATH) +
                                 "\nport " + flock.portName() + "\n");
            host.device().setPauseDivisor(1000);
            bool ran = host.init() == 1 && host.device().configure() == 1 && host.device().start();
            for (int i = 0; ran && i < 2; ++i) {
                ran = host.receive() == 1;
                published += host.masks().trackerMask != 0 ? 1 : 0;
            }
            ran = ran && host.device().stop();
            if (!ran) {
                break;
            }
            ++completed;
        }
        if (completed != kRounds) {
            output = tail(capture);
        }
    }
    EXPECT_EQ(completed, kRounds) << output;
    EXPECT_GE(published, kRounds);  // the path of a record was taken too
}

}  // namespace
