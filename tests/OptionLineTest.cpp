#include <gtest/gtest.h>

#include <memory>

#include "common/CConfigH.h"
#include "common/CLogH.h"
#include "common/OptionLine.h"
#include "kit/ConfigText.h"
#include "kit/HostStorage.h"
#include "kit/StdoutCapture.h"

namespace {

TEST(OptionLine, KeywordsMatchInAnyCase)
{
    EXPECT_EQ(keywordEquals("SerialPort", "serialport"), 0);
    EXPECT_EQ(keywordEquals("HEMISPHERE", "hemisphere"), 0);
    EXPECT_EQ(keywordEquals("+X", "+x"), 0);
    EXPECT_EQ(keywordEquals("abc", "abd"), -1);
    EXPECT_EQ(keywordEquals("ab", "abc"), -1);
    EXPECT_EQ(keywordEquals("abc", "ab"), 1);
    EXPECT_EQ(keywordEquals("b", "A"), 1);
    EXPECT_EQ(keywordEquals("", ""), 0);
}

TEST(OptionLine, IntegersReadWithBaseZero)
{
    EXPECT_EQ(parseInteger("010"), 8);
    EXPECT_EQ(parseInteger("0x10"), 16);
    EXPECT_EQ(parseInteger("0X1f"), 31);
    EXPECT_EQ(parseInteger("08"), 0);
    EXPECT_EQ(parseInteger("  -5"), -5);
    EXPECT_EQ(parseInteger("+7"), 7);
    EXPECT_EQ(parseInteger("12abc"), 12);
    EXPECT_EQ(parseInteger("abc"), 0);
    EXPECT_EQ(parseInteger(""), 0);
    EXPECT_EQ(parseInteger(nullptr), 0);
    // Out of 32-bit range saturates, as strtol does where long has 32 bits.
    EXPECT_EQ(parseInteger("0xFFFFFFFF"), INT32_MAX);
    EXPECT_EQ(parseInteger("-99999999999"), INT32_MIN);
    // Taken as unsigned by the range checks, a negative number fails them.
    EXPECT_GT(static_cast<std::uint32_t>(parseInteger("-1")), 32u);
}

TEST(OptionLine, DiagnosticHasOneForm)
{
    const CLogH log(kit::plainLogSettings("Dev"));
    kit::StdoutCapture capture;
    reportOptionProblem(log, "CVantrel: ", "Invalid string found for ", "Hemisphere at line ", 17);
    reportOptionProblem(log, "", "Invalid button ID found for ", "EmulateTracker option at line ", 4, ". Ignored.");
    EXPECT_EQ(capture.text(),
              "Dev: ERROR: CVantrel: Invalid string found for Hemisphere at line 17.\n"
              "Dev: ERROR: Invalid button ID found for EmulateTracker option at line 4. Ignored.\n");
}

TEST(OptionLine, NoPartOfADiagnosticWhenTheLoggerIsOff)
{
    LogSettings settings = kit::plainLogSettings("Dev");
    settings.enabled = 0;
    const CLogH log(settings);
    kit::StdoutCapture capture;
    reportOptionProblem(log, "", "Too many args found for ", "Calibration at line ", 3);
    EXPECT_EQ(capture.text(), "");
}

TEST(ConfigH, AllConsumedReportsNothing)
{
    kit::ConfigText config("Vantrel 2\nport com1\nbaud 9600\n");
    config.line(0).consumed = 1;
    config.line(1).consumed = 1;
    const CLogH log(kit::plainLogSettings("Dev"));
    kit::StdoutCapture capture;
    EXPECT_TRUE(CConfigH::reportUnknownOptions(config.block(), log));
    EXPECT_EQ(capture.text(), "");
}

TEST(ConfigH, EveryUnconsumedLineIsReportedInLineOrder)
{
    // Device line on 1, options on lines 2..9.
    kit::ConfigText config("Vantrel\nport com1\nfoo 1\nbaud 1\nbaud 2\nbaud 3\nbaud 4\nbaud 5\nBar x y\n");
    for (std::uint32_t i : {0u, 2u, 3u, 4u, 5u, 6u}) {
        config.line(i).consumed = 1;
    }
    const CLogH log(kit::plainLogSettings("Dev"));
    kit::StdoutCapture capture;
    EXPECT_FALSE(CConfigH::reportUnknownOptions(config.block(), log));
    EXPECT_EQ(capture.text(),
              "Dev: ERROR: CConfigH: Unknown option \"foo\" found at line 3.\n"
              "Dev: ERROR: CConfigH: Unknown option \"Bar\" found at line 9.\n");
}

TEST(ConfigH, EmptyBlockPasses)
{
    kit::ConfigText config("Vantrel 3\n");
    const CLogH log(kit::plainLogSettings("Dev"));
    kit::StdoutCapture capture;
    EXPECT_TRUE(CConfigH::reportUnknownOptions(config.block(), log));
    EXPECT_EQ(capture.text(), "");
}

TEST(ConfigH, CountsBeyondTheRecordAreNotFollowed)
{
    auto config = std::make_unique<kit::ConfigText>("Vantrel\nport com1\n");
    config->block()->lineCount = 0xFFFFFFFFu;  // a host's mistake
    config->block()->lines[0].argCount = 1000;
    EXPECT_EQ(optionLineCount(*config->block()), 32u);
    EXPECT_EQ(optionArgCount(config->block()->lines[0]), 64u);
    EXPECT_STREQ(optionArg(config->block()->lines[1], 0), "");
    const CLogH log(kit::plainLogSettings("Dev"));
    kit::StdoutCapture capture;
    EXPECT_FALSE(CConfigH::reportUnknownOptions(config->block(), log));
    // One line for the real option and one for each of the 31 empty slots.
    EXPECT_EQ(capture.lines().size(), 32u);
}

TEST(ConfigText, KeepsLineNumbersAndArguments)
{
    kit::ConfigText config("# comment\nVantrel 3 x\n\nsensoroffset 2 1 0 0 inches\n", 10);
    ConfigBlock* block = config.block();
    EXPECT_EQ(block->lineNumber, 11u);
    EXPECT_STREQ(block->deviceName, "Vantrel");
    ASSERT_EQ(block->argCount, 2u);
    EXPECT_STREQ(block->args[0], "3");
    ASSERT_EQ(block->lineCount, 1u);
    EXPECT_EQ(block->lines[0].lineNumber, 13u);
    EXPECT_STREQ(block->lines[0].keyword, "sensoroffset");
    ASSERT_EQ(block->lines[0].argCount, 5u);
    EXPECT_STREQ(block->lines[0].args[4], "inches");
    EXPECT_EQ(block->lines[0].consumed, 0);
}

}  // namespace
