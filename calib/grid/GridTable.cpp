#include "calib/grid/GridTable.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <locale>
#include <sstream>

namespace {

const char* const kAxisNames[3] = {"x", "y", "z"};

bool sameWord(const std::string& word, const char* keyword)
{
    std::size_t i = 0;
    for (; i < word.size() && keyword[i] != '\0'; ++i) {
        if (std::tolower(static_cast<unsigned char>(word[i])) != keyword[i]) {
            return false;
        }
    }
    return i == word.size() && keyword[i] == '\0';
}

// The words of one line, without its comment ('#' to the end).
std::vector<std::string> splitWords(const std::string& line)
{
    std::vector<std::string> words;
    std::string word;
    for (char c : line) {
        if (c == '#') {
            break;
        }
        if (std::isspace(static_cast<unsigned char>(c)) != 0) {
            if (!word.empty()) {
                words.push_back(word);
                word.clear();
            }
        } else {
            word += c;
        }
    }
    if (!word.empty()) {
        words.push_back(word);
    }
    return words;
}

// A whole word as a finite decimal number, '.' as the decimal point whatever
// the process's locale.
bool parseNumber(const std::string& word, double& value)
{
    std::istringstream in(word);
    in.imbue(std::locale::classic());
    in >> value;
    return !in.fail() && in.get() == std::char_traits<char>::eof() && std::isfinite(value);
}

bool parseWhole(const std::string& word, long& value)
{
    std::istringstream in(word);
    in.imbue(std::locale::classic());
    in >> value;
    return !in.fail() && in.get() == std::char_traits<char>::eof();
}

}  // namespace

bool GridTable::load(const char* path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        std::printf("GridCalib: %s: can not open the table file.\n", path);
        std::fflush(stdout);
        return false;
    }
    std::string line;
    std::string problem;
    lineNumber_ = 0;
    while (std::getline(file, line)) {
        ++lineNumber_;
        const std::vector<std::string> words = splitWords(line);
        if (!words.empty() && !parseLine(words, problem)) {
            std::printf("GridCalib: %s, line %ld: %s.\n", path, lineNumber_, problem.c_str());
            std::fflush(stdout);
            return false;
        }
    }
    if (nodes_.empty()) {
        problem = "no grid nodes in the table";
    }
    for (long k = 0; problem.empty() && k < size_[2]; ++k) {
        for (long j = 0; problem.empty() && j < size_[1]; ++j) {
            for (long i = 0; problem.empty() && i < size_[0]; ++i) {
                if (nodeLines_[nodeIndex(i, j, k)] == 0) {
                    problem = "node " + std::to_string(i) + " " + std::to_string(j) + " " + std::to_string(k) +
                              " is missing";
                }
            }
        }
    }
    if (!problem.empty()) {
        std::printf("GridCalib: %s, line %ld (end of table): %s.\n", path, lineNumber_ + 1, problem.c_str());
        std::fflush(stdout);
        return false;
    }
    std::printf("GridCalib: %s: %ld x %ld x %ld grid loaded.\n", path, size_[0], size_[1], size_[2]);
    std::fflush(stdout);
    return true;
}

bool GridTable::parseLine(const std::vector<std::string>& words, std::string& problem)
{
    const bool isGrid = sameWord(words[0], "grid");
    const bool isOrigin = sameWord(words[0], "origin");
    const bool isSpacing = sameWord(words[0], "spacing");
    if (!isGrid && !isOrigin && !isSpacing) {
        return parseNode(words, problem);
    }
    if (!nodes_.empty()) {
        problem = "\"" + words[0] + "\" after the first node";
        return false;
    }
    if ((isGrid && size_[0] != 0) || (isOrigin && originSet_) || (isSpacing && spacingSet_)) {
        problem = "\"" + words[0] + "\" given twice";
        return false;
    }
    double values[3];
    if (!parseHeader(words, values, problem)) {
        return false;
    }
    for (int axis = 0; axis < 3; ++axis) {
        if (isGrid) {
            long count = 0;
            if (!parseWhole(words[axis + 1], count) || count < 2 || count > kMaxAxisNodes) {
                problem = "the grid size along " + std::string(kAxisNames[axis]) +
                          " must be a whole number from 2 to " + std::to_string(kMaxAxisNodes);
                return false;
            }
            size_[axis] = count;
        } else if (isOrigin) {
            origin_[axis] = values[axis];
        } else if (!(values[axis] > 0.0)) {
            problem = "the spacing along " + std::string(kAxisNames[axis]) + " must be positive";
            return false;
        } else {
            spacing_[axis] = values[axis];
        }
    }
    if (isGrid && nodeCount() > kMaxNodes) {
        problem = "more than " + std::to_string(kMaxNodes) + " grid nodes";
        size_[0] = size_[1] = size_[2] = 0;
        return false;
    }
    originSet_ = originSet_ || isOrigin;
    spacingSet_ = spacingSet_ || isSpacing;
    return true;
}

bool GridTable::parseHeader(const std::vector<std::string>& words, double* values, std::string& problem) const
{
    if (words.size() != 4) {
        problem = "\"" + words[0] + "\" needs three values";
        return false;
    }
    for (int axis = 0; axis < 3; ++axis) {
        if (!parseNumber(words[axis + 1], values[axis])) {
            problem = "\"" + words[axis + 1] + "\" is not a number";
            return false;
        }
    }
    return true;
}

bool GridTable::parseNode(const std::vector<std::string>& words, std::string& problem)
{
    if (size_[0] == 0 || !originSet_ || !spacingSet_) {
        problem = "a node before the grid, origin and spacing lines";
        return false;
    }
    if (words.size() != 6) {
        problem = "a node needs six values: i j k and the true x y z";
        return false;
    }
    long index[3];
    for (int axis = 0; axis < 3; ++axis) {
        if (!parseWhole(words[axis], index[axis]) || index[axis] < 0 || index[axis] >= size_[axis]) {
            problem = "node index \"" + words[axis] + "\" along " + kAxisNames[axis] +
                      " is not a whole number from 0 to " + std::to_string(size_[axis] - 1);
            return false;
        }
    }
    double truePosition[3];
    for (int axis = 0; axis < 3; ++axis) {
        if (!parseNumber(words[axis + 3], truePosition[axis])) {
            problem = "\"" + words[axis + 3] + "\" is not a number";
            return false;
        }
    }
    if (nodes_.empty()) {
        nodes_.assign(static_cast<std::size_t>(nodeCount()) * 3, 0.0f);
        nodeLines_.assign(static_cast<std::size_t>(nodeCount()), 0);
    }
    const std::size_t node = nodeIndex(index[0], index[1], index[2]);
    if (nodeLines_[node] != 0) {
        problem = "node " + words[0] + " " + words[1] + " " + words[2] + " given twice (first at line " +
                  std::to_string(nodeLines_[node]) + ")";
        return false;
    }
    nodeLines_[node] = lineNumber_;
    for (int axis = 0; axis < 3; ++axis) {
        nodes_[node * 3 + static_cast<std::size_t>(axis)] = static_cast<float>(truePosition[axis]);
    }
    return true;
}

bool GridTable::cellOf(int axis, double value, long& cell, double& fraction) const
{
    const double position = (value - origin_[axis]) / spacing_[axis];
    const double last = static_cast<double>(size_[axis] - 1);
    // Also false for NaN.
    if (!(position >= 0.0 && position <= last)) {
        return false;
    }
    cell = position >= last - 1.0 ? size_[axis] - 2 : static_cast<long>(position);
    fraction = position - static_cast<double>(cell);
    return true;
}

void GridTable::correct(TrackerPose& pose) const
{
    long cell[3];
    double fraction[3];
    if (nodes_.empty() || !cellOf(0, pose.x, cell[0], fraction[0]) || !cellOf(1, pose.y, cell[1], fraction[1]) ||
        !cellOf(2, pose.z, cell[2], fraction[2])) {
        return;
    }
    double corrected[3] = {0.0, 0.0, 0.0};
    for (int corner = 0; corner < 8; ++corner) {
        const long di = corner & 1;
        const long dj = (corner >> 1) & 1;
        const long dk = (corner >> 2) & 1;
        const double weight = (di != 0 ? fraction[0] : 1.0 - fraction[0]) *
                              (dj != 0 ? fraction[1] : 1.0 - fraction[1]) *
                              (dk != 0 ? fraction[2] : 1.0 - fraction[2]);
        const float* node = &nodes_[nodeIndex(cell[0] + di, cell[1] + dj, cell[2] + dk) * 3];
        for (int axis = 0; axis < 3; ++axis) {
            corrected[axis] += weight * static_cast<double>(node[axis]);
        }
    }
    pose.x = static_cast<float>(corrected[0]);
    pose.y = static_cast<float>(corrected[1]);
    pose.z = static_cast<float>(corrected[2]);
}
