#include <gtest/gtest.h>

#include <cstring>
#include <iomanip>
#include <iostream>
#include <locale>
#include <regex>
#include <string>

#include "common/CLogH.h"
#include "common/OptionLine.h"
#include "platform/Platform.h"
#include "serial/CRS232H.h"
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

// A host's locale that puts a separator between every two digits.
class GroupEveryDigit : public std::numpunct<char> {
protected:
    char do_thousands_sep() const override { return ','; }
    std::string do_grouping() const override { return "\1"; }
};

TEST(Log, NumbersAreDecimalWhateverStateTheHostLeftTheStreamIn)
{
    const std::locale grouping(std::locale::classic(), new GroupEveryDigit);
    const std::locale hostsBefore = std::cout.imbue(grouping);
    const std::ios_base::fmtflags flagsBefore = std::cout.flags();
    std::cout << std::hex << std::showbase << std::setw(30);
    CLogH log = plainLog();
    log.showTime = 1;
    log.showThreadId = 1;
    std::string text;
    {
        CRS232H port(&log);
        kit::StdoutCapture capture;
        log.info("x");
        port.setBaudRate(14400);
        reportOptionProblem(log, "", "Invalid arg found for ", "Order at line ", 1017, ".");
        text = capture.text();
    }
    // The host finds its stream as it left it.
    EXPECT_EQ(std::cout.width(), 30);
    EXPECT_EQ(std::cout.flags(), (flagsBefore & ~std::ios_base::basefield) | std::ios_base::hex | std::ios_base::showbase);
    EXPECT_TRUE(std::cout.getloc() == grouping);
    std::cout.width(0);
    std::cout.flags(flagsBefore);
    std::cout.imbue(hostsBefore);

    const std::string header = "MESSAGE[" + std::to_string(platform::currentThreadId()) + "]: ";
    const std::string time = "[0-9]{2}:[0-9]{2}:[0-9]{2} ";
    std::smatch lines;
    ASSERT_TRUE(std::regex_match(text, lines, std::regex(time + "(.*)\n" + time + "(.*)\n" + time + "(.*)\n")))
        << text;
    EXPECT_EQ(lines[1].str(), header + "INFO: x");
    EXPECT_EQ(lines[2].str(), header + "ERROR: CRS232H: Could not set the baud rate 14400");
    EXPECT_EQ(lines[3].str(), header + "ERROR: Invalid arg found for Order at line 1017.");
}

}  // namespace
