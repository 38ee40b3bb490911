// The command line that the Windows host hands to CreateProcess for the plot
// script: each argument comes back whole under the C runtime's splitting
// rules (the examples of its documentation, read backwards).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/WindowsCommandLine.h"

namespace {

TEST(WindowsCommandLine, EveryArgumentIsSplitOffWhole)
{
    using platform::quoteWindowsArgument;
    // Left as they are: nothing that the rules would take apart.
    EXPECT_EQ(quoteWindowsArgument("plot.py"), "plot.py");
    EXPECT_EQ(quoteWindowsArgument("a\\\\\\b"), "a\\\\\\b");
    EXPECT_EQ(quoteWindowsArgument("p$(x)&y.png"), "p$(x)&y.png");
    // Quoted: blanks, tabs, empty words.
    EXPECT_EQ(quoteWindowsArgument("a b c"), "\"a b c\"");
    EXPECT_EQ(quoteWindowsArgument("a\tb"), "\"a\tb\"");
    EXPECT_EQ(quoteWindowsArgument(""), "\"\"");
    // A double quote escaped, the backslashes before it doubled.
    EXPECT_EQ(quoteWindowsArgument("ab\"c"), "\"ab\\\"c\"");
    EXPECT_EQ(quoteWindowsArgument("a\\\"b"), "\"a\\\\\\\"b\"");
    // Backslashes elsewhere stay single, before the closing quote doubled.
    EXPECT_EQ(quoteWindowsArgument("a\\\\b c"), "\"a\\\\b c\"");
    EXPECT_EQ(quoteWindowsArgument("C:\\Program Files\\rec\\"), "\"C:\\Program Files\\rec\\\\\"");

    EXPECT_EQ(platform::windowsCommandLine({"C:\\Python\\python.exe", "C:\\my plots\\plot.py", "r.jsonl", "a \"b\".png"}),
              "C:\\Python\\python.exe \"C:\\my plots\\plot.py\" r.jsonl \"a \\\"b\\\".png\"");
}

}  // namespace
