#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "common/CDynamicLibH.h"
#include "common/CLogH.h"
#include "kit/HostStorage.h"
#include "kit/StdoutCapture.h"

namespace {

using Lines = std::vector<std::string>;

const std::string kFullLibrary = VANTREL_CALIB_TEST_PATH;
const std::string kNoExitLibrary = VANTREL_CALIB_NOEXIT_PATH;
const char* const kMissingLibrary = "vantrel_missing_library";

// A host logger that shows the DEBUG lines of the library handles.
CLogH debugLog()
{
    CLogH log(kit::plainLogSettings("Host"));
    log.debugLevel = 3;
    log.debugThreshold = 4;
    return log;
}

const std::string kCached = "Host: DEBUG: CDynamicLibH: \"getProcAddrCached\" called.";
const std::string kLookUp = "Host: DEBUG: CDynamicLibH: \"getProcAddr\" called.";
const std::string kNotLoaded = "Host: ERROR: CDynamicLibH: Library has not been loaded.";

TEST(DynamicLib, LoadsByNameAndUnloadsOnDestruction)
{
    const CLogH log = debugLog();
    kit::StdoutCapture capture;
    {
        CDynamicLibH library(kFullLibrary.c_str(), &log);
        EXPECT_TRUE(library.isLoaded());
        EXPECT_EQ(library.procCacheSize(), 0u);
    }
    EXPECT_EQ(capture.lines(), (Lines{
                                   "Host: DEBUG: CDynamicLibH: \"constructor\" called.",
                                   "Host: DEBUG: CDynamicLibH: \"init\" called.",
                                   "Host: DEBUG: CDynamicLibH: \"load\" called.",
                                   "Host: DEBUG: CDynamicLibH: " + kFullLibrary + " library loaded.",
                                   "Host: DEBUG: CDynamicLibH: \"destructor\" called.",
                                   "Host: DEBUG: CDynamicLibH: \"unload\" called.",
                               }));
    // The handle worked on its own copy of the logger.
    EXPECT_EQ(log.debugCategory, 0u);
}

TEST(DynamicLib, LoadedMessageOnlyWithDebugOn)
{
    CLogH log = debugLog();
    log.debugLevel = 1;  // another category, below the threshold
    kit::StdoutCapture capture;
    CDynamicLibH library(kFullLibrary.c_str(), &log);
    EXPECT_TRUE(library.isLoaded());
    EXPECT_EQ(capture.text(), "");
}

TEST(DynamicLib, MissingEntryPointIsLookedUpOnce)
{
    const CLogH log = debugLog();
    CDynamicLibH library(kNoExitLibrary.c_str(), &log);
    kit::StdoutCapture capture;
    EXPECT_EQ(library.getProcAddrCached("calib_exit", 3), nullptr);
    EXPECT_EQ(library.getProcAddrCached("calib_exit", 3), nullptr);
    EXPECT_EQ(capture.lines(), (Lines{kCached, kLookUp, kCached}));

    // Slot 3 on an empty cache grows it to four entries; 0..2 stay unresolved.
    ASSERT_EQ(library.procCacheSize(), 4u);
    for (std::size_t slot = 0; slot < 3; ++slot) {
        EXPECT_EQ(library.procSlot(slot).address, nullptr);
        EXPECT_EQ(library.procSlot(slot).lookedUp, 0u);
    }
    EXPECT_EQ(library.procSlot(3).lookedUp, 1u);
}

TEST(DynamicLib, FoundEntryPointComesFromTheCacheBySlot)
{
    const CLogH log = debugLog();
    CDynamicLibH library(kFullLibrary.c_str(), &log);
    const auto direct = library.getProcAddr("calib_init");
    ASSERT_NE(direct, nullptr);
    kit::StdoutCapture capture;
    EXPECT_EQ(library.getProcAddrCached("calib_init", 0), direct);
    // The slot alone is the key: the name matters only at the first look-up.
    EXPECT_EQ(library.getProcAddrCached("calib_exit", 0), direct);
    EXPECT_EQ(capture.lines(), (Lines{kCached, kLookUp, kCached}));
    EXPECT_EQ(library.procCacheSize(), 1u);
    EXPECT_NE(library.getProcAddr("calib_exit"), direct);
}

TEST(DynamicLib, SecondLoadIsRefusedAndChangesNothing)
{
    const CLogH log = debugLog();
    CDynamicLibH library(kNoExitLibrary.c_str(), &log);
    library.getProcAddrCached("calib_exit", 3);
    kit::StdoutCapture capture;
    EXPECT_FALSE(library.load(kFullLibrary.c_str()));
    EXPECT_EQ(capture.lines(), (Lines{"Host: DEBUG: CDynamicLibH: \"load\" called."}));
    EXPECT_TRUE(library.isLoaded());
    EXPECT_EQ(library.procCacheSize(), 4u);
    EXPECT_EQ(library.procSlot(3).lookedUp, 1u);
    // Still the first library, which has no calib_exit.
    EXPECT_EQ(library.getProcAddr("calib_exit"), nullptr);
}

TEST(DynamicLib, UnloadWithoutLibraryAndLookUpsWithoutOne)
{
    const CLogH log = debugLog();
    kit::StdoutCapture capture;
    CDynamicLibH library(nullptr, &log);
    EXPECT_TRUE(library.unload());
    EXPECT_FALSE(library.isLoaded());
    EXPECT_EQ(library.getProcAddrCached("calib_init", 0), nullptr);
    EXPECT_EQ(library.getProcAddr("calib_init"), nullptr);
    EXPECT_EQ(library.procCacheSize(), 0u);
    EXPECT_EQ(capture.lines(), (Lines{
                                   "Host: DEBUG: CDynamicLibH: \"constructor\" called.",
                                   "Host: DEBUG: CDynamicLibH: \"init\" called.",
                                   "Host: DEBUG: CDynamicLibH: \"unload\" called.",
                                   kCached,
                                   kNotLoaded,
                                   kLookUp,
                                   kNotLoaded,
                               }));
}

TEST(DynamicLib, UnloadForgetsEverySlot)
{
    const CLogH log = debugLog();
    CDynamicLibH library(kFullLibrary.c_str(), &log);
    const auto first = library.getProcAddrCached("calib_evaluate", 1);
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(library.unload());
    EXPECT_FALSE(library.isLoaded());
    EXPECT_EQ(library.procCacheSize(), 0u);
    ASSERT_TRUE(library.load(kFullLibrary.c_str()));
    kit::StdoutCapture capture;
    EXPECT_NE(library.getProcAddrCached("calib_evaluate", 1), nullptr);
    EXPECT_EQ(capture.lines(), (Lines{kCached, kLookUp}));
}

TEST(DynamicLib, UnloadableNameLeavesAHandleWithoutLibrary)
{
    const CLogH log = debugLog();
    kit::StdoutCapture capture;
    CDynamicLibH library(kMissingLibrary, &log);
    EXPECT_FALSE(library.isLoaded());
    EXPECT_EQ(library.getProcAddrCached("calib_init", 0), nullptr);
    EXPECT_EQ(library.getProcAddrCached("calib_init", 0), nullptr);
    EXPECT_EQ(capture.lines(), (Lines{
                                   "Host: DEBUG: CDynamicLibH: \"constructor\" called.",
                                   "Host: DEBUG: CDynamicLibH: \"init\" called.",
                                   "Host: DEBUG: CDynamicLibH: \"load\" called.",
                                   std::string("Host: ERROR: CDynamicLibH: Can not load the library ") +
                                       kMissingLibrary,
                                   kCached,
                                   kNotLoaded,
                                   kCached,
                                   kNotLoaded,
                               }));
    // Ready for another load.
    EXPECT_TRUE(library.load(kFullLibrary.c_str()));
}

TEST(DynamicLib, EmptyOrMissingName)
{
    CLogH log = debugLog();
    log.debugLevel = 0;
    kit::StdoutCapture capture;
    CDynamicLibH library("", &log);
    EXPECT_FALSE(library.load(nullptr));
    EXPECT_FALSE(library.isLoaded());
    EXPECT_EQ(capture.lines(), (Lines{"Host: ERROR: CDynamicLibH: Library name is empty.",
                                      "Host: ERROR: CDynamicLibH: Library name is empty."}));
}

TEST(DynamicLib, NotEvenTheLibrarysNameWithTheLoggerOff)
{
    CLogH log = debugLog();
    log.enabled = 0;
    kit::StdoutCapture capture;
    CDynamicLibH library(kMissingLibrary, &log);
    EXPECT_EQ(library.getProcAddrCached("calib_init", 0), nullptr);
    EXPECT_EQ(capture.lines(), Lines{});
}

TEST(DynamicLib, DefaultLoggerIsNamedAfterTheClass)
{
    kit::StdoutCapture capture;
    CDynamicLibH library(kMissingLibrary, nullptr);
    const Lines lines = capture.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(std::regex_match(
        lines[0], std::regex(".* CDynamicLibH\\[[0-9]+\\]: ERROR: CDynamicLibH: Can not load the library "
                             "vantrel_missing_library")))
        << lines[0];
}

TEST(DynamicLib, SlotNumberOutOfRangeIsRefused)
{
    CLogH log = debugLog();
    log.debugLevel = 0;
    CDynamicLibH library(kFullLibrary.c_str(), &log);
    kit::StdoutCapture capture;
    EXPECT_EQ(library.getProcAddrCached("calib_init", 0xFFFFFFFFu), nullptr);
    EXPECT_EQ(library.getProcAddrCached("calib_init", CDynamicLibH::kMaxSlots), nullptr);
    EXPECT_EQ(library.procCacheSize(), 0u);
    EXPECT_NE(library.getProcAddrCached("calib_init", CDynamicLibH::kMaxSlots - 1), nullptr);
    EXPECT_EQ(library.procCacheSize(), CDynamicLibH::kMaxSlots);
    EXPECT_EQ(capture.lines(), (Lines{"Host: ERROR: CDynamicLibH: Slot number out of range.",
                                      "Host: ERROR: CDynamicLibH: Slot number out of range."}));
}

}  // namespace
