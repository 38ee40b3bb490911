#include <gtest/gtest.h>

#include <cstring>
#include <iostream>
#include <regex>
#include <string>

#include "common/CLogH.h"
#include "kit/HostStorage.h"
#include "kit/StdoutCapture.h"

namespace {

CLogH plainLog()
{
    return CLogH(kit::plainLogSettings("MESSAGE"));
}

TEST(Log, DefaultsMatchTheRecord)
{
    const CLogH log;
    EXPECT_EQ(log.showDate, 1);
    EXPECT_EQ(log.showTime, 1);
    EXPECT_EQ(log.showThreadId, 1);
    EXPECT_EQ(log.enabled, 1);
    EXPECT_STREQ(log.moduleName, "MESSAGE");
    EXPECT_STREQ(log.levelWords[0], "INFO");
    EXPECT_STREQ(log.levelWords[1], "ERROR");
    EXPECT_STREQ(log.levelWords[2], "WARNING");
    EXPECT_STREQ(log.levelWords[3], "DEBUG");
    EXPECT_EQ(log.debugThreshold, 1);
    EXPECT_EQ(log.debugLevel, 0);
    EXPECT_EQ(log.debugCategory, 0u);
}

TEST(Log, PlainLinesAtEveryLevel)
{
    CLogH log = plainLog();
    log.debugLevel = 1;
    kit::StdoutCapture capture;
    log.info("one");
    log.error("two");
    log.warning("three");
    log.debug("four");
    EXPECT_EQ(capture.text(),
              "MESSAGE: INFO: one\nMESSAGE: ERROR: two\nMESSAGE: WARNING: three\nMESSAGE: DEBUG: four\n");
}

TEST(Log, DisabledWritesNothingAtAnyLevel)
{
    CLogH log = plainLog();
    log.enabled = 0;
    log.debugLevel = 5;
    kit::StdoutCapture capture;
    log.info("a");
    log.error("b");
    log.warning("c");
    log.debug("d");
    log.debugf("%s %d\n", "e", 1);
    EXPECT_EQ(capture.text(), "");
}

TEST(Log, HeaderWithTimeOnlyAndWithEverything)
{
    CLogH log = plainLog();
    log.showTime = 1;
    {
        kit::StdoutCapture capture;
        log.info("x");
        EXPECT_TRUE(std::regex_match(capture.text(), std::regex("[0-9]{2}:[0-9]{2}:[0-9]{2} MESSAGE: INFO: x\n")))
            << capture.text();
    }
    log.showDate = 1;
    log.showThreadId = 1;
    kit::StdoutCapture capture;
    log.info("y");
    EXPECT_TRUE(std::regex_match(
        capture.text(),
        std::regex("[A-Z][a-z]{2} [0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} MESSAGE\\[[0-9]+\\]: INFO: y\n")))
        << capture.text();
}

TEST(Log, DebugFilterByLevelCategoryAndThreshold)
{
    CLogH device = plainLog();
    device.setDebugCategory(1);
    CLogH layer = plainLog();
    layer.setDebugCategory(3);
    for (CLogH* log : {&device, &layer}) {
        log->debugLevel = 3;
        log->setDebugThreshold(4);
    }
    {
        kit::StdoutCapture capture;
        device.debug("device");
        layer.debug("layer");
        EXPECT_EQ(capture.text(), "MESSAGE: DEBUG: layer\n");
        EXPECT_FALSE(device.isDebugOn());
        EXPECT_TRUE(layer.isDebugOn());
    }
    device.debugLevel = 4;
    layer.debugLevel = 4;
    kit::StdoutCapture capture;
    device.debug("device");
    layer.debug("layer");
    EXPECT_EQ(capture.text(), "MESSAGE: DEBUG: device\nMESSAGE: DEBUG: layer\n");
    device.debugLevel = 0;
    EXPECT_FALSE(device.isDebugOn());
}

TEST(Log, OpenLineIsContinuedByTheCaller)
{
    const CLogH log = plainLog();
    kit::StdoutCapture capture;
    log.info("value: ", false);
    std::cout << 42 << std::endl;
    EXPECT_EQ(capture.text(), "MESSAGE: INFO: value: 42\n");
}

TEST(Log, HostLevelWordsAreUsed)
{
    LogSettings settings = kit::plainLogSettings("Host");
    std::strcpy(settings.levelWords[0], "NOTE");
    const CLogH log(settings);
    kit::StdoutCapture capture;
    log.info("hi");
    EXPECT_EQ(capture.text(), "Host: NOTE: hi\n");
}

TEST(Log, LongNameIsCutTo99Characters)
{
    CLogH log = plainLog();
    const std::string name(150, 'n');
    log.setName(name.c_str());
    EXPECT_EQ(std::string(log.moduleName), std::string(99, 'n'));
    kit::StdoutCapture capture;
    log.error("e");
    EXPECT_EQ(capture.text(), std::string(99, 'n') + ": ERROR: e\n");
}

TEST(Log, UnterminatedHostNameIsNotReadPastItsField)
{
    LogSettings settings = kit::plainLogSettings("x");
    std::memset(settings.moduleName, 'm', sizeof settings.moduleName);
    std::memset(settings.levelWords[0], 'w', sizeof settings.levelWords[0]);
    const CLogH log(settings);
    kit::StdoutCapture capture;
    log.info("t");
    EXPECT_EQ(capture.text(), std::string(100, 'm') + ": " + std::string(100, 'w') + ": t\n");
}

TEST(Log, DebugfFormatsAndBoundsItsText)
{
    CLogH log = plainLog();
    log.debugLevel = 1;
    {
        kit::StdoutCapture capture;
        log.debugf("CRS232H: Opening %s.\n", "com7");
        EXPECT_EQ(capture.text(), "MESSAGE: DEBUG: CRS232H: Opening com7.\n");
    }
    const std::string longText(400, 'z');
    kit::StdoutCapture capture;
    log.debugf("%s", longText.c_str());
    EXPECT_EQ(capture.text(), "MESSAGE: DEBUG: " + std::string(255, 'z'));
}

}  // namespace
