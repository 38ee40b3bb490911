#pragma once
// A position-distortion table: a regular grid of measured positions, each
// node carrying the true position measured there. Positions inside the grid
// are corrected by trilinear interpolation of the nodes' true positions.
#include <cstddef>
#include <string>
#include <vector>

#include "vantrel/TrackerPose.h"

class GridTable {
public:
    // Largest number of nodes along one axis and in all.
    static constexpr long kMaxAxisNodes = 1000;
    static constexpr long kMaxNodes = 1000000;

    // Reads the table file. On any problem writes one message naming the
    // file and line to standard output and returns false.
    bool load(const char* path);

    // Replaces x, y and z by the corrected position when the position lies
    // inside the grid (its faces included); otherwise leaves the pose as it
    // is. Allocates nothing.
    void correct(TrackerPose& pose) const;

    long nodeCount() const { return size_[0] * size_[1] * size_[2]; }
    long size(int axis) const { return size_[axis]; }

private:
    bool parseLine(const std::vector<std::string>& words, std::string& problem);
    bool parseHeader(const std::vector<std::string>& words, double* values, std::string& problem) const;
    bool parseNode(const std::vector<std::string>& words, std::string& problem);
    bool cellOf(int axis, double value, long& cell, double& fraction) const;
    std::size_t nodeIndex(long i, long j, long k) const
    {
        return static_cast<std::size_t>((k * size_[1] + j) * size_[0] + i);
    }

    long size_[3] = {0, 0, 0};
    double origin_[3] = {0.0, 0.0, 0.0};
    double spacing_[3] = {0.0, 0.0, 0.0};
    bool originSet_ = false;
    bool spacingSet_ = false;
    // Three floats (true x, y, z) per node, x index running fastest.
    std::vector<float> nodes_;
    // Line of each node in the file, 0 while it has not been given.
    std::vector<long> nodeLines_;
    long lineNumber_ = 0;
};
