#pragma once
// Host side of the test kit: what a program wrote into a file, whole and by
// lines.
#include <string>
#include <vector>

namespace kit {

// The whole file; empty when it is missing.
std::string contentOf(const std::string& path);

// The lines of a text, without their line ends.
std::vector<std::string> linesOf(const std::string& text);

}  // namespace kit
