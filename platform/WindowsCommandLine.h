#pragma once
// The command line that CreateProcess hands to a Windows program, made from
// an argument vector so that the program's C runtime (and
// CommandLineToArgvW) splits it into exactly those arguments again. A pure
// function, so that its rules are checked on every target.
#include <string>
#include <vector>

namespace platform {

// Each argument as it must stand in a command line: as it is when it is not
// empty and holds no blank, tab, line feed, vertical tab or double quote;
// otherwise in double quotes, with every double quote escaped by a backslash
// and the backslashes before a double quote (or before the closing one)
// doubled.
std::string quoteWindowsArgument(const std::string& argument);

// The arguments, each quoted, separated by one blank.
std::string windowsCommandLine(const std::vector<std::string>& arguments);

}  // namespace platform
