// The module as a host sees it: loaded from the real shared library.
#include <gtest/gtest.h>

#include <cstring>
#include <regex>

#include "kit/ConfigText.h"
#include "kit/HostStorage.h"
#include "kit/ModuleLibrary.h"
#include "kit/StdoutCapture.h"

namespace {

class ModuleEntry : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(module.loaded()) << kit::modulePath();
        createDev = module.createDev();
        deleteDev = module.deleteDev();
        ASSERT_NE(createDev, nullptr);
        ASSERT_NE(deleteDev, nullptr);
    }

    kit::ModuleLibrary module{kit::modulePath()};
    CreateDevFunction createDev = nullptr;
    DeleteDevFunction deleteDev = nullptr;
    kit::ConfigText config{"Vantrel 2\n"};
};

TEST_F(ModuleEntry, WithoutLogSettingsTheDeviceSpeaksAsCVantrel)
{
    kit::StdoutCapture capture;
    CBase* device = createDev(config.block(), nullptr);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->sendData(nullptr, nullptr), -1);
    EXPECT_TRUE(deleteDev(device));
    const auto lines = capture.lines();
    // Debug output is off by default: only the warning is written.
    ASSERT_EQ(lines.size(), 1u) << capture.text();
    EXPECT_TRUE(std::regex_match(lines[0], std::regex("[A-Z][a-z]{2} [0-9]{2} [0-9:]{8} CVantrel\\[[0-9]+\\]: "
                                                      "WARNING: CVantrel: Can not send any data.")))
        << lines[0];
}

TEST_F(ModuleEntry, HostLogSettingsAreCopiedAtCreation)
{
    LogSettings settings = kit::plainLogSettings("Host");
    settings.debugLevel = 1;
    kit::StdoutCapture capture;
    CBase* device = createDev(config.block(), &settings);
    ASSERT_NE(device, nullptr);
    // Later changes of the host's record do not reach the device.
    std::strcpy(settings.moduleName, "Changed");
    settings.debugLevel = 0;
    EXPECT_EQ(device->sendData(nullptr, nullptr), -1);
    EXPECT_EQ(device->init(nullptr), -1);
    EXPECT_TRUE(deleteDev(device));
    EXPECT_EQ(capture.lines(), (std::vector<std::string>{
                                   "Host: DEBUG: CVantrel: \"constructor\" called.",
                                   "Host: WARNING: CVantrel: Can not send any data.",
                                   "Host: DEBUG: CVantrel: \"init\" called.",
                                   "Host: ERROR: CVantrel: Init info is empty.",
                                   "Host: DEBUG: CVantrel: \"destructor\" called.",
                               }));
}

TEST_F(ModuleEntry, DeviceDebugLinesAreCategoryOne)
{
    LogSettings settings = kit::plainLogSettings("Host");
    settings.debugLevel = 3;
    settings.debugThreshold = 4;
    kit::StdoutCapture capture;
    CBase* device = createDev(config.block(), &settings);
    EXPECT_TRUE(deleteDev(device));
    EXPECT_EQ(capture.text(), "");
}

TEST_F(ModuleEntry, EveryOperationLogsItsEntry)
{
    LogSettings settings = kit::plainLogSettings("Host");
    settings.debugLevel = 1;
    kit::HostStorage trackers(kit::HostStorage::Kind::Tracker);
    std::int32_t run = 1;
    InitInfo info{};
    info.trackerStorage = trackers.storage();
    info.runFlag = &run;
    UpdateMasks masks{};
    CBase* device = createDev(config.block(), &settings);
    ASSERT_NE(device, nullptr);
    kit::StdoutCapture capture;
    device->init(&info);
    device->configure();
    device->start();
    device->recvData(&masks, nullptr);
    device->stop();
    EXPECT_EQ(device->sendData(nullptr, nullptr), -1);
    const auto lines = capture.lines();
    deleteDev(device);
    const std::vector<std::string> expected{
        "Host: DEBUG: CVantrel: \"init\" called.",   "Host: DEBUG: CVantrel: \"configure\" called.",
        "Host: DEBUG: CVantrel: \"start\" called.",  "Host: DEBUG: CVantrel: \"recvData\" called.",
        "Host: DEBUG: CVantrel: \"stop\" called.",   "Host: WARNING: CVantrel: Can not send any data.",
    };
    // Each entry line comes first in its operation's output.
    std::size_t next = 0;
    for (const std::string& line : lines) {
        if (next < expected.size() && line == expected[next]) {
            ++next;
        }
    }
    EXPECT_EQ(next, expected.size()) << capture.text();
}

TEST_F(ModuleEntry, DeleteOfNullIsRefusedQuietly)
{
    kit::StdoutCapture capture;
    EXPECT_FALSE(deleteDev(nullptr));
    EXPECT_EQ(capture.text(), "");
}

}  // namespace
