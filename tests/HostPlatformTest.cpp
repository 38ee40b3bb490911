// What the host programs ask of the system beyond the module's interface:
// a program started without a shell gets each argument whole, and its
// messages come back (natively through posix_spawn, on Windows through
// CreateProcess and the C runtime's splitting of its command line).
#include <gtest/gtest.h>

#include <string>

#include "platform/HostPlatform.h"

namespace {

TEST(HostPlatform, AProgramGetsEveryArgumentWhole)
{
    const platform::ProgramRun run = platform::runProgram(
        {VANTREL_ARGUMENT_ECHO, "two words", "a \"quote\"", "back\\slash\\", "", "p$(touch x).png", "%PATH%"});
    ASSERT_TRUE(run.started) << run.errors;
    EXPECT_EQ(run.exitCode, 6);
    // Each argument on its own line; its standard output is not among them.
    std::string errors = run.errors;
    for (std::size_t at = errors.find("\r\n"); at != std::string::npos; at = errors.find("\r\n", at)) {
        errors.erase(at, 1);
    }
    EXPECT_EQ(errors, "two words\na \"quote\"\nback\\slash\\\n\np$(touch x).png\n%PATH%\n");

    const platform::ProgramRun missing = platform::runProgram({"vantrel-no-such-program"});
    EXPECT_FALSE(missing.started);
    EXPECT_FALSE(missing.errors.empty());
}

}  // namespace
